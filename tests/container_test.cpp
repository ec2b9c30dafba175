// Container members through XFile handles: open, create, the header written back on close,
// and the refusals for damaged or full containers.
#include <gtest/gtest.h>

#include <cstring>

#include "config/config.h"
#include "config/file_table.h"
#include "xfile/records.h"
#include "base/little_endian.h"
#include "tests/container_builder.h"
#include "tests/test_support.h"
#include "xfile/container.h"

using namespace testing_support;

namespace {

class Containers : public CoreTest {
protected:
    TempDir dir;
    std::string container;
    std::string buf;
    void SetUp() override {
        CoreTest::SetUp();
        container = dir.file("dravo.mul");
        write_file(dir.file("Dravo.ini"), "[path]\nhero                " + dir.path() +
                                              "\nmap                 " + dir.path() +
                                              "\nnewbie              " + dir.path() + "\n");
        ASSERT_EQ(config::read_configuration(dir.file("Dravo.ini").c_str(), config::ConfigMode::Game), 1);
        for (const char* n : {"hero", "map", "newbie"}) {
            config::TableRecord r{};
            std::strcpy(r.name, n);
            std::strcpy(r.container, "dravo.mul");
            config::apply_record(r);
        }
    }
    char* name(const char* n) {
        buf = n;
        return buf.data();
    }
};

TEST_F(Containers, MemberReadsStayWithinTheMember) {
    write_file(container, make_container({{"hero", "HEROHERO"}, {"map", "MAPDATA"}}));
    XFileHandle* h = nullptr;
    ASSERT_EQ(xfile_open(name("HERO"), kXModeRead, &h), kXOk);
    EXPECT_EQ(h->base, kContainerHeaderSize);
    EXPECT_EQ(xfile_size(h), 8);
    char data[32] = {};
    EXPECT_EQ(xfile_read(h, data, 32), 8);
    EXPECT_EQ(std::string(data, 8), "HEROHERO");
    EXPECT_EQ(xfile_read(h, data, 32), 0);
    EXPECT_EQ(xfile_seek(h, 100, 0), 100);  // past the member's end: reads give nothing
    EXPECT_EQ(xfile_read(h, data, 32), 0);
    xfile_close(h);
    ASSERT_EQ(xfile_open(name("map"), kXModeRead, &h), kXOk);
    EXPECT_EQ(xfile_seek(h, 3, 0), 3);
    EXPECT_EQ(xfile_read(h, data, 32), 4);
    EXPECT_EQ(std::string(data, 4), "DATA");
    xfile_close(h);
}

TEST_F(Containers, MemberOpenRefusals) {
    write_file(container, make_container({{"hero", "x"}, {"Map", "y"}}));
    XFileHandle* a = nullptr;
    XFileHandle* b = nullptr;
    EXPECT_EQ(xfile_open(name("map"), kXModeRead, &a), kXNoSuchMember);  // stored as "Map"
    ASSERT_EQ(xfile_open(name("hero"), kXModeRead, &a), kXOk);
    EXPECT_EQ(xfile_open(name("hero"), kXModeRead, &b), kXAlreadyOpen);
    xfile_close(a);
    xfile::reset_xfile();
    write_file(container, std::string(kContainerHeaderSize - 1, '\0'));
    EXPECT_EQ(xfile_open(name("hero"), kXModeRead, &a), kXNotOpen);
}

TEST_F(Containers, EntriesPointingOutsideTheFileAreRefused) {
    std::string file = make_container({{"hero", "abc"}, {"map", "def"}});
    le::put32s(reinterpret_cast<std::uint8_t*>(&file[kContainerDirectoryOffset + 32]), 1 << 30);
    le::put32s(reinterpret_cast<std::uint8_t*>(&file[kContainerDirectoryOffset + kContainerEntrySize + 40]), -5);
    write_file(container, file);
    XFileHandle* h = nullptr;
    EXPECT_EQ(xfile_open(name("hero"), kXModeRead, &h), kXNotOpen);
    EXPECT_EQ(xfile_open(name("map"), kXModeRead, &h), kXNotOpen);
}

TEST_F(Containers, CreatedMemberIsAppendedAndItsEntryWrittenOnClose) {
    std::string original = make_container({{"hero", std::string(10, 'h')}});
    write_file(container, original);
    XFileHandle* h = nullptr;
    ASSERT_EQ(xfile_create(name("newbie"), kXModeCreate, &h, "", 2), kXOk);
    EXPECT_EQ(h->base, static_cast<std::int32_t>(original.size()));
    EXPECT_EQ(h->size, 0);
    EXPECT_EQ(xfile_write(h, std::string(100, 'n').data(), 100), 100);
    EXPECT_NE(xfile_close(h), 0);
    xfile::reset_xfile();
    std::string file = read_file(container);
    ASSERT_EQ(file.size(), original.size() + 100);
    EntryOnDisk e = entry_on_disk(file, 1);
    EXPECT_EQ(e.name, "newbie");
    EXPECT_EQ(e.size, 100);
    EXPECT_EQ(e.offset, static_cast<std::int32_t>(original.size()));
    EXPECT_EQ(e.attribute, 2);
    EXPECT_EQ(entry_on_disk(file, 0).name, "hero");
}

TEST_F(Containers, RunTimeFieldsReachTheDiskAsZero) {
    write_file(container, make_container({{"hero", "abc"}}));
    XFileHandle* h = nullptr;
    ASSERT_EQ(xfile_create(name("newbie"), kXModeCreate, &h, "", 2), kXOk);
    xfile_write(h, "x", 1);
    xfile_close(h);
    xfile::reset_xfile();
    std::string file = read_file(container);
    for (int off = 20; off < 344; ++off) {
        if (off < 324 || off >= 328) {
            ASSERT_EQ(file[off], '\0') << "header byte " << off;
        }
    }
    for (int i = 0; i < 2; ++i) {
        const char* e = &file[kContainerDirectoryOffset + i * kContainerEntrySize];
        for (int off : {20, 24, 28, 36, 44, 48})
            for (int k = 0; k < 4 && off + k < 52; ++k)
                if (!(off == 44 && k >= 2)) {
                    ASSERT_EQ(e[off + k], '\0') << "entry " << i << " byte " << off + k;
                }
    }
}

TEST_F(Containers, CreateMakesAnEmptyContainerWhenNoneOrAShortOneIsThere) {
    write_file(container, "too short");
    XFileHandle* h = nullptr;
    char path[300];
    std::strcpy(path, container.c_str());
    ASSERT_EQ(xfile_create(name("fresh"), kXModeCreate, &h, path, 2), kXOk);
    EXPECT_EQ(h->base, kContainerHeaderSize);
    xfile_write(h, "abc", 3);
    xfile_close(h);
    xfile::reset_xfile();
    std::string file = read_file(container);
    EXPECT_EQ(file.substr(0, 17), std::string(kContainerSignature, 17));
    EXPECT_EQ(entry_on_disk(file, 0).name, "fresh");
    EXPECT_EQ(file.substr(kContainerHeaderSize), "abc");
}

TEST_F(Containers, ASecondCreateStopsTheFirstMemberFromGrowing) {
    write_file(container, make_container({}));
    XFileHandle* first = nullptr;
    XFileHandle* second = nullptr;
    char path[300];
    std::strcpy(path, container.c_str());
    ASSERT_EQ(xfile_create(name("one"), kXModeCreate, &first, path, 2), kXOk);
    EXPECT_EQ(xfile_write(first, "aaaa", 4), 4);
    ASSERT_EQ(xfile_create(name("two"), kXModeCreate, &second, path, 2), kXOk);
    EXPECT_EQ(xfile_seek(first, 0, 0), 0);
    EXPECT_EQ(xfile_write(first, "bbbbbb", 6), 4);  // cut to its size
    xfile_close(first);
    xfile_close(second);
}

TEST_F(Containers, BusyFreeEntryEndsCreateWithANegativeCode) {
    write_file(container, make_container({{"", "", 2}}));  // a free entry marked busy
    XFileHandle* h = nullptr;
    EXPECT_LT(xfile_create(name("newbie"), kXModeCreate, &h, "", 2), 0);
    EXPECT_EQ(h, nullptr);
}

TEST_F(Containers, FiveHundredCreatesFillTheDirectory) {
    write_file(container, make_container({}));
    char path[300];
    for (int i = 0; i < kContainerMembers; ++i) {
        XFileHandle* h = nullptr;
        std::strcpy(path, container.c_str());
        std::string n = "m" + std::to_string(i);
        ASSERT_EQ(xfile_create(name(n.c_str()), kXModeCreate, &h, path, 2), kXOk) << i;
        xfile_close(h);
    }
    XFileHandle* h = nullptr;
    std::strcpy(path, container.c_str());
    EXPECT_EQ(xfile_create(name("m500"), kXModeCreate, &h, path, 2), kXNoFreeEntry);
}

}  // namespace
