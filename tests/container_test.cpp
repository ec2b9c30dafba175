// Container members through XFile handles: open, create, the header written back on close,
// and the refusals for damaged or full containers.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "config/config.h"
#include "config/file_table.h"
#include "xfile/records.h"
#include "tests/container_builder.h"
#include "tests/test_support.h"
#include "xfile/container.h"
#include "xfile/container_format.h"

using namespace testing_support;
using container_format::ContainerEntry;
using container_format::ContainerHeader;

namespace {

std::span<const std::uint8_t> bytes_of(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

void put(std::string& image, std::size_t at, std::initializer_list<int> bytes) {
    for (int b : bytes) image[at++] = static_cast<char>(b);
}

// A header written out by hand, offsets and all: tag "01", both reserved fields, a member
// "hero" of 16 bytes behind the header with attribute 2, and in the second entry a name of all
// 20 bytes with no end, size 0x01020304, offset 0x7FFFFFF0 and attribute 0x0102. Run-time
// bytes of the second entry hold junk, which a decode ignores.
std::string hand_written_header() {
    std::string image(26344, '\0');
    put(image, 0, {'X', 'F', 'i', 'l', 'e', ' ', 'V', '1', '.', '0', ' ', 'D', 'S', ':', 'S', 'I', 0});
    put(image, 17, {'0', '1', 0});
    put(image, 324, {0x78, 0x56, 0x34, 0x12});
    put(image, 338, {0xCD, 0xAB});
    put(image, 344, {'h', 'e', 'r', 'o'});
    put(image, 344 + 32, {0x10, 0x00, 0x00, 0x00});
    put(image, 344 + 40, {0xE8, 0x66, 0x00, 0x00});  // 26344
    put(image, 344 + 46, {0x02, 0x00});
    put(image, 396, {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l', 'm', 'n', 'o', 'p', 'q', 'r', 's', 't'});
    put(image, 396 + 32, {0x04, 0x03, 0x02, 0x01});
    put(image, 396 + 40, {0xF0, 0xFF, 0xFF, 0x7F});
    put(image, 396 + 46, {0x02, 0x01});
    return image;
}

TEST(ContainerFormat, HandWrittenHeaderDecodesFieldByField) {
    std::string image = hand_written_header();
    put(image, 396 + 20, {0x55, 0x66});  // run-time junk
    std::optional<ContainerHeader> h = ContainerHeader::decode(bytes_of(image));
    ASSERT_TRUE(h);
    EXPECT_EQ(std::string(h->signature().data(), 16), "XFile V1.0 DS:SI");
    EXPECT_EQ(h->tag(), "01");
    EXPECT_EQ(h->reserved1(), 0x12345678u);
    EXPECT_EQ(h->reserved2(), 0xABCD);
    ContainerEntry hero = h->entry(0);
    EXPECT_EQ(hero.name_text(), "hero");
    EXPECT_TRUE(hero.name_terminated());
    EXPECT_EQ(hero.size, 16);
    EXPECT_EQ(hero.offset, 26344);
    EXPECT_EQ(hero.attribute, 2);
    ContainerEntry endless = h->entry(1);
    EXPECT_EQ(endless.name_text(), "abcdefghijklmnopqrst");
    EXPECT_FALSE(endless.name_terminated());
    EXPECT_EQ(endless.size, 0x01020304);
    EXPECT_EQ(endless.offset, 0x7FFFFFF0);
    EXPECT_EQ(endless.attribute, 0x0102);
    EXPECT_FALSE(h->entry(2).used());
    EXPECT_EQ(h->find_member("hero"), 0);
    EXPECT_EQ(h->find_member("abcdefghijklmnopqrst"), -1);  // a name without an end never matches
    EXPECT_EQ(h->find_member("her"), -1);
}

TEST(ContainerFormat, FieldsEncodeToTheHandWrittenBytes) {
    ContainerHeader h;
    h.set_tag_bytes({'0', '1', 0});
    h.set_reserved1(0x12345678);
    h.set_reserved2(0xABCD);
    ContainerEntry hero;
    hero.set_name("hero");
    hero.size = 16;
    hero.offset = 26344;
    hero.attribute = 2;
    h.set_entry(0, hero);
    ContainerEntry endless;
    std::memcpy(endless.name.data(), "abcdefghijklmnopqrst", 20);
    endless.size = 0x01020304;
    endless.offset = 0x7FFFFFF0;
    endless.attribute = 0x0102;
    h.set_entry(1, endless);
    std::string out(26344, '\x11');
    ASSERT_TRUE(h.encode(std::span(reinterpret_cast<std::uint8_t*>(out.data()), out.size())));
    EXPECT_EQ(out, hand_written_header());
}

TEST(ContainerFormat, OnlyExactlyOneHeaderDecodesOrEncodes) {
    std::string image = hand_written_header();
    EXPECT_FALSE(ContainerHeader::decode(bytes_of(image.substr(0, 26343))));
    EXPECT_FALSE(ContainerHeader::decode(bytes_of(image + "x")));
    std::string out(26345, 'z');
    EXPECT_FALSE(ContainerHeader().encode(std::span(reinterpret_cast<std::uint8_t*>(out.data()), out.size())));
    EXPECT_EQ(out, std::string(26345, 'z'));
    ContainerEntry e;
    e.set_name("a name longer than nineteen");
    EXPECT_EQ(e.name_text(), "a name longer than ");
}

TEST(ContainerFormat, TheTagComparesWithTheReplacementsTag) {
    for (auto [tag, newer] : {std::pair{"", false}, {"01", false}, {"02", false}, {"03", true}, {"1", true}}) {
        SCOPED_TRACE(tag);
        ContainerHeader h;
        std::array<char, 3> bytes{};
        std::memcpy(bytes.data(), tag, std::strlen(tag));
        h.set_tag_bytes(bytes);
        EXPECT_EQ(h.tag_newer_than_replaced(), newer);
        h.stamp_replaced();
        EXPECT_EQ(h.tag(), "02");
    }
}

TEST(ContainerFormat, EntryDataMustLieBehindTheHeaderInsideTheFile) {
    using container_format::entry_inside_file;
    EXPECT_TRUE(entry_inside_file(26344, 0, 26344));    // empty, at the very end
    EXPECT_TRUE(entry_inside_file(26344, 10, 26354));
    EXPECT_FALSE(entry_inside_file(26343, 1, 26354));   // inside the header
    EXPECT_FALSE(entry_inside_file(26344, 11, 26354));  // past the end
    EXPECT_FALSE(entry_inside_file(26344, -1, 26354));
    EXPECT_FALSE(entry_inside_file(-5, 10, 26354));
    EXPECT_FALSE(entry_inside_file(INT32_MAX, INT32_MAX, 100000));  // would wrap in 32 bits
}

// The offsets of entries 0.. after resizing `index` in a header holding `entries`.
std::vector<std::int32_t> offsets_after_resize(std::vector<std::pair<std::int32_t, std::int32_t>> entries, int index,
                                               std::int32_t new_size, std::int32_t* resized_size = nullptr) {
    ContainerHeader h;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        ContainerEntry e;
        e.set_name("m" + std::to_string(i));
        e.offset = entries[i].first;
        e.size = entries[i].second;
        h.set_entry(static_cast<int>(i), e);
    }
    h.resize_member(index, new_size);
    std::vector<std::int32_t> offsets;
    for (std::size_t i = 0; i < entries.size(); ++i) offsets.push_back(h.entry(static_cast<int>(i)).offset);
    if (resized_size) *resized_size = h.entry(index).size;
    EXPECT_EQ(h.entry(static_cast<int>(entries.size())).offset, 0);  // free entries at 0 stay
    return offsets;
}

TEST(ContainerFormat, ResizingMovesTheMembersAtOrBehindTheOldEnd) {
    const std::int32_t H = 26344;
    std::int32_t size = 0;
    // The first member grows: all behind it move, the member itself stays.
    EXPECT_EQ(offsets_after_resize({{H, 10}, {H + 10, 5}, {H + 15, 7}}, 0, 25, &size),
              (std::vector<std::int32_t>{H, H + 25, H + 30}));
    EXPECT_EQ(size, 25);
    // The last member shrinks: nothing moves.
    EXPECT_EQ(offsets_after_resize({{H, 10}, {H + 10, 5}}, 1, 1, &size), (std::vector<std::int32_t>{H, H + 10}));
    EXPECT_EQ(size, 1);
    // An empty member gets data: a member sharing its offset starts behind the new data.
    EXPECT_EQ(offsets_after_resize({{H, 0}, {H, 8}, {H + 8, 2}}, 0, 3),
              (std::vector<std::int32_t>{H, H + 3, H + 11}));
    // A member with data shrinks: an empty member at its start stays, one at its end moves.
    EXPECT_EQ(offsets_after_resize({{H, 8}, {H, 0}, {H + 8, 0}}, 0, 2),
              (std::vector<std::int32_t>{H, H, H + 2}));
    // A member inside the replaced one's data (a damaged directory) stays where it was.
    EXPECT_EQ(offsets_after_resize({{H, 8}, {H + 4, 2}}, 0, 1), (std::vector<std::int32_t>{H, H + 4}));
    // A far offset wraps as a 32-bit field would, without overflowing the arithmetic.
    EXPECT_EQ(offsets_after_resize({{H, 8}, {0x7FFFFFF0, 0}}, 0, 0x28),
              (std::vector<std::int32_t>{H, static_cast<std::int32_t>(0x80000010u)}));
}

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
            xfile::TableRecord r{};
            std::strcpy(r.name, n);
            std::strcpy(r.container, "dravo.mul");
            xfile::apply_record(r);
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
    ContainerHeader header = *ContainerHeader::decode(bytes_of(file.substr(0, kContainerHeaderSize)));
    ContainerEntry hero = header.entry(0), map = header.entry(1);
    hero.size = 1 << 30;
    map.offset = -5;
    header.set_entry(0, hero);
    header.set_entry(1, map);
    file.replace(0, kContainerHeaderSize, reinterpret_cast<const char*>(header.bytes().data()), kContainerHeaderSize);
    write_file(container, file);
    XFileHandle* h = nullptr;
    EXPECT_EQ(xfile_open(name("hero"), kXModeRead, &h), kXNotOpen);
    EXPECT_EQ(xfile_open(name("map"), kXModeRead, &h), kXNotOpen);
}

// Holding for a rewrite locks the container out for every other opener until the holder lets
// go, and refuses what a rewrite must not start on, each for its own reason.
TEST_F(Containers, HoldingForARewriteLocksTheContainerAndRefusesWhatItCannotRewrite) {
    using Problem = xfile::HeldContainer::Problem;
    write_file(container, make_container({{"hero", "abc"}}, "01"));
    {
        xfile::HeldContainer held = xfile::hold_container(container.c_str());
        ASSERT_EQ(held.problem, Problem::None) << held.detail;
        EXPECT_EQ(held.size, kContainerHeaderSize + 3);
        EXPECT_EQ(held.header.tag(), "01");
        EXPECT_EQ(held.header.find_member("hero"), 0);
        xfile::HeldContainer second = xfile::hold_container(container.c_str());
        EXPECT_EQ(second.problem, Problem::InUse);
        EXPECT_FALSE(second.file);
    }
    EXPECT_EQ(xfile::hold_container(container.c_str()).problem, Problem::None);  // let go with the holder

    EXPECT_EQ(xfile::hold_container(dir.file("missing.mul").c_str()).problem, Problem::CannotOpen);

    // What a holder of these bytes is told; the holder lets go before the next is written.
    auto refusal = [&](const std::string& bytes) {
        write_file(container, bytes);
        xfile::HeldContainer held = xfile::hold_container(container.c_str());
        return std::make_pair(held.problem, held.detail);
    };
    EXPECT_EQ(refusal(std::string(kContainerHeaderSize - 1, '\0')),
              std::make_pair(Problem::Damaged, std::string("the header is short: 26343 of 26344 bytes")));
    std::string file = make_container({{"hero", "abc"}});
    auto [problem, detail] = refusal(file.substr(0, file.size() - 1));  // the file ends inside the member
    EXPECT_EQ(problem, Problem::Damaged);
    EXPECT_NE(detail.find("lies outside the file's data"), std::string::npos) << detail;
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
