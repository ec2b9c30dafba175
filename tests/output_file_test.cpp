// The safe output file: a scratch file beside the target that no other writer shares, which
// replaces the target only when committed, and which a failure or an early end removes, and
// only it.
#include <gtest/gtest.h>

#include "platform/rewrite/output_file.h"
#include "platform/platform.h"
#include "tests/test_support.h"

using namespace testing_support;

namespace {

class OutputFileTest : public CoreTest {
protected:
    TempDir dir;
    std::string target() const { return dir.file("table.dat"); }
    std::vector<std::string> leftovers() const { return names_starting_with(dir.path(), "table.dat~"); }
};

TEST_F(OutputFileTest, CommitPutsTheNewContentsInPlaceAndLeavesNothingBeside) {
    write_file(target(), "old");
    plat::OutputFile out;
    ASSERT_TRUE(out.create(target())) << out.problem();
    EXPECT_EQ(out.scratch_path().rfind(target() + "~", 0), 0u) << out.scratch_path();
    EXPECT_EQ(read_file(target()), "old");  // nothing changes before the commit
    ASSERT_TRUE(out.write("new contents", 12));
    ASSERT_TRUE(out.keep()) << out.problem();
    EXPECT_EQ(read_file(target()), "new contents");
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

TEST_F(OutputFileTest, AnUncommittedFileLeavesTheTargetWholeAndRemovesOnlyItsOwnScratchFile) {
    write_file(target(), "old");
    // What another process's unfinished rewrite would have left: not ours to remove.
    std::string foreign = target() + "~4000000000.1";
    write_file(foreign, "theirs");
    {
        plat::OutputFile out;
        ASSERT_TRUE(out.create(target()));
        ASSERT_TRUE(out.write("half", 4));
    }
    EXPECT_EQ(read_file(target()), "old");
    EXPECT_EQ(leftovers(), std::vector<std::string>{"table.dat~4000000000.1"});
    EXPECT_EQ(read_file(foreign), "theirs");
}

// Two writers of one target at once: each has a scratch file of its own, so one giving up
// cannot remove the file the other is about to put in place.
TEST_F(OutputFileTest, TwoWritersOfOneTargetNeverShareAScratchFile) {
    plat::OutputFile first, second;
    ASSERT_TRUE(first.create(target()));
    ASSERT_TRUE(second.create(target()));
    EXPECT_NE(first.scratch_path(), second.scratch_path());
    ASSERT_TRUE(first.write("first", 5));
    ASSERT_TRUE(second.write("second", 6));
    second.discard();
    ASSERT_TRUE(first.keep()) << first.problem();
    EXPECT_EQ(read_file(target()), "first");
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

TEST_F(OutputFileTest, ReadOnlyTargetsDirectoriesAndOverlongPathsAreRefusedBeforeAnythingIsWritten) {
    write_file(target(), "protected");
    ASSERT_TRUE(make_read_only(target()));
    plat::OutputFile out;
    EXPECT_FALSE(out.create(target()));
    EXPECT_NE(out.problem().find("read-only"), std::string::npos) << out.problem();

    ASSERT_TRUE(plat::create_directory(dir.file("folder").c_str()));
    EXPECT_FALSE(out.create(dir.file("folder")));
    EXPECT_NE(out.problem().find("directory"), std::string::npos) << out.problem();

    std::string deep = dir.path() + std::string(plat::kMaxPath - dir.path().size() - 2, 'x');
    EXPECT_FALSE(out.create(deep));
    EXPECT_NE(out.problem().find("too long"), std::string::npos) << out.problem();
    EXPECT_EQ(read_file(target()), "protected");
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

TEST_F(OutputFileTest, AFailedWriteIsReportedAndTheTargetStaysWhole) {
    write_file(target(), "old");
    plat::OutputFile out;
    ASSERT_TRUE(out.create(target()));
    plat::fault_injection().fail_write_at = 1;
    EXPECT_FALSE(out.write("doomed", 6));
    EXPECT_NE(out.problem().find("cannot write"), std::string::npos) << out.problem();
    out.discard();
    EXPECT_EQ(read_file(target()), "old");
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

// The caller keeps the old file open, and so locked, until the swap; the lock goes with it.
TEST_F(OutputFileTest, KeepUnderTheTargetsLockReplacesItAndLetsTheLockGo) {
    write_file(target(), "old");
    plat::Handle lock = plat::open_file(target().c_str(), plat::Access::ReadWrite, plat::Disposition::OpenExisting);
    ASSERT_NE(lock, plat::Handle::Invalid);
    // Another opener is kept out meanwhile.
    EXPECT_EQ(plat::open_file(target().c_str(), plat::Access::Read, plat::Disposition::OpenExisting),
              plat::Handle::Invalid);
    plat::OutputFile out;
    ASSERT_TRUE(out.create(target()));
    ASSERT_TRUE(out.write("new", 3));
    ASSERT_TRUE(out.keep(lock)) << out.problem();
    EXPECT_EQ(read_file(target()), "new");
    plat::Handle again = plat::open_file(target().c_str(), plat::Access::ReadWrite, plat::Disposition::OpenExisting);
    EXPECT_NE(again, plat::Handle::Invalid);
    if (again != plat::Handle::Invalid) plat::close_file(again);
}

}  // namespace
