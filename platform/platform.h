// The operating-system operations the patch kit's core needs, behind one header.
//
// The installer is a Windows program and the game's files follow Windows rules: drive
// letters, backslashes, names matched without regard to case, and files opened without
// sharing. os/os_win32.cpp maps these calls one to one onto the ANSI Win32 API;
// os/os_posix.cpp gives the same semantics on Linux, so that the core, the command-line
// tool and the unit tests behave the same on both. Nothing outside platform/ calls the OS.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace plat {

// An open file. Opaque: a HANDLE on Windows, a file descriptor on POSIX.
enum class Handle : std::intptr_t { Invalid = -1 };

enum class Access {
    Read,       // GENERIC_READ
    Write,      // GENERIC_WRITE
    ReadWrite,  // GENERIC_READ | GENERIC_WRITE
};

enum class Disposition {
    OpenExisting,  // OPEN_EXISTING: fail when the file does not exist.
    CreateAlways,  // CREATE_ALWAYS: create, or truncate an existing file to 0 bytes.
    CreateNew,     // CREATE_NEW: create; fail with AlreadyExists when the name is taken.
};

// The failures a Windows caller can tell apart.
enum class Error {
    None,
    FileNotFound,      // ERROR_FILE_NOT_FOUND: the directory exists, the file does not.
    PathNotFound,      // ERROR_PATH_NOT_FOUND: a directory of the path is missing.
    SharingViolation,  // ERROR_SHARING_VIOLATION: another opener holds the file.
    AccessDenied,      // ERROR_ACCESS_DENIED: read-only file, or a directory.
    DiskFull,          // ERROR_DISK_FULL
    NameTooLong,       // the path does not fit a Windows path buffer
    AlreadyExists,     // ERROR_FILE_EXISTS: CreateNew found the name taken
    Other,
};

// Longest path, in characters, that a path buffer of the core holds (MAX_PATH less its NUL
// would be 259; one more keeps every path that fits a 260-byte Win32 buffer).
constexpr std::size_t kMaxPath = 260;

// Files. Every open is exclusive (share mode 0): a second open of the same file fails with
// SharingViolation until the first is closed.
Handle open_file(const char* path, Access access, Disposition disposition);
bool read_file(Handle h, void* buffer, std::uint32_t count, std::uint32_t* bytes_read);
bool write_file(Handle h, const void* buffer, std::uint32_t count, std::uint32_t* bytes_written);
// Reads up to `count` bytes at `offset`, and may run on another thread beside the owner's
// calls on the same handle (a flush, say); the file position afterwards is unspecified. It
// sets no error and takes no part in fault injection: it serves work that has a fallback.
bool read_at(Handle h, std::int64_t offset, void* buffer, std::uint32_t count, std::uint32_t* bytes_read);

enum class SeekFrom { Begin, Current, End };
// Moves the file pointer; returns the new absolute position, or -1 (pointer unchanged).
std::int64_t seek_file(Handle h, std::int64_t offset, SeekFrom from);
// Size in bytes, or -1.
std::int64_t file_size(Handle h);
bool flush_file(Handle h);
bool close_file(Handle h);

// Copies `length` bytes of `from`, starting at `from_offset`, to `to` at its current position,
// which moves on by what was copied; the position of `from` is left undefined. Inside the
// kernel where the system can (no data passes through this process), through a bounded buffer
// otherwise: memory does not grow with the length. Fails when `from` ends before `length`
// bytes (Error::Other) or on any error of the system; what was copied up to then stays.
bool copy_range(Handle from, std::int64_t from_offset, Handle to, std::int64_t length);
// Reads `length` bytes from each file's current position, side by side in pieces of 1 MiB
// (memory does not grow with the length), and sets `*same`. False when a read fails or a file
// ends early.
bool same_bytes(Handle a, Handle b, std::int64_t length, bool* same);
// The buffer of the copy where the kernel cannot do it.
constexpr std::size_t kCopyBufferSize = 1u << 20;

// An open file that closes itself: the owner of a Handle. Move-only.
class File {
public:
    File() = default;
    explicit File(Handle h) : handle_(h) {}
    // Opens a file (open_file); check the result with is_open().
    static File open(const char* path, Access access, Disposition disposition);
    ~File() { close(); }
    File(File&& other) noexcept : handle_(other.release()) {}
    File& operator=(File&& other) noexcept {
        if (this != &other) {
            close();
            handle_ = other.release();
        }
        return *this;
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    Handle get() const { return handle_; }
    bool is_open() const { return handle_ != Handle::Invalid; }
    explicit operator bool() const { return is_open(); }
    // Gives up ownership: the caller closes the handle.
    Handle release() {
        Handle h = handle_;
        handle_ = Handle::Invalid;
        return h;
    }
    // Closes now and says whether the system reported the close as done (a file written
    // through a cache may report a lost write only here). Closing nothing succeeds.
    bool close() {
        Handle h = release();
        return h == Handle::Invalid || close_file(h);
    }

private:
    Handle handle_ = Handle::Invalid;
};

inline File File::open(const char* path, Access access, Disposition disposition) {
    return File(open_file(path, access, disposition));
}

// The whole contents of a file, read at once. The size is checked against `max_bytes`
// before anything is allocated, so that a huge or endless file costs no memory.
enum class ReadWholeResult {
    Done,
    OpenFailed,  // last_error() tells why
    SizeFailed,  // the size could not be read; last_error() tells why
    TooLarge,    // larger than max_bytes; *size holds its size
    ReadFailed,  // last_error() tells why
    EndedEarly,  // the file held fewer bytes than its size said: `out` holds what was read
};
// `*size`, when given, receives the file's size once known.
ReadWholeResult read_whole_file(const char* path, std::int64_t max_bytes, std::vector<std::uint8_t>* out,
                                std::int64_t* size = nullptr);

// The error of the last failed call of this thread, and its text as the system words it.
Error last_error();
std::string last_error_text();

// Names.
bool file_exists(const char* path);  // a file or a directory
bool is_directory(const char* path);
bool delete_file(const char* path);
// Puts `from` in the place of `to` in one step: a crash leaves either the old or the new
// file under `to`, never neither. Three steps, each with its own point of fault injection:
// `from`'s data is flushed (Flush), the name changes (Replace), and the folders of both names
// are flushed (FlushFolder). Both the data and the new name are on disk when this returns true.
bool replace_file(const char* from, const char* to);
// The same for a target that the caller holds open through `target_lock`, so that no other
// program can open the old file between the caller's last read and the swap. The handle is
// closed in every case. Where the system cannot rename over an open file, it is closed just
// before the rename. The caller has flushed `from` already (the safe rewrite does, through its
// own handle), so only the rename and the folders remain.
bool replace_locked_file(const char* from, const char* to, Handle target_lock);
// Gives `from` the new name `to`, which must not exist yet (AlreadyExists otherwise), on the
// same volume; the new name is on disk when this returns true (its folders were flushed; the
// data is not flushed here). `held`: the caller's own
// handle on `from`, which may be renamed while it is held where the system allows it.
bool move_file(const char* from, const char* to, Handle held = Handle::Invalid);
// Puts the entries of folder `dir` on the disk: a name created, renamed or deleted in it lasts
// through a power cut once this returns true. A file system that cannot flush a folder counts
// as done and is noted in durability(); an I/O error fails.
bool flush_folder(const char* dir);

// The last file this thread was refused because another program has it open or it may not be
// written (an open, a delete or a replacement failed with SharingViolation or AccessDenied), so
// that a failure can advise the user what to do about it; empty path when there was none
// since clear_refused_file().
struct RefusedFile {
    std::string path;
    Error error = Error::None;
};
RefusedFile last_refused_file();
void clear_refused_file();

// What this process learnt of the disks' durability, for the install's log.
struct Durability {
    bool folder_flush_unsupported = false;  // a file system could not flush a folder
    std::string first_folder;               // the first such folder
};
const Durability& durability();
void reset_durability();

// The bytes the caller may still write on the volume of directory `dir`; -1 when unknown.
std::int64_t free_disk_bytes(const char* dir);
// When the file was last written, in seconds since 1970 (UTC); -1 when unknown.
std::int64_t modified_time(const char* path);
// The path with each component in its long form (on Windows, short 8.3 names expanded, as
// GetLongPathName gives them), so that one folder has one spelling; the path as given when the
// system cannot tell (a name that is not there).
std::string long_path_name(const char* path);
// Copies the whole file `from` to the new name `to` (fails with AlreadyExists when it is taken),
// reading `from` with read sharing, so that a running program can copy its own file; `to` is
// on the disk when this returns.
bool copy_file(const char* from, const char* to);
// Deletes the file, or the empty folder, when the machine next starts: for a program that
// cannot delete its own file while it runs. False where the system cannot (POSIX).
bool delete_at_restart(const char* path);
// The names in a directory, "." and ".." left out, in no particular order.
bool list_directory(const char* dir, std::vector<std::string>* names);
// Gives `to` the permissions (and, where the system lets us, the owner) of `from`, so that a
// rewritten file keeps what its owner set on it.
bool copy_file_attributes(const char* from, const char* to);
// Whether the file exists and may not be written (the read-only attribute; on POSIX, no write
// permission bit at all).
bool is_read_only(const char* path);
bool create_directory(const char* path);
// Sets or clears the read-only attribute (on POSIX: every write permission bit).
bool set_read_only(const char* path, bool read_only);
bool remove_directory(const char* path);

// A text stream of the C runtime on a path in this layer's form; null on failure.
std::FILE* open_text(const char* path, const char* mode);

// Current directory in drive form: "c:\games\dravo" (no trailing backslash but at the root:
// "c:\"). The drive letter comes as the system reports it.
std::string current_directory();
bool change_directory(const char* path);
// A directory for scratch files, in drive form, ending with a backslash.
std::string temp_directory();
// The running program's own file, in drive form, so that files shipped beside it can be found
// wherever it was installed; empty when the system cannot tell.
std::string program_path();
// A host path (as a user types it on this system) in this layer's drive form. On Windows
// this is the path itself. On POSIX the host's UTF-8 becomes the core's code page; a
// character the code page cannot hold becomes '?', which no file name holds, so that the
// path is refused rather than taken for another one.
std::string from_native_path(const char* native);
// The path in the host's own form: on Windows the path itself; on POSIX the translated
// path in UTF-8 with every existing component matched without regard to case.
std::string to_native_path(const char* path);
// Text of the core (in the code page) as the host's terminal shows it: on Windows the text
// itself; on POSIX in UTF-8.
std::string to_host_text(const std::string& text);
// The same for a text of the game in a code page of its own (a message of a "#RUS" section is
// in 1251): on POSIX in UTF-8 through that code page's characters; on Windows the text itself.
std::string to_host_text(const std::string& text, int code_page);
// Prints text for a person on `stream` (stdout or stderr): text of the core (`code_page` 0),
// of the game in a code page of its own, or UTF-8 (kUtf8CodePage). On a Windows console it
// goes through WriteConsoleW, so that every character shows whatever the console's own code
// page; anywhere else its bytes as to_host_text gives them (UTF-8 text as it is).
constexpr int kUtf8CodePage = 65001;
void print_text(std::FILE* stream, const std::string& text, int code_page = 0);

// A path of this layer's form as the user of this system reads it: on Windows the path
// itself, on POSIX the host path it names. Like every text of the core it is in the code page:
// print it through to_host_text.
std::string display_path(const std::string& path);

// This process's number, for scratch names that no other process picks.
std::uint32_t process_id();
// Whether a process of that number is running now (so that its scratch files may still be
// written); a number the system cannot tell about counts as running.
bool process_running(std::uint32_t id);

// Writes bytes to standard output exactly as they are (no line-end translation) and flushes.
bool write_standard_output(const void* bytes, std::size_t count);

// Whether standard input is a terminal a person can answer at.
bool stdin_is_terminal();

// Milliseconds since some fixed moment; wraps like GetTickCount.
std::uint32_t tick_count();
void sleep_ms(std::uint32_t ms);

// Memory that the file library hands out in its own blocks.
void* memory_alloc(std::size_t bytes);
void memory_free(void* block);

// Fault injection for tests: the Nth call of one operation from now (1 = the next one) fails
// as the system would fail it, doing nothing: open as a sharing violation, read as a device
// error, write and copy as a full disk, flush (of a file or a folder) as a device error, replace
// and delete as access denied. 0 switches an operation off. Every public operation honours it,
// in the one chain in front of the system's calls.
enum class FaultOp {
    Open,     // open_file, open_text
    Read,     // read_file
    Write,    // write_file
    Flush,    // flush_file, and the flush of the new file that begins replace_file
    Replace,  // the rename of replace_file, replace_locked_file (the lock is still closed), move_file
    Delete,   // delete_file
    Copy,     // copy_range
    FlushFolder,  // flush_folder, and the folder flushes that end replace_file and move_file
};
constexpr int kFaultOps = 8;
const char* fault_op_name(FaultOp op);

struct FaultInjection {
    long fail_at[kFaultOps] = {};  // countdowns; the call that brings one to 0 fails
    long calls[kFaultOps] = {};    // calls of each operation since the last reset
    long injected = 0;             // failures injected since the last reset
    long fail_write_at = 0;        // the same as fail_at[Write], kept for older tests
    long writes_seen = 0;          // write_file calls since the last reset

    void fail_nth(FaultOp op, long n) { fail_at[static_cast<int>(op)] = n; }
};
FaultInjection& fault_injection();
void reset_fault_injection();

}  // namespace plat
