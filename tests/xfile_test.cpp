// XFile handles over plain files, the memory blocks and their error boxes.
#include <gtest/gtest.h>

#include <cstring>

#include "config/config.h"
#include "tests/test_support.h"
#include "xfile/xfile.h"

using namespace testing_support;

namespace {

class XFilePlain : public CoreTest {
protected:
    TempDir dir;
    std::string name_buffer;
    char* name(const std::string& path) {
        name_buffer = path;
        return name_buffer.data();
    }
};

TEST_F(XFilePlain, OpensANameOutsideTheTableAsAPath) {
    write_file(dir.file("Plain.BIN"), "0123456789");
    XFileHandle* h = nullptr;
    ASSERT_EQ(xfile_open(name(dir.file("Plain.BIN")), kXModeRead, &h), kXOk);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(xfile_size(h), 10);
    EXPECT_EQ(std::strlen(h->name), 19u);  // a path in place of a logical name is cut
    char buf[16] = {};
    EXPECT_EQ(xfile_read(h, buf, 4), 4);
    EXPECT_EQ(std::string(buf, 4), "0123");
    EXPECT_EQ(h->position, 4);
    EXPECT_EQ(xfile_close(h), 0);
}

// A read-only file can be read (the data of a patch, a protected table being checked), but a
// mode that writes refuses it.
TEST_F(XFilePlain, ReadOnlyFilesOpenOnlyForModesThatRead) {
    XFileHandle* h = reinterpret_cast<XFileHandle*>(1);
    EXPECT_EQ(xfile_open(name(dir.file("absent")), kXModeRead, &h), kXOpenFailed);
    EXPECT_EQ(h, nullptr);
    write_file(dir.file("ro"), "x");
    ASSERT_TRUE(make_read_only(dir.file("ro")));
    for (std::uint32_t mode : {kXModeRead, kXModeReadWhole}) {
        ASSERT_EQ(xfile_open(name(dir.file("ro")), mode, &h), kXOk) << mode;
        char c = 0;
        EXPECT_EQ(xfile_read(h, &c, 1), 1);
        EXPECT_EQ(c, 'x');
        xfile_close(h);
    }
    EXPECT_EQ(xfile_open(name(dir.file("ro")), kXModeUpdate, &h), kXOpenFailed);
}

// A path a person typed is used as typed: not trimmed, not lower-cased, and never cut.
TEST_F(XFilePlain, OpenByPathKeepsThePathAsGiven) {
    write_file(dir.file("Mixed Case.bin "), "typed");
    XFileHandle* h = nullptr;
    ASSERT_EQ(xfile_open_path(dir.file("Mixed Case.bin ").c_str(), kXModeReadWhole, &h), kXOk);
    EXPECT_EQ(xfile_size(h), 5);
    xfile_close(h);
    std::string long_path = dir.file(std::string(300, 'a'));
    EXPECT_EQ(xfile_open_path(long_path.c_str(), kXModeReadWhole, &h), kXOpenFailed);
    EXPECT_NE(xfile::open_problem().find("260"), std::string::npos);
}

TEST_F(XFilePlain, CreateReturnsOneAndGrowsWithWrites) {
    XFileHandle* h = nullptr;
    ASSERT_EQ(xfile_create(name(dir.file("new.bin")), kXModeCreate, &h, "", 2), kXPlainCreated);
    EXPECT_EQ(h->mode, 14u);
    EXPECT_EQ(xfile_write(h, "hello", 5), 5);
    EXPECT_EQ(xfile_size(h), 5);
    xfile_close(h);
    EXPECT_EQ(read_file(dir.file("new.bin")), "hello");
}

TEST_F(XFilePlain, GrowFlagMakesTheSizeFollowTheLastWrite) {
    write_file(dir.file("hundred"), std::string(100, 'a'));
    XFileHandle* h = nullptr;
    ASSERT_EQ(xfile_open(name(dir.file("hundred")), kXModeUpdate, &h), kXOk);
    EXPECT_EQ(xfile_size(h), 100);
    EXPECT_EQ(xfile_seek(h, 0, 0), 0);
    EXPECT_EQ(xfile_write(h, "zz", 2), 2);
    EXPECT_EQ(xfile_size(h), 2);
    xfile_close(h);
    EXPECT_EQ(read_file(dir.file("hundred")), "zz" + std::string(98, 'a'));  // the file keeps its bytes
}

TEST_F(XFilePlain, SeekReturnsTheOffsetAndMovesFromEachAnchor) {
    write_file(dir.file("seek"), std::string(400, 's'));
    XFileHandle* h = nullptr;
    ASSERT_EQ(xfile_open(name(dir.file("seek")), kXModeRead, &h), kXOk);
    EXPECT_EQ(xfile_seek(h, 180, 0), 180);
    EXPECT_EQ(h->position, 180);
    EXPECT_EQ(xfile_seek(h, 20, 1), 20);
    EXPECT_EQ(h->position, 200);
    EXPECT_EQ(xfile_seek(h, -50, 2), -50);
    EXPECT_EQ(h->position, 350);
    EXPECT_EQ(xfile_seek(h, 10, 7), 10);  // from the OS pointer
    EXPECT_EQ(h->position, 360);
    xfile_close(h);
}

TEST_F(XFilePlain, ReadingAtTheEndReturnsTheShortCount) {
    write_file(dir.file("short"), "abc");
    XFileHandle* h = nullptr;
    ASSERT_EQ(xfile_open(name(dir.file("short")), kXModeReadWhole, &h), kXOk);
    char buf[42];
    EXPECT_EQ(xfile_read(h, buf, 42), 3);
    EXPECT_EQ(xfile_read(h, buf, 42), 0);
    xfile_close(h);
}

TEST_F(XFilePlain, ClosedOrMissingHandlesAreRefused) {
    char buf[4];
    EXPECT_EQ(xfile_read(nullptr, buf, 4), kXNotOpen);
    EXPECT_EQ(xfile_write(nullptr, buf, 4), kXNotOpen);
    EXPECT_EQ(xfile_seek(nullptr, 0, 0), kXNotOpen);
    EXPECT_EQ(xfile_close(nullptr), 0);
}

TEST_F(XFilePlain, AFailedWriteIsReported) {
    XFileHandle* h = nullptr;
    ASSERT_EQ(xfile_create(name(dir.file("full.bin")), kXModeCreate, &h, "", 2), kXPlainCreated);
    plat::fault_injection().fail_write_at = 1;
    EXPECT_EQ(xfile_write(h, "data", 4), kXWriteFailed);
    xfile_close(h);
}

TEST_F(XFilePlain, HandlesKeepTheFileLockedUntilClosed) {
    write_file(dir.file("locked"), "x");
    XFileHandle* a = nullptr;
    XFileHandle* b = nullptr;
    ASSERT_EQ(xfile_open(name(dir.file("locked")), kXModeRead, &a), kXOk);
    EXPECT_EQ(xfile_open(name(dir.file("locked")), kXModeRead, &b), kXOpenFailed);
    xfile_close(a);
    EXPECT_EQ(xfile_open(name(dir.file("locked")), kXModeRead, &b), kXOk);
    xfile::reset_xfile();  // closes what a test or an aborted run left open
    EXPECT_EQ(xfile_open(name(dir.file("locked")), kXModeRead, &a), kXOk);
    xfile_close(a);
}

TEST(XFileMemory, BlocksRoundTripAndForeignPointersAreRefusedWithABox) {
    RecordingSink sink;
    void* area = XAlloc(52);
    ASSERT_NE(area, nullptr);
    std::memset(area, 0xAB, 52);
    XFree(area);
    XFree(nullptr);
    EXPECT_TRUE(sink.boxes.empty());
    alignas(16) unsigned char foreign[64] = {};
    XFree(foreign + 32);
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0], "XFree Error: Bad XMEM Memory.");
}

}  // namespace
