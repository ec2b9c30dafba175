// The overlay of a dry run: through it every write, create, rename and delete lands in its
// scratch folder, reads see what was written, and the files on disk stay byte for byte.
#include <gtest/gtest.h>

#include "platform/rewrite/output_file.h"
#include "platform/intercept/overlay.h"
#include "platform/platform.h"
#include "tests/test_support.h"

using namespace testing_support;

namespace {

class OverlayTest : public CoreTest {
protected:
    TempDir game, scratch;
    std::string on_disk(const std::string& name) {
        plat::Overlay* was = plat::current_overlay();
        plat::use_overlay(nullptr);
        std::string bytes = plat::file_exists(game.file(name).c_str()) ? read_file(game.file(name)) : "(none)";
        plat::use_overlay(was);
        return bytes;
    }
    std::vector<std::string> scratch_files() { return names_starting_with(scratch.path(), ""); }
};

TEST_F(OverlayTest, ChangesGoToTheViewAndTheDiskStaysAsItWas) {
    write_file(game.file("tables.dat"), "old tables");
    write_file(game.file("gone.txt"), "to delete");
    write_file(game.file("old.name"), "renamed");
    {
        plat::Overlay view(scratch.path());
        plat::use_overlay(&view);
        // An update in place starts from the old bytes; a read sees the update.
        {
            plat::File f = plat::File::open(game.file("tables.dat").c_str(), plat::Access::ReadWrite,
                                            plat::Disposition::OpenExisting);
            ASSERT_TRUE(f);
            ASSERT_EQ(plat::seek_file(f.get(), 0, plat::SeekFrom::End), 10);
            std::uint32_t wrote = 0;
            ASSERT_TRUE(plat::write_file(f.get(), "+new", 4, &wrote));
        }
        EXPECT_EQ(read_file(game.file("tables.dat")), "old tables+new");
        // The safe rewrite: a scratch file beside the target, swapped in.
        plat::OutputFile out;
        ASSERT_TRUE(out.create(game.file("tables.dat")));
        ASSERT_TRUE(out.write("rewritten", 9));
        ASSERT_TRUE(out.keep()) << out.problem();
        EXPECT_EQ(read_file(game.file("tables.dat")), "rewritten");
        // Create, delete, rename.
        write_file(game.file("new.bin"), "created");
        EXPECT_TRUE(plat::file_exists(game.file("NEW.BIN").c_str()));  // names match without regard to case
        ASSERT_TRUE(plat::delete_file(game.file("gone.txt").c_str()));
        EXPECT_FALSE(plat::file_exists(game.file("gone.txt").c_str()));
        EXPECT_FALSE(plat::File::open(game.file("gone.txt").c_str(), plat::Access::Read, plat::Disposition::OpenExisting));
        EXPECT_EQ(plat::last_error(), plat::Error::FileNotFound);
        EXPECT_FALSE(plat::delete_file(game.file("gone.txt").c_str()));
        ASSERT_TRUE(plat::move_file(game.file("old.name").c_str(), game.file("new.name").c_str()));
        EXPECT_EQ(read_file(game.file("new.name")), "renamed");
        EXPECT_FALSE(plat::file_exists(game.file("old.name").c_str()));
        EXPECT_FALSE(plat::move_file(game.file("new.name").c_str(), game.file("new.bin").c_str()));
        EXPECT_EQ(plat::last_error(), plat::Error::AlreadyExists);
        // A text stream opened for appending sees and extends the view's file.
        std::FILE* log = plat::open_text(game.file("new.bin").c_str(), "ab");
        ASSERT_TRUE(log);
        std::fputs(" and appended", log);
        std::fclose(log);
        EXPECT_EQ(read_file(game.file("new.bin")), "created and appended");
        // Folders are not part of the view: nothing may make or remove one.
        EXPECT_FALSE(plat::create_directory(game.file("sub").c_str()));

        std::vector<plat::Overlay::Change> changes = view.changes();
        std::vector<std::pair<std::string, plat::Overlay::Kind>> seen;
        for (const auto& c : changes) seen.emplace_back(c.path, c.kind);
        using K = plat::Overlay::Kind;
        EXPECT_EQ(seen, (std::vector<std::pair<std::string, K>>{{game.file("tables.dat"), K::Changed},
                                                                 {game.file("new.bin"), K::Created},
                                                                 {game.file("gone.txt"), K::Deleted},
                                                                 {game.file("old.name"), K::Deleted},
                                                                 {game.file("new.name"), K::Created}}));
        EXPECT_EQ(on_disk("tables.dat"), "old tables");
        plat::use_overlay(nullptr);
    }
    EXPECT_EQ(read_file(game.file("tables.dat")), "old tables");
    EXPECT_EQ(read_file(game.file("gone.txt")), "to delete");
    EXPECT_EQ(read_file(game.file("old.name")), "renamed");
    EXPECT_FALSE(plat::file_exists(game.file("new.bin").c_str()));
    EXPECT_FALSE(plat::file_exists(game.file("new.name").c_str()));
    EXPECT_EQ(names_starting_with(game.path(), "tables.dat~"), std::vector<std::string>{});
    EXPECT_EQ(scratch_files(), std::vector<std::string>{});  // the view's copies are gone too
}

// The view's files are scratch copies, so their flushes need not reach the disk; but a dry run
// must meet every failure a real install can meet, at the same calls.
TEST_F(OverlayTest, FlushesInTheViewFailWhereInjectedAndSucceedOtherwise) {
    write_file(game.file("tables.dat"), "old tables");
    plat::Overlay view(scratch.path());
    plat::use_overlay(&view);
    for (long failing : {1, 0}) {
        SCOPED_TRACE(failing);
        plat::reset_fault_injection();
        plat::fault_injection().fail_nth(plat::FaultOp::Flush, failing);
        plat::OutputFile out;
        ASSERT_TRUE(out.create(game.file("tables.dat")));
        ASSERT_TRUE(out.write("rewritten", 9));
        EXPECT_EQ(out.keep(), failing == 0) << out.problem();
        EXPECT_EQ(plat::fault_injection().calls[static_cast<int>(plat::FaultOp::Flush)], 1);
        EXPECT_EQ(read_file(game.file("tables.dat")), failing ? "old tables" : "rewritten");
    }
    plat::reset_fault_injection();
    plat::use_overlay(nullptr);
    EXPECT_EQ(read_file(game.file("tables.dat")), "old tables");
}

TEST_F(OverlayTest, TheViewRefusesWhatTheSystemWouldRefuse) {
    write_file(game.file("locked.dat"), "read-only");
    ASSERT_TRUE(make_read_only(game.file("locked.dat")));
    plat::Overlay view(scratch.path());
    plat::use_overlay(&view);
    EXPECT_FALSE(plat::File::open(game.file("locked.dat").c_str(), plat::Access::Write, plat::Disposition::OpenExisting));
    EXPECT_EQ(plat::last_error(), plat::Error::AccessDenied);
    EXPECT_FALSE(plat::File::open(game.file("missing.dat").c_str(), plat::Access::ReadWrite,
                                  plat::Disposition::OpenExisting));
    EXPECT_FALSE(plat::File::open(game.file("no\\such\\dir.dat").c_str(), plat::Access::Write,
                                  plat::Disposition::CreateAlways));
    EXPECT_EQ(plat::last_error(), plat::Error::PathNotFound);
    EXPECT_FALSE(plat::File::open(game.file("locked.dat").c_str(), plat::Access::Write, plat::Disposition::CreateNew));
    EXPECT_EQ(plat::last_error(), plat::Error::AlreadyExists);
    plat::use_overlay(nullptr);
    EXPECT_TRUE(view.changes().empty());
}

}  // namespace
