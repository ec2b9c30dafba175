// The platform layer: Windows path rules, and the file semantics the core relies on (exclusive
// opens, names matched without regard to case, one-step replacement). The same assertions run
// against the POSIX implementation natively and against Win32 under Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "platform/platform.h"
#include "platform/intercept/file_changes.h"
#include "platform/intercept/held_files.h"
#include "platform/rules/winpath.h"
#include "platform/file_tree.h"
#include "platform/trust.h"
#include "tests/test_support.h"

using namespace testing_support;

namespace {

TEST(WindowsPathRules, TakesPathsApart) {
    struct Case {
        const char* path;
        char drive;
        bool rooted;
        std::vector<std::string> components;
    } cases[] = {
        {"c:\\games\\dravo\\", 'c', true, {"games", "dravo"}},
        {"C:/Games/Dravo", 'c', true, {"Games", "Dravo"}},
        {"z:\\a\\.\\b\\..\\c", 'z', true, {"a", "c"}},
        {"c:\\..\\..\\x", 'c', true, {"x"}},  // never above the root
        {"data\\file.mul", 0, false, {"data", "file.mul"}},
        {"\\windows", 0, true, {"windows"}},
        {"d:", 'd', false, {}},
        {"..\\up", 0, false, {"..", "up"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        plat::WindowsPath p = plat::parse_windows_path(c.path);
        EXPECT_EQ(p.drive, c.drive);
        EXPECT_EQ(p.rooted, c.rooted);
        EXPECT_EQ(p.components, c.components);
        EXPECT_FALSE(p.unc);
    }
    EXPECT_TRUE(plat::parse_windows_path("\\\\server\\share").unc);
}

// Wine makes no links to files, so the Windows side of the link checks is shown on the
// attributes it reads: a reparse point is a link whatever else it is.
TEST(WindowsPathRules, TellsLinksFromTheAttributes) {
    struct Case {
        unsigned long attributes;
        plat::EntryKind kind;
    } cases[] = {
        {0x20, plat::EntryKind::File},                                   // archive
        {0x80, plat::EntryKind::File},                                   // normal
        {0x10, plat::EntryKind::Directory},
        {0x10 | 0x400, plat::EntryKind::Link},                          // a junction or a folder link
        {0x20 | 0x400, plat::EntryKind::Link},                          // a file link
        {0x01 | 0x02 | 0x04 | 0x400, plat::EntryKind::Link},            // hidden system read-only link
        {0x40, plat::EntryKind::Other},                                  // a device
    };
    for (const Case& c : cases)
        EXPECT_EQ(static_cast<plat::EntryKind>(plat::entry_kind_of_attributes(c.attributes)), c.kind) << c.attributes;
}

TEST(WindowsPathRules, ReadsDriveListsAndSkipsMalformedItems) {
    auto drives = plat::parse_drive_list("c=/srv/game-c;D=/media/cd;bad;=x;e=");
    ASSERT_EQ(drives.size(), 2u);
    EXPECT_EQ(drives[0], (std::pair<char, std::string>{'c', "/srv/game-c"}));
    EXPECT_EQ(drives[1], (std::pair<char, std::string>{'d', "/media/cd"}));
}

class PlatformFiles : public CoreTest {
protected:
    TempDir dir;
};

TEST_F(PlatformFiles, SecondOpenOfAnOpenFileIsASharingViolation) {
    std::string path = dir.file("held.bin");
    write_file(path, "abc");
    plat::Handle first = plat::open_file(path.c_str(), plat::Access::Read, plat::Disposition::OpenExisting);
    ASSERT_NE(first, plat::Handle::Invalid);
    for (plat::Access a : {plat::Access::Read, plat::Access::Write, plat::Access::ReadWrite}) {
        EXPECT_EQ(plat::open_file(path.c_str(), a, plat::Disposition::OpenExisting), plat::Handle::Invalid);
        EXPECT_EQ(plat::last_error(), plat::Error::SharingViolation);
    }
    // Creating over a held file fails and must not truncate it.
    EXPECT_EQ(plat::open_file(path.c_str(), plat::Access::Write, plat::Disposition::CreateAlways),
              plat::Handle::Invalid);
    EXPECT_FALSE(plat::delete_file(path.c_str()));
    plat::close_file(first);
    EXPECT_EQ(read_file(path), "abc");
    plat::Handle again = plat::open_file(path.c_str(), plat::Access::ReadWrite, plat::Disposition::OpenExisting);
    EXPECT_NE(again, plat::Handle::Invalid);
    plat::close_file(again);
}

TEST_F(PlatformFiles, NamesMatchWithoutRegardToCase) {
    ASSERT_TRUE(plat::create_directory(dir.file("Data").c_str()));
    write_file(dir.file("Data\\Dravo.MUL"), "x");
    EXPECT_TRUE(plat::file_exists(dir.file("data\\dravo.mul").c_str()));
    EXPECT_TRUE(plat::file_exists(dir.file("DATA/DRAVO.mul").c_str()));
    EXPECT_TRUE(plat::is_directory(dir.file("dAtA").c_str()));
    EXPECT_EQ(read_file(dir.file("data\\DRAVO.MUL")), "x");
    // Creating under another case writes the existing file, not a second one.
    write_file(dir.file("data\\dravo.mul"), "yy");
    EXPECT_EQ(read_file(dir.file("Data\\Dravo.MUL")), "yy");
}

TEST_F(PlatformFiles, TellsAMissingFileFromAMissingFolder) {
    EXPECT_EQ(plat::open_file(dir.file("none.bin").c_str(), plat::Access::Read, plat::Disposition::OpenExisting),
              plat::Handle::Invalid);
    EXPECT_EQ(plat::last_error(), plat::Error::FileNotFound);
    EXPECT_EQ(plat::open_file(dir.file("nodir\\x.bin").c_str(), plat::Access::Write,
                              plat::Disposition::CreateAlways),
              plat::Handle::Invalid);
    EXPECT_EQ(plat::last_error(), plat::Error::PathNotFound);
    EXPECT_FALSE(plat::file_exists(dir.file("nodir\\x.bin").c_str()));
}

TEST_F(PlatformFiles, ReadOnlyFilesAndDirectoriesRefuseWriting) {
    std::string path = dir.file("ro.bin");
    write_file(path, "keep");
    ASSERT_TRUE(make_read_only(path));
    EXPECT_EQ(plat::open_file(path.c_str(), plat::Access::ReadWrite, plat::Disposition::OpenExisting),
              plat::Handle::Invalid);
    EXPECT_EQ(plat::last_error(), plat::Error::AccessDenied);
    plat::Handle r = plat::open_file(path.c_str(), plat::Access::Read, plat::Disposition::OpenExisting);
    EXPECT_NE(r, plat::Handle::Invalid);
    plat::close_file(r);
    EXPECT_EQ(read_file(path), "keep");
    EXPECT_EQ(plat::open_file(dir.path().c_str(), plat::Access::Read, plat::Disposition::OpenExisting),
              plat::Handle::Invalid);
}

TEST_F(PlatformFiles, SeeksReadsAndSizes) {
    std::string path = dir.file("data.bin");
    write_file(path, "0123456789");
    plat::Handle h = plat::open_file(path.c_str(), plat::Access::ReadWrite, plat::Disposition::OpenExisting);
    ASSERT_NE(h, plat::Handle::Invalid);
    EXPECT_EQ(plat::file_size(h), 10);
    EXPECT_EQ(plat::seek_file(h, 4, plat::SeekFrom::Begin), 4);
    EXPECT_EQ(plat::seek_file(h, 2, plat::SeekFrom::Current), 6);
    char buf[8] = {};
    std::uint32_t got = 0;
    EXPECT_TRUE(plat::read_file(h, buf, 8, &got));
    EXPECT_EQ(got, 4u);
    EXPECT_EQ(std::string(buf, got), "6789");
    EXPECT_EQ(plat::seek_file(h, -3, plat::SeekFrom::End), 7);
    std::uint32_t put = 0;
    EXPECT_TRUE(plat::write_file(h, "ABCDE", 5, &put));
    EXPECT_EQ(plat::file_size(h), 12);
    EXPECT_TRUE(plat::flush_file(h));
    plat::close_file(h);
    EXPECT_EQ(read_file(path), "0123456ABCDE");
}

TEST_F(PlatformFiles, ReplaceFilePutsTheNewFileInPlace) {
    std::string target = dir.file("game.mul");
    std::string temp = dir.file("game.mul~");
    write_file(target, "old");
    write_file(temp, "new contents");
    ASSERT_TRUE(plat::replace_file(temp.c_str(), target.c_str()));
    EXPECT_EQ(read_file(target), "new contents");
    EXPECT_FALSE(plat::file_exists(temp.c_str()));

    // Nothing is replaced while the target is held open.
    write_file(temp, "newer");
    plat::Handle held = plat::open_file(target.c_str(), plat::Access::Read, plat::Disposition::OpenExisting);
    EXPECT_FALSE(plat::replace_file(temp.c_str(), target.c_str()));
    plat::close_file(held);
    EXPECT_EQ(read_file(target), "new contents");
}

TEST_F(PlatformFiles, InjectedWriteFailureFailsExactlyTheChosenWrite) {
    std::string path = dir.file("w.bin");
    plat::Handle h = plat::open_file(path.c_str(), plat::Access::Write, plat::Disposition::CreateAlways);
    ASSERT_NE(h, plat::Handle::Invalid);
    plat::fault_injection().fail_write_at = 2;
    std::uint32_t put = 0;
    EXPECT_TRUE(plat::write_file(h, "a", 1, &put));
    EXPECT_FALSE(plat::write_file(h, "b", 1, &put));
    EXPECT_EQ(put, 0u);
    EXPECT_EQ(plat::last_error(), plat::Error::DiskFull);
    EXPECT_TRUE(plat::write_file(h, "c", 1, &put));
    plat::close_file(h);
    EXPECT_EQ(read_file(path), "ac");
}

// Several pieces of the bounded buffer, from an offset, behind what the target already holds.
TEST_F(PlatformFiles, CopyRangeAppendsTheRangeAtTheTargetsPosition) {
    std::string source(3 * plat::kCopyBufferSize + 1234, '\0');
    for (std::size_t i = 0; i < source.size(); ++i) source[i] = static_cast<char>(i * 7 + i / 4099);
    write_file(dir.file("from.bin"), source);
    plat::File from = plat::File::open(dir.file("from.bin").c_str(), plat::Access::Read, plat::Disposition::OpenExisting);
    plat::File to = plat::File::open(dir.file("to.bin").c_str(), plat::Access::ReadWrite, plat::Disposition::CreateNew);
    ASSERT_TRUE(from && to);
    std::uint32_t put = 0;
    ASSERT_TRUE(plat::write_file(to.get(), "head", 4, &put));
    const std::int64_t offset = 777, length = static_cast<std::int64_t>(source.size()) - 1000;
    RecordingSink sink;
    ASSERT_TRUE(plat::copy_range(from.get(), offset, to.get(), length)) << plat::last_error_text();
    EXPECT_GT(sink.keep_alives, 0) << "a long copy must let the window handle its messages";
    ASSERT_TRUE(plat::write_file(to.get(), "tail", 4, &put));
    ASSERT_TRUE(plat::copy_range(from.get(), 0, to.get(), 0));

    // A source that ends before the length is a failure, not a shorter copy.
    EXPECT_FALSE(plat::copy_range(from.get(), offset, to.get(), static_cast<std::int64_t>(source.size())));
    EXPECT_EQ(plat::last_error(), plat::Error::Other);
    ASSERT_TRUE(to.close());
    std::string copied = read_file(dir.file("to.bin"));
    ASSERT_GE(copied.size(), 8 + static_cast<std::size_t>(length));
    EXPECT_TRUE(copied.compare(0, 4, "head") == 0);
    EXPECT_TRUE(copied.compare(4, length, source, offset, length) == 0) << "the copied range differs";
    EXPECT_TRUE(copied.compare(4 + length, 4, "tail") == 0);
}

// Each operation fails at the chosen call, with the error a real failure of it gives, and
// changes nothing; the calls before and after it go through.
TEST_F(PlatformFiles, InjectedFailuresHitTheChosenCallOfEachOperation) {
    std::string a = dir.file("a.txt"), b = dir.file("b.txt");
    write_file(a, "alpha");
    write_file(b, "beta");
    plat::FaultInjection& f = plat::fault_injection();

    f.fail_nth(plat::FaultOp::Open, 2);
    plat::File first = plat::File::open(a.c_str(), plat::Access::Read, plat::Disposition::OpenExisting);
    EXPECT_TRUE(first.is_open());
    EXPECT_FALSE(plat::File::open(dir.file("new.txt").c_str(), plat::Access::Write, plat::Disposition::CreateNew));
    EXPECT_EQ(plat::last_error(), plat::Error::SharingViolation);
    EXPECT_FALSE(plat::file_exists(dir.file("new.txt").c_str()));

    char buf[8];
    std::uint32_t got = 0;
    f.fail_nth(plat::FaultOp::Read, 1);
    EXPECT_FALSE(plat::read_file(first.get(), buf, sizeof buf, &got));
    EXPECT_EQ(got, 0u);
    EXPECT_TRUE(plat::read_file(first.get(), buf, sizeof buf, &got));
    EXPECT_EQ(std::string(buf, got), "alpha");
    first.close();

    plat::File out = plat::File::open(dir.file("c.txt").c_str(), plat::Access::Write, plat::Disposition::CreateNew);
    plat::File in = plat::File::open(b.c_str(), plat::Access::Read, plat::Disposition::OpenExisting);
    ASSERT_TRUE(out && in);
    f.fail_nth(plat::FaultOp::Copy, 1);
    EXPECT_FALSE(plat::copy_range(in.get(), 0, out.get(), 4));
    EXPECT_EQ(plat::last_error(), plat::Error::DiskFull);
    f.fail_nth(plat::FaultOp::Flush, 1);
    EXPECT_FALSE(plat::flush_file(out.get()));
    in.close();
    out.close();
    EXPECT_EQ(read_file(dir.file("c.txt")), "");

    f.fail_nth(plat::FaultOp::Replace, 1);
    EXPECT_FALSE(plat::replace_file(b.c_str(), a.c_str()));
    EXPECT_EQ(plat::last_error(), plat::Error::AccessDenied);
    f.fail_nth(plat::FaultOp::Delete, 1);
    EXPECT_FALSE(plat::delete_file(b.c_str()));
    EXPECT_EQ(plat::last_error(), plat::Error::AccessDenied);
    EXPECT_EQ(read_file(a), "alpha");
    EXPECT_EQ(read_file(b), "beta");

    EXPECT_EQ(f.injected, 6);
    EXPECT_TRUE(plat::replace_file(b.c_str(), a.c_str()));
    EXPECT_EQ(read_file(a), "beta");
}

// A replacement is three steps, each with its own point of failure: the new file's data, the
// rename, the folder. A failure before the rename leaves both files as they were; one after it
// says that the new name may not last.
TEST_F(PlatformFiles, AReplacementFailsAtEachOfItsThreeSteps) {
    struct Step {
        plat::FaultOp op;
        bool renamed;
        plat::Error error;
    };
    const Step steps[] = {{plat::FaultOp::Flush, false, plat::Error::Other},
                          {plat::FaultOp::Replace, false, plat::Error::AccessDenied},
                          {plat::FaultOp::FlushFolder, true, plat::Error::Other}};
    std::string from = dir.file("new.txt"), to = dir.file("old.txt");
    for (const Step& step : steps) {
        SCOPED_TRACE(plat::fault_op_name(step.op));
        write_file(from, "new");
        write_file(to, "old");
        plat::reset_fault_injection();
        plat::fault_injection().fail_nth(step.op, 1);
        EXPECT_FALSE(plat::replace_file(from.c_str(), to.c_str()));
        EXPECT_EQ(plat::last_error(), step.error);
        EXPECT_EQ(plat::fault_injection().injected, 1);
        EXPECT_EQ(read_file(to), step.renamed ? "new" : "old");
        EXPECT_EQ(plat::file_exists(from.c_str()), !step.renamed);
    }
    plat::reset_fault_injection();
}

// Where the system renames over a held file, the caller's lock is kept until the rename: the
// watcher, called just before it, finds the old file still locked. Windows renames nothing
// over a file open without sharing, so there the lock is let go first.
TEST_F(PlatformFiles, ALockedReplacementKeepsTheLockAsLongAsTheSystemAllows) {
    struct Prober : plat::FileChanges {
        bool locked_at_rename = false;
        bool before_write(const char*, plat::Disposition) override { return true; }
        bool before_delete(const char*, bool*) override { return true; }
        bool before_replace(const char*, const char* target, plat::Handle) override {
            locked_at_rename = !plat::File::open(target, plat::Access::Read, plat::Disposition::OpenExisting);
            return true;
        }
    } prober;
    std::string from = dir.file("new.txt"), to = dir.file("old.txt");
    write_file(from, "new");
    write_file(to, "old");
    plat::File lock = plat::File::open(to.c_str(), plat::Access::Read, plat::Disposition::OpenExisting);
    ASSERT_TRUE(lock);
    plat::watch_file_changes(&prober);
    EXPECT_TRUE(plat::replace_locked_file(from.c_str(), to.c_str(), lock.release()));
    plat::watch_file_changes(nullptr);
#ifdef _WIN32
    EXPECT_FALSE(prober.locked_at_rename);
#else
    EXPECT_TRUE(prober.locked_at_rename);
#endif
    EXPECT_EQ(read_file(to), "new");
    EXPECT_TRUE(plat::File::open(to.c_str(), plat::Access::Read, plat::Disposition::OpenExisting))
        << "the lock must be closed once the replacement is done";
}

TEST_F(PlatformFiles, AnOwnedFileClosesOnceWhoeverHoldsIt) {
    std::string path = dir.file("owned.txt");
    write_file(path, "x");
    {
        plat::File f = plat::File::open(path.c_str(), plat::Access::Read, plat::Disposition::OpenExisting);
        ASSERT_TRUE(f);
        plat::File moved = std::move(f);
        EXPECT_FALSE(f.is_open());
        EXPECT_TRUE(moved.is_open());
        // Held: a second opener is refused.
        EXPECT_FALSE(plat::File::open(path.c_str(), plat::Access::Read, plat::Disposition::OpenExisting));
    }
    plat::File again = plat::File::open(path.c_str(), plat::Access::Read, plat::Disposition::OpenExisting);
    ASSERT_TRUE(again);
    plat::Handle raw = again.release();
    EXPECT_FALSE(again.is_open());
    EXPECT_TRUE(again.close());  // nothing to close
    EXPECT_TRUE(plat::close_file(raw));
}

TEST_F(PlatformFiles, ReadWholeFileChecksTheSizeBeforeReading) {
    std::string path = dir.file("whole.bin");
    write_file(path, "0123456789");
    std::vector<std::uint8_t> out;
    std::int64_t size = -1;
    EXPECT_EQ(plat::read_whole_file(path.c_str(), 10, &out, &size), plat::ReadWholeResult::Done);
    EXPECT_EQ(std::string(out.begin(), out.end()), "0123456789");
    EXPECT_EQ(size, 10);
    EXPECT_EQ(plat::read_whole_file(path.c_str(), 9, &out, &size), plat::ReadWholeResult::TooLarge);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(size, 10);
    EXPECT_EQ(plat::read_whole_file(dir.file("none.bin").c_str(), 10, &out), plat::ReadWholeResult::OpenFailed);
    EXPECT_EQ(plat::last_error(), plat::Error::FileNotFound);
    plat::fault_injection().fail_nth(plat::FaultOp::Read, 1);
    EXPECT_EQ(plat::read_whole_file(path.c_str(), 10, &out), plat::ReadWholeResult::ReadFailed);
    // Closed again in every case.
    EXPECT_TRUE(plat::File::open(path.c_str(), plat::Access::ReadWrite, plat::Disposition::OpenExisting));
}

TEST_F(PlatformFiles, CurrentDirectoryIsInDriveForm) {
    ASSERT_TRUE(plat::change_directory(dir.path().c_str()));
    std::string cwd = plat::current_directory();
    ASSERT_GE(cwd.size(), 3u);
    EXPECT_EQ(cwd[1], ':');
    EXPECT_EQ(cwd[2], '\\');
    write_file("relative.txt", "here");
    EXPECT_EQ(read_file(dir.file("relative.txt")), "here");
    EXPECT_EQ(read_file(cwd + "\\relative.txt"), "here");
    // A drive path typed with forward slashes names the same folder in the same spelling.
    std::string typed = cwd;
    std::replace(typed.begin(), typed.end(), '\\', '/');
    EXPECT_EQ(plat::from_native_path(typed.c_str()), cwd);
}

TEST_F(PlatformFiles, RefusesPathsLongerThanAWindowsPath) {
    std::string longname = dir.path() + std::string(plat::kMaxPath, 'a');
    EXPECT_EQ(plat::open_file(longname.c_str(), plat::Access::Write, plat::Disposition::CreateAlways),
              plat::Handle::Invalid);
    EXPECT_EQ(plat::open_text(longname.c_str(), "w"), nullptr);
}

TEST_F(PlatformFiles, TextStreamsUseTheSameNames) {
    write_file(dir.file("Dravo.INI"), "[dirhd]\n");
    std::FILE* f = plat::open_text(dir.file("dravo.ini").c_str(), "r");
    ASSERT_NE(f, nullptr);
    char line[16] = {};
    ASSERT_NE(std::fgets(line, sizeof line, f), nullptr);
    EXPECT_STREQ(line, "[dirhd]\n");
    std::fclose(f);
}

// A file the run made and holds is read through its hold under every spelling of its name,
// keeps being read so when it was moved and its name then led elsewhere, and is let go as soon
// as the run itself changes the name.
TEST_F(PlatformFiles, AHeldFileIsReadThroughItsHoldUntilItsNameChanges) {
    ASSERT_TRUE(plat::create_directory(dir.file("stage").c_str()));
    plat::File made = plat::File::open(dir.file("stage\\Carried.bin").c_str(), plat::Access::ReadWrite,
                                       plat::Disposition::CreateNew);
    ASSERT_TRUE(made);
    std::uint32_t put = 0;
    ASSERT_TRUE(plat::write_file(made.get(), "ours", 4, &put));
    plat::hold_file(dir.file("stage\\Carried.bin"), std::move(made));
    EXPECT_EQ(read_file(dir.file("STAGE\\.\\x\\..\\carried.BIN")), "ours");
    EXPECT_EQ(read_file(dir.file("stage\\carried.bin")), "ours") << "a second reader starts at the start";

    write_file(dir.file("game.bin"), "the game's");
    ASSERT_TRUE(plat::move_held_file(dir.file("stage\\carried.bin").c_str(), dir.file("game.bin").c_str()))
        << plat::last_error_text();
    EXPECT_FALSE(plat::file_exists(dir.file("stage\\carried.bin").c_str()));
    EXPECT_TRUE(plat::holds_file(dir.file("game.bin").c_str()));
#ifndef _WIN32
    // Another program puts something else under the name; Windows refuses that while it is held.
    std::string host = plat::to_native_path(dir.file("game.bin").c_str());
    write_file(dir.file("theirs.bin"), "theirs");
    ASSERT_EQ(::rename(plat::to_native_path(dir.file("theirs.bin").c_str()).c_str(), host.c_str()), 0);
#endif
    plat::change_directory(dir.path().c_str());
    std::FILE* f = plat::open_text("game.bin", "rb");
    ASSERT_NE(f, nullptr);
    char line[16] = {};
    ASSERT_NE(std::fgets(line, sizeof line, f), nullptr);
    EXPECT_STREQ(line, "ours");
    std::fclose(f);

    // The run's own change of the name lets the hold go: the write goes to the name.
    write_file(dir.file("game.bin"), "rewritten");
    EXPECT_FALSE(plat::holds_file(dir.file("game.bin").c_str()));
    EXPECT_EQ(read_file(dir.file("game.bin")), "rewritten");
}

// The stage is held while the run uses it: a folder only, never a link or a file, and on
// Windows one that cannot be removed (or renamed) while held.
TEST_F(PlatformFiles, HoldsAFolderButNeitherALinkNorAFile) {
    const std::string own = dir.file("own");
    ASSERT_TRUE(plat::create_directory(own.c_str()));
    plat::File held(plat::hold_folder(own.c_str()));
    ASSERT_TRUE(held) << plat::last_error_text();
    write_file(dir.file("file"), "x");
    EXPECT_FALSE(plat::File(plat::hold_folder(dir.file("file").c_str())));
    EXPECT_EQ(plat::last_error(), plat::Error::AccessDenied);
#ifdef _WIN32
    EXPECT_FALSE(plat::remove_directory(own.c_str())) << "a held folder stays";
#else
    std::filesystem::create_directory_symlink(plat::to_native_path(own.c_str()),
                                              plat::to_native_path(dir.file("link").c_str()));
    EXPECT_FALSE(plat::File(plat::hold_folder(dir.file("link").c_str())));
    EXPECT_EQ(plat::last_error(), plat::Error::AccessDenied);
#endif
    held.close();
    EXPECT_TRUE(plat::remove_directory(own.c_str()));
}

// The copy of a file, never over a name that is taken; and the administrators' folder, made
// or, when there, kept. (Copying the running installer's own file is tested under Wine.)
TEST_F(PlatformFiles, CopiesAFileOnlyToANewNameAndKeepsAnAdministratorsFolder) {
    write_file(dir.file("from.exe"), "program");
    write_file(dir.file("taken.exe"), "other");
    EXPECT_TRUE(plat::copy_file(dir.file("from.exe").c_str(), dir.file("copy.exe").c_str()));
    EXPECT_EQ(read_file(dir.file("copy.exe")), "program");
    EXPECT_FALSE(plat::copy_file(dir.file("from.exe").c_str(), dir.file("taken.exe").c_str()));
    EXPECT_EQ(plat::last_error(), plat::Error::AlreadyExists);
    EXPECT_EQ(read_file(dir.file("taken.exe")), "other");
    EXPECT_FALSE(plat::copy_file(dir.file("none.exe").c_str(), dir.file("new.exe").c_str()));
    EXPECT_FALSE(plat::file_exists(dir.file("new.exe").c_str()));

    const std::string admin = dir.path() + "admin";
    EXPECT_TRUE(plat::create_admin_directory(admin.c_str()));
    write_file(admin + "\\kept.txt", "kept");
    EXPECT_TRUE(plat::create_admin_directory(admin.c_str()));
    EXPECT_EQ(read_file(admin + "\\kept.txt"), "kept");
    EXPECT_FALSE(plat::create_admin_directory(dir.file("from.exe").c_str()));
}

}  // namespace

// What the installer may trust of a name: below a folder only when written plainly, and its own
// folders made for this user, which its own check then takes.
TEST_F(PlatformFiles, TrustsANameBelowAFolderOnlyWhenWrittenPlainly) {
    const std::string root = dir.path() + "game";
    ASSERT_TRUE(plat::create_directory(root.c_str()));
    struct Case {
        std::string path;
        bool trusted;
    } cases[] = {
        {root + "\\data\\hero.mul", true},  // names below that do not exist yet
        {root + "\\GAME.ini", true},
        {dir.path() + "GAME\\x", true},     // the folder's name in another case
        {root + "\\..\\secret", false},
        {root + "\\.\\x", false},
        {root + "\\\\x", false},
        {root + "\\a/..\\x", false},
        {root + "\\x:stream", false},
        {root + "\\", false},
        {root + "x\\y", false},             // a neighbour whose name begins alike
        {"c:\\elsewhere\\x", false},
        // The same folder named through another drive (Wine's c: and z: both reach a prefix's
        // files): only the root as written is the root.
        {std::string(1, (root[0] | 0x20) == 'y' ? 'x' : 'y') + root.substr(1) + "\\x", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(plat::why_not_beneath(root, c.path).empty(), c.trusted) << plat::why_not_beneath(root, c.path);
        EXPECT_EQ(plat::why_not_beneath(root + "\\", c.path).empty(), c.trusted);
    }

    const std::string own = root + "\\own";
    ASSERT_TRUE(plat::create_private_directory(own.c_str(), true));
    EXPECT_FALSE(plat::create_private_directory(own.c_str())) << "a name that exists is never taken over";
    EXPECT_EQ(plat::entry_kind(own.c_str()), plat::EntryKind::Directory);
    EXPECT_TRUE(plat::owned_safely(own.c_str()));
    write_file(own + "\\file", "x");
    ASSERT_TRUE(plat::restrict_to_owner_writes((own + "\\file").c_str()));
    EXPECT_TRUE(plat::owned_safely((own + "\\file").c_str()));
    EXPECT_EQ(plat::entry_kind((own + "\\file").c_str()), plat::EntryKind::File);
    EXPECT_EQ(plat::entry_kind((own + "\\none").c_str()), plat::EntryKind::Missing);
    EXPECT_TRUE(plat::remove_tree(own));
    EXPECT_EQ(plat::entry_kind(own.c_str()), plat::EntryKind::Missing);

    std::string a = plat::random_name_part(), b = plat::random_name_part();
    EXPECT_EQ(a.size(), 16u);
    EXPECT_NE(a, b);
}
