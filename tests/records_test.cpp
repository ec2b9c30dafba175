// The table record files: 42-byte records that place logical names in containers.
#include <gtest/gtest.h>

#include <cstring>

#include "config/config.h"
#include "config/file_table.h"
#include "xfile/records.h"
#include "tests/test_support.h"

using namespace testing_support;

namespace {

std::string record(const std::string& name, const std::string& container, char cd_flag = 0) {
    std::string r(42, '\0');
    std::memcpy(&r[0], name.data(), std::min<std::size_t>(name.size(), 20));
    std::memcpy(&r[20], container.data(), std::min<std::size_t>(container.size(), 20));
    r[40] = 'u';  // not used by the installer
    r[41] = cd_flag;
    return r;
}

class RecordFiles : public CoreTest {
protected:
    TempDir dir;
    void SetUp() override {
        CoreTest::SetUp();
        write_file(dir.file("Dravo.ini"), "[path]\nhero                c:\\game\\\nmap                 c:\\game\\\n");
        ASSERT_EQ(config::read_configuration(dir.file("Dravo.ini").c_str(), config::ConfigMode::Game), 1);
    }
    int load(const std::string& bytes) {
        write_file(dir.file("records.dat"), bytes);
        return xfile::load_record_file(dir.file("records.dat").c_str());
    }
};

TEST_F(RecordFiles, EmptyAndShortFilesChangeNothingAndStillLoad) {
    EXPECT_EQ(load(""), 1);
    EXPECT_EQ(load(record("hero", "dravo.mul").substr(0, 41)), 1);
    EXPECT_STREQ(config::find_entry("hero")->container, "");
}

TEST_F(RecordFiles, RecordsCompleteTableEntriesAndNeverAddNames) {
    EXPECT_EQ(load(record("hero", "dravo.mul", 1) + record("HERO", "upper.mul") + record("stranger", "x.mul") +
                   record("map", "maps.mul") + "tail"),
              1);
    EXPECT_STREQ(config::find_entry("hero")->container, "dravo.mul");
    EXPECT_EQ(config::find_entry("hero")->cd_flag, 1);
    EXPECT_STREQ(config::find_entry("hero")->directory, "c:\\game\\");
    EXPECT_STREQ(config::find_entry("map")->container, "maps.mul");
    EXPECT_EQ(config::find_entry("stranger"), nullptr);
}

TEST_F(RecordFiles, ALaterFileOverridesAndUnterminatedNamesAreCut) {
    EXPECT_EQ(load(record("hero", "dravo.mul")), 1);
    EXPECT_EQ(load(record("hero", "patchpatchpatchpatchXX")), 1);
    EXPECT_STREQ(config::find_entry("hero")->container, "patchpatchpatchpatc");
}

// One record written out by hand: "hero", "dravo.mul", the unused byte and CD flag 1.
constexpr std::uint8_t kHandWritten[42] = {
    'h', 'e', 'r', 'o', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    'd', 'r', 'a', 'v', 'o', '.', 'm', 'u', 'l', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0x75, 0x01};

TEST(TableRecord, HandWrittenRecordDecodesAndEncodesBack) {
    xfile::TableRecord r = xfile::decode_record(kHandWritten);
    EXPECT_STREQ(r.name, "hero");
    EXPECT_STREQ(r.container, "dravo.mul");
    EXPECT_EQ(r.cd_flag, 1);
    std::uint8_t out[42];
    std::memset(out, 0xEE, sizeof out);
    xfile::encode_record(r, out);
    std::uint8_t expected[42];
    std::memcpy(expected, kHandWritten, sizeof expected);
    expected[40] = 0;  // the unused byte is not kept
    EXPECT_EQ(std::memcmp(out, expected, sizeof out), 0);
}

TEST(TableRecord, NamesWithoutAnEndAreCutAtNineteen) {
    std::uint8_t bytes[42];
    std::memset(bytes, 'x', sizeof bytes);
    xfile::TableRecord r = xfile::decode_record(bytes);
    EXPECT_EQ(std::string(r.name), std::string(19, 'x'));
    EXPECT_EQ(std::string(r.container), std::string(19, 'x'));
    std::uint8_t out[42];
    xfile::encode_record(r, out);
    EXPECT_EQ(out[19], 0);
    EXPECT_EQ(out[39], 0);
}

TEST_F(RecordFiles, MissingFileGivesZero) {
    EXPECT_EQ(xfile::load_record_file(dir.file("absent.dat").c_str()), 0);
}

}  // namespace
