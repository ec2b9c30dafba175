// The pack builder: finding the region in a program image, the files it refuses, the order it
// chooses, and patches that extract back to the files they were built from.
#include <gtest/gtest.h>

#include "payload/extract.h"
#include "payload/stamp.h"
#include "platform/platform.h"
#include "tests/payload_test_support.h"
#include "tests/test_support.h"

using namespace testing_support;

namespace {

using payload::FindResult;
using payload::PackFile;

PackFile file(const std::string& name, const std::string& content) {
    return {name, std::vector<std::uint8_t>(content.begin(), content.end())};
}

// A program image: some bytes, the region, some more (with a stray "End" and "Begin" in them).
std::vector<std::uint8_t> image_with_region(std::size_t before) {
    std::string head = pattern(before) + "Begin..End";
    std::vector<std::uint8_t> image(head.begin(), head.end());
    image.resize(before);
    std::vector<std::uint8_t> region = template_region();
    image.insert(image.end(), region.begin(), region.end());
    const char tail[] = "End\0Begin\0";
    image.insert(image.end(), tail, tail + sizeof tail);
    return image;
}

std::span<std::uint8_t> region_at(std::vector<std::uint8_t>& image, std::size_t offset) {
    return {image.data() + offset, payload::kRegionBytes};
}

TEST(PackFind, FindsTheTemplateAndTheStampedRegionAtAnyOffset) {
    for (std::size_t before : {std::size_t{0}, std::size_t{1}, std::size_t{4099}}) {
        SCOPED_TRACE(before);
        std::vector<std::uint8_t> image = image_with_region(before);
        std::size_t at = 99;
        ASSERT_EQ(payload::find_template_region(image, &at), FindResult::Found);
        EXPECT_EQ(at, before);
        ASSERT_FALSE(payload::stamp_region(region_at(image, at), {file("patch.ini", "[work]")}).failed());
        EXPECT_EQ(payload::find_template_region(image, &at), FindResult::NotFound);
        at = 99;
        ASSERT_EQ(payload::find_region(image, &at), FindResult::Found);
        EXPECT_EQ(at, before);
    }
}

TEST(PackFind, RefusesImagesWithoutOrWithTwoRegions) {
    std::size_t at = 0;
    std::vector<std::uint8_t> image = image_with_region(10);
    image[10 + 5000] = 'x';  // a template whose fill is broken is no template
    EXPECT_EQ(payload::find_template_region(image, &at), FindResult::NotFound);
    std::vector<std::uint8_t> small(1000, '.');
    EXPECT_EQ(payload::find_template_region(small, &at), FindResult::NotFound);
    EXPECT_EQ(payload::find_region(small, &at), FindResult::NotFound);

    std::vector<std::uint8_t> two = image_with_region(3);
    std::vector<std::uint8_t> second = template_region();
    two.insert(two.end(), second.begin(), second.end());
    EXPECT_EQ(payload::find_template_region(two, &at), FindResult::Ambiguous);
}

TEST(PackBuild, RefusesWhatTheInstallerWouldNotUnpackAndLeavesTheTemplateAlone) {
    struct Case {
        std::vector<PackFile> files;
        std::string message_part;
    } cases[] = {
        {{}, "no files"},
        {{file("a\\b.txt", "x")}, "refuse this name"},
        {{file(".hidden", "x")}, "refuse this name"},
        {{file("twentycharacters.txt", "x")}, "refuse this name"},
        {{file("nul.txt", "x")}, "refuse this name"},
        {{file("Patch.ini", "x"), file("data.mul", "y"), file("PATCH.INI", "z")}, "two files of this name"},
        {{file("Beginner.txt", "x"), file("Begin", "y")}, "begins with \"Begin\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message_part);
        std::vector<std::uint8_t> region = template_region();
        Result r = payload::stamp_region(region, c.files);
        EXPECT_TRUE(r.failed());
        EXPECT_NE(r.problem.find(c.message_part), std::string::npos) << r.problem;
        EXPECT_EQ(region, template_region());
    }
}

TEST(PackBuild, SaysByHowManyBytesTheFilesDoNotFit) {
    // Header 24 + contents + the closing '.' against the room in front of "End".
    std::size_t room = payload::kEntryCapacity;
    std::vector<std::uint8_t> region = template_region();
    std::vector<PackFile> files = {file("a.bin", std::string(room - 43, 'a')), file("b.bin", "")};
    Result r = payload::stamp_region(region, files);
    EXPECT_TRUE(r.failed());
    EXPECT_NE(r.problem.find(", 6 bytes more than"), std::string::npos) << r.problem;
    files.pop_back();
    files[0].content.resize(room - 25);  // exactly full
    ASSERT_FALSE(payload::stamp_region(region, files).failed());
    EXPECT_EQ(region[room - 1], '.');
    EXPECT_EQ(std::string(region.end() - 4, region.end()), std::string("End\0", 4));
}

TEST(PackBuild, NeverMakesARegionThatLooksUnstamped) {
    std::vector<std::uint8_t> region = template_region();
    ASSERT_FALSE(payload::stamp_region(region, {file("Beginner.txt", "1"), file("b.txt", "2"), file("c.txt", "3")}).failed());
    EXPECT_TRUE(payload::holds_patch(region));
    payload::EntryView e;
    std::vector<std::string> order;
    for (std::size_t at = 0; payload::read_entry(region, at, &e) == payload::EntryStatus::Entry; at = e.next_offset)
        order.push_back(e.name);
    EXPECT_EQ(order, (std::vector<std::string>{"b.txt", "Beginner.txt", "c.txt"}));
}

TEST(PackBuild, SameInputsGiveTheSameBytes) {
    std::vector<PackFile> files = {file("patch.ini", "[work]\r\n"), file("patch.mul", pattern(30000))};
    std::vector<std::uint8_t> one = template_region(), two = template_region();
    ASSERT_FALSE(payload::stamp_region(one, files).failed());
    ASSERT_FALSE(payload::stamp_region(two, files).failed());
    EXPECT_EQ(one, two);
    // Name fields are padded with NULs, not with whatever the buffer held.
    EXPECT_EQ(std::string(one.begin(), one.begin() + 20), std::string("patch.ini\0\0\0\0\0\0\0\0\0\0\0", 20));
}

class PackRoundTrip : public CoreTest {
protected:
    TempDir dir;
};

TEST_F(PackRoundTrip, ExtractionGivesBackEveryFile) {
    std::vector<PackFile> files = {file("patch.ini", "[work]\r\n0 new.dat hero\r\n"), file("patch.dat", ""),
                                   file("patch.mul", pattern(10240 * 3 + 7, 3)), file("DRAVO.EXE", pattern(10241, 4))};
    std::vector<std::uint8_t> image = image_with_region(777);
    std::size_t at = 0;
    ASSERT_EQ(payload::find_template_region(image, &at), FindResult::Found);
    ASSERT_FALSE(payload::stamp_region(region_at(image, at), files).failed());
    ASSERT_EQ(payload::find_region(image, &at), FindResult::Found);
    Result unpacked = payload::extract_payload(region_at(image, at), dir.path().c_str());
    ASSERT_FALSE(unpacked.failed()) << unpacked.problem;
    for (const PackFile& f : files)
        EXPECT_EQ(read_file(dir.file(f.name)), std::string(f.content.begin(), f.content.end())) << f.name;
}

}  // namespace
