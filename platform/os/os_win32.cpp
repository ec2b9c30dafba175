// The system's calls on Windows: each operation is the ANSI Win32 call of the same meaning, with
// no hook (the chain in front of them is intercept/chain.cpp). Files are opened with share
// mode 0, as the game's own file library does.
#include "platform/platform.h"
#include "base/report.h"
#include "platform/os/os.h"

#include <windows.h>

#include <direct.h>
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstring>
#include <vector>
#include <memory>

namespace plat {

namespace {

thread_local Error g_last_error = Error::None;
thread_local DWORD g_last_code = 0;

Error error_from_code(DWORD code) {
    switch (code) {
        case ERROR_SUCCESS: return Error::None;
        case ERROR_FILE_NOT_FOUND: return Error::FileNotFound;
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME: return Error::PathNotFound;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION: return Error::SharingViolation;
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT: return Error::AccessDenied;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return Error::DiskFull;
        case ERROR_FILENAME_EXCED_RANGE:
        case ERROR_BUFFER_OVERFLOW: return Error::NameTooLong;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS: return Error::AlreadyExists;
        default: return Error::Other;
    }
}

void remember_last_error() {
    g_last_code = GetLastError();
    g_last_error = error_from_code(g_last_code);
}

void set_error(Error e, DWORD code);

}  // namespace

void os::set_error_kind(Error e) {
    switch (e) {
        case Error::None: set_error(e, NO_ERROR); break;
        case Error::FileNotFound: set_error(e, ERROR_FILE_NOT_FOUND); break;
        case Error::PathNotFound: set_error(e, ERROR_PATH_NOT_FOUND); break;
        case Error::AlreadyExists: set_error(e, ERROR_FILE_EXISTS); break;
        case Error::AccessDenied: set_error(e, ERROR_ACCESS_DENIED); break;
        case Error::SharingViolation: set_error(e, ERROR_SHARING_VIOLATION); break;
        case Error::DiskFull: set_error(e, ERROR_DISK_FULL); break;
        default: set_error(e, ERROR_GEN_FAILURE); break;
    }
}

os::SavedError os::saved_error() { return {g_last_error, static_cast<long>(g_last_code)}; }
void os::restore_error(SavedError saved) { set_error(saved.error, static_cast<DWORD>(saved.code)); }

namespace {

void set_error(Error e, DWORD code) {
    g_last_error = e;
    g_last_code = code;
}

HANDLE native(Handle h) { return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(h)); }

bool too_long(const char* path) { return std::strlen(path) > kMaxPath; }

}  // namespace

Handle os::open_file(const char* path, Access access, Disposition disposition) {
    if (too_long(path)) {
        set_error(Error::NameTooLong, ERROR_FILENAME_EXCED_RANGE);
        return Handle::Invalid;
    }
    DWORD desired = access == Access::Read    ? GENERIC_READ
                    : access == Access::Write ? GENERIC_WRITE
                                              : GENERIC_READ | GENERIC_WRITE;
    DWORD how = disposition == Disposition::CreateAlways ? CREATE_ALWAYS
                : disposition == Disposition::CreateNew  ? CREATE_NEW
                                                         : OPEN_EXISTING;
    // Windows refuses to write a read-only file by itself; Wine running as root does not.
    // Checking here keeps one behaviour wherever the program runs.
    if (desired & GENERIC_WRITE) {
        DWORD a = GetFileAttributesA(path);
        if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY) && !(a & FILE_ATTRIBUTE_DIRECTORY)) {
            set_error(Error::AccessDenied, ERROR_ACCESS_DENIED);
            return Handle::Invalid;
        }
    }
    // A file made new may be moved into place later while it is still held, which only its
    // own handle can do (rename_held): it is opened with the right to rename it.
    if (how == CREATE_NEW) desired |= DELETE;
    HANDLE h = CreateFileA(path, desired, 0, nullptr, how, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        remember_last_error();
        return Handle::Invalid;
    }
    // A name that opens a device or a pipe is no file of the game's.
    if (GetFileType(h) != FILE_TYPE_DISK) {
        CloseHandle(h);
        set_error(Error::AccessDenied, ERROR_ACCESS_DENIED);
        return Handle::Invalid;
    }
    set_error(Error::None, 0);
    return static_cast<Handle>(reinterpret_cast<std::intptr_t>(h));
}

bool os::read_file(Handle h, void* buffer, std::uint32_t count, std::uint32_t* bytes_read) {
    *bytes_read = 0;
    DWORD got = 0;
    BOOL ok = ReadFile(native(h), buffer, count, &got, nullptr);
    *bytes_read = got;
    if (!ok) remember_last_error();
    return ok != FALSE;
}

// On a handle opened without FILE_FLAG_OVERLAPPED, Windows reads at the offset given and
// serialises the call with the handle's other calls.
bool os::read_at(Handle h, std::int64_t offset, void* buffer, std::uint32_t count, std::uint32_t* bytes_read) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset & 0xffffffff);
    at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
    DWORD got = 0;
    BOOL ok = ReadFile(native(h), buffer, count, &got, &at);
    *bytes_read = got;
    return ok != FALSE || GetLastError() == ERROR_HANDLE_EOF;
}

bool os::write_file(Handle h, const void* buffer, std::uint32_t count, std::uint32_t* bytes_written) {
    *bytes_written = 0;
    DWORD put = 0;
    BOOL ok = WriteFile(native(h), buffer, count, &put, nullptr);
    *bytes_written = put;
    if (!ok) remember_last_error();
    return ok != FALSE;
}

std::int64_t os::seek_file(Handle h, std::int64_t offset, SeekFrom from) {
    DWORD method = from == SeekFrom::Begin ? FILE_BEGIN : from == SeekFrom::Current ? FILE_CURRENT : FILE_END;
    LONG high = static_cast<LONG>(offset >> 32);
    SetLastError(NO_ERROR);
    DWORD low = SetFilePointer(native(h), static_cast<LONG>(offset & 0xFFFFFFFF), &high, method);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) {
        remember_last_error();
        return -1;
    }
    return (static_cast<std::int64_t>(high) << 32) | low;
}

std::int64_t os::file_size(Handle h) {
    DWORD high = 0;
    SetLastError(NO_ERROR);
    DWORD low = GetFileSize(native(h), &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
        remember_last_error();
        return -1;
    }
    return (static_cast<std::int64_t>(high) << 32) | low;
}

bool os::flush_file(Handle h) {
    if (!FlushFileBuffers(native(h))) {
        remember_last_error();
        return false;
    }
    return true;
}

// Windows has no copy inside the kernel between two open files: the bytes go through one
// bounded buffer, read at the source's offset and appended at the target's position.
// Windows starts no writeback early of its own accord, so there is nothing to leave out.
void os::leave_in_cache(Handle) {}

// CopyFile reads with sharing, as the loader holds a running program's file, and fails on a
// name that is taken.
bool os::copy_file(const char* from, const char* to) {
    if (!CopyFileA(from, to, TRUE)) {
        remember_last_error();
        return false;
    }
    HANDLE h = CreateFileA(to, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    bool ok = h != INVALID_HANDLE_VALUE && FlushFileBuffers(h);
    if (!ok) remember_last_error();
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    return ok;
}

std::string os::long_path_name(const char* path) {
    char out[MAX_PATH + 1];
    DWORD n = GetLongPathNameA(path, out, sizeof out);
    return n == 0 || n >= sizeof out ? std::string(path) : std::string(out, n);
}

bool os::delete_at_restart(const char* path) {
    if (MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) return true;
    remember_last_error();
    return false;
}

bool os::copy_range(Handle from, std::int64_t from_offset, Handle to, std::int64_t length) {
    if (from_offset < 0 || length < 0) {
        set_error(Error::Other, ERROR_INVALID_PARAMETER);
        return false;
    }
    if (length == 0) return true;
    if (os::seek_file(from, from_offset, SeekFrom::Begin) < 0) return false;
    std::unique_ptr<char[]> buffer(new char[kCopyBufferSize]);
    while (length > 0) {
        DWORD want = static_cast<DWORD>(std::min<std::int64_t>(length, kCopyBufferSize));
        DWORD got = 0;
        if (!ReadFile(native(from), buffer.get(), want, &got, nullptr)) {
            remember_last_error();
            return false;
        }
        if (got == 0) {
            set_error(Error::Other, ERROR_HANDLE_EOF);
            return false;
        }
        DWORD put = 0;
        if (!WriteFile(native(to), buffer.get(), got, &put, nullptr)) {
            remember_last_error();
            return false;
        }
        if (put != got) {
            set_error(Error::DiskFull, ERROR_DISK_FULL);
            return false;
        }
        length -= got;
        report::keep_alive();
    }
    return true;
}

bool os::close_file(Handle h) {
    if (!CloseHandle(native(h))) {
        remember_last_error();
        return false;
    }
    return true;
}

Error last_error() { return g_last_error; }

std::string last_error_text() {
    char* text = nullptr;
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, g_last_code, 0x400, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string out = n && text ? std::string(text, n) : "Unknown error.";
    if (text) LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

bool os::exists(const char* path) {
    return !too_long(path) && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool os::is_directory(const char* path) {
    DWORD a = too_long(path) ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool os::delete_file(const char* path) {
    if (!DeleteFileA(path)) {
        remember_last_error();
        return false;
    }
    return true;
}

// The data of a closed file: FlushFileBuffers needs a handle that may write, and sharing
// everything lets the flush through beside any other opener that allows it.
bool os::flush_named_file(const char* path) {
    HANDLE h = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        remember_last_error();
        return false;
    }
    bool ok = FlushFileBuffers(h) != FALSE;
    if (!ok) remember_last_error();
    CloseHandle(h);
    return ok;
}

// MOVEFILE_WRITE_THROUGH waits for the rename only where it is a copy between volumes; within
// one volume it promises nothing, so the chain flushes the folders after this returns.
bool os::rename_file(const char* from, const char* to, RenameMode mode, Handle) {
    DWORD flags = MOVEFILE_WRITE_THROUGH | (mode == RenameMode::Replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (!MoveFileExA(from, to, flags)) {
        remember_last_error();
        return false;
    }
    return true;
}

// A folder is flushed through a handle of its own: it must be opened for writing (a read-only
// handle is refused), with FILE_FLAG_BACKUP_SEMANTICS (the only way to open a folder), and
// sharing everything, so that Explorer or a scanner holding the folder open does not collide.
os::FolderFlush os::flush_folder(const char* dir) {
    HANDLE h = CreateFileA(dir, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        remember_last_error();
        return FolderFlush::Failed;
    }
    BOOL ok = FlushFileBuffers(h);
    DWORD code = ok ? NO_ERROR : GetLastError();
    CloseHandle(h);
    if (ok) return FolderFlush::Done;
    if (code == ERROR_INVALID_FUNCTION || code == ERROR_NOT_SUPPORTED) return FolderFlush::Unsupported;
    set_error(error_from_code(code), code);
    return FolderFlush::Failed;
}

// Windows renames nothing over a file that is open without delete sharing.
bool os::renames_over_held_files() { return false; }

std::int64_t os::free_disk_bytes(const char* dir) {
    ULARGE_INTEGER available;
    if (too_long(dir) || !GetDiskFreeSpaceExA(dir, &available, nullptr, nullptr)) return -1;
    return static_cast<std::int64_t>(available.QuadPart);
}

std::int64_t os::modified_time(const char* path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return -1;
    ULARGE_INTEGER t;
    t.LowPart = data.ftLastWriteTime.dwLowDateTime;
    t.HighPart = data.ftLastWriteTime.dwHighDateTime;
    constexpr std::uint64_t kUnixEpoch = 116444736000000000ull;  // 1970-01-01 in 100 ns since 1601
    return t.QuadPart < kUnixEpoch ? -1 : static_cast<std::int64_t>((t.QuadPart - kUnixEpoch) / 10000000ull);
}

bool os::list_directory(const char* dir, std::vector<std::string>* names) {
    std::string pattern = dir;
    if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/') pattern += '\\';
    pattern += '*';
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        remember_last_error();
        return false;
    }
    names->clear();
    do {
        std::string name = found.cFileName;
        if (name != "." && name != "..") names->push_back(name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return true;
}

bool os::copy_file_attributes(const char* from, const char* to) {
    DWORD a = GetFileAttributesA(from);
    if (a == INVALID_FILE_ATTRIBUTES) {
        remember_last_error();
        return false;
    }
    // Hidden, system and archive carry over; read-only targets are refused before this.
    a &= FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
    if (!SetFileAttributesA(to, a ? a : FILE_ATTRIBUTE_NORMAL)) {
        remember_last_error();
        return false;
    }
    return true;
}

bool os::is_read_only(const char* path) {
    DWORD a = too_long(path) ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY) && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool os::create_directory(const char* path) {
    if (!CreateDirectoryA(path, nullptr)) {
        remember_last_error();
        return false;
    }
    return true;
}

bool os::set_read_only(const char* path, bool read_only) {
    DWORD a = GetFileAttributesA(path);
    if (a == INVALID_FILE_ATTRIBUTES) {
        remember_last_error();
        return false;
    }
    a = read_only ? (a | FILE_ATTRIBUTE_READONLY) : (a & ~FILE_ATTRIBUTE_READONLY);
    if (!SetFileAttributesA(path, a ? a : FILE_ATTRIBUTE_NORMAL)) {
        remember_last_error();
        return false;
    }
    return true;
}

bool os::remove_directory(const char* path) {
    if (!RemoveDirectoryA(path)) {
        remember_last_error();
        return false;
    }
    return true;
}

std::FILE* os::open_text(const char* path, const char* mode) {
    if (too_long(path)) {
        set_error(Error::NameTooLong, ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    std::FILE* f = std::fopen(path, mode);
    if (!f) {
        // The runtime keeps the system's own code of a failed open beside errno.
        DWORD code = static_cast<DWORD>(_doserrno);
        set_error(code ? error_from_code(code) : Error::Other, code);
    }
    return f;
}

Handle os::duplicate_file(Handle h) {
    HANDLE out = nullptr;
    HANDLE self = GetCurrentProcess();
    if (!DuplicateHandle(self, native(h), self, &out, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        remember_last_error();
        return Handle::Invalid;
    }
    if (SetFilePointer(out, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) {
        remember_last_error();
        CloseHandle(out);
        return Handle::Invalid;
    }
    set_error(Error::None, 0);
    return static_cast<Handle>(reinterpret_cast<std::intptr_t>(out));
}

std::FILE* os::open_text_on(Handle h, const char* mode) {
    int flags = _O_BINARY | (std::strchr(mode, '+') ? _O_RDWR : mode[0] == 'r' ? _O_RDONLY : _O_WRONLY);
    if (mode[0] == 'a') flags |= _O_APPEND;
    int fd = _open_osfhandle(static_cast<intptr_t>(reinterpret_cast<std::intptr_t>(native(h))), flags);
    if (fd < 0) {
        set_error(Error::Other, ERROR_INVALID_HANDLE);
        CloseHandle(native(h));
        return nullptr;
    }
    std::FILE* f = _fdopen(fd, mode);
    if (!f) {
        set_error(Error::Other, ERROR_INVALID_HANDLE);
        _close(fd);  // closes the handle too
    }
    return f;
}

// A file held open without delete sharing cannot be renamed by name, not even by its holder:
// the rename goes through the handle itself, which names the file whatever became of `from`.
bool os::rename_held(Handle h, const char*, const char* to) {
    char full[MAX_PATH + 1];
    DWORD n = GetFullPathNameA(to, sizeof full, full, nullptr);
    if (n == 0 || n >= sizeof full) {
        if (n) SetLastError(ERROR_FILENAME_EXCED_RANGE);
        remember_last_error();
        return false;
    }
    int wide = MultiByteToWideChar(CP_ACP, 0, full, -1, nullptr, 0);
    if (wide <= 0) {
        remember_last_error();
        return false;
    }
    std::size_t bytes = sizeof(FILE_RENAME_INFO) + static_cast<std::size_t>(wide) * sizeof(WCHAR);
    std::vector<unsigned char> buffer(bytes, 0);
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = TRUE;
    info->RootDirectory = nullptr;
    MultiByteToWideChar(CP_ACP, 0, full, -1, info->FileName, wide);
    info->FileNameLength = static_cast<DWORD>((wide - 1) * sizeof(WCHAR));
    if (!SetFileInformationByHandle(native(h), FileRenameInfo, info, static_cast<DWORD>(bytes))) {
        remember_last_error();
        return false;
    }
    return true;
}

std::string os::current_directory() {
    char buf[MAX_PATH + 1];
    int drive = _getdrive();
    if (drive <= 0 || !_getdcwd(drive, buf, sizeof buf)) {
        DWORD n = GetCurrentDirectoryA(sizeof buf, buf);
        if (n == 0 || n >= sizeof buf) return {};
    }
    return buf;
}

bool os::change_directory(const char* path) {
    if (!SetCurrentDirectoryA(path)) {
        remember_last_error();
        return false;
    }
    return true;
}

std::string os::temp_directory() {
    char buf[MAX_PATH + 1];
    DWORD n = GetTempPathA(sizeof buf, buf);
    if (n == 0 || n >= sizeof buf) return "c:\\";
    std::string dir(buf, n);
    if (dir.back() != '\\') dir += '\\';
    return dir;
}

std::string program_path() {
    char buf[MAX_PATH + 1];
    DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
    // A name that filled the buffer was cut short: no use for finding files beside it.
    if (n == 0 || n >= sizeof buf) {
        remember_last_error();
        return {};
    }
    return std::string(buf, n);
}

// Windows takes either slash; the core's paths are compared as text, in one spelling (as the
// POSIX side gives a drive path), so that "z:/g" and "z:\g" name one game.
std::string from_native_path(const char* native) {
    std::string p = native;
    for (char& c : p) c = c == '/' ? '\\' : c;
    return p;
}

std::string to_native_path(const char* path) { return path; }
std::string to_host_text(const std::string& text) { return text; }

std::string to_host_text(const std::string& text, int) { return text; }

void print_text(std::FILE* stream, const std::string& text, int code_page) {
    HANDLE h = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    int wide_length = 0;
    if (!text.empty() && h && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode)) {
        UINT from = code_page == 0 ? CP_ACP : static_cast<UINT>(code_page);
        wide_length = MultiByteToWideChar(from, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
        if (wide_length > 0) {
            std::wstring wide(static_cast<std::size_t>(wide_length), L'\0');
            MultiByteToWideChar(from, 0, text.data(), static_cast<int>(text.size()), wide.data(), wide_length);
            // What the runtime holds for the stream goes first, so that the order stays.
            std::fflush(stream);
            DWORD written = 0;
            if (WriteConsoleW(h, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr)) return;
        }
    }
    std::fwrite(text.data(), 1, text.size(), stream);
}

std::string display_path(const std::string& path) { return path; }

std::uint32_t process_id() { return GetCurrentProcessId(); }

// A process that has ended is still signalled while a handle keeps it; only one that does
// not answer the wait is running. One that may not be opened (another user's) counts as
// running.
bool os::process_running(std::uint32_t id) {
    HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, id);
    if (!h) return GetLastError() != ERROR_INVALID_PARAMETER;
    bool running = WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
    CloseHandle(h);
    return running;
}

bool write_standard_output(const void* bytes, std::size_t count) {
    static const bool binary = _setmode(_fileno(stdout), _O_BINARY) != -1;
    (void)binary;
    if (std::fwrite(bytes, 1, count, stdout) != count || std::fflush(stdout) != 0) {
        set_error(Error::Other, 0);
        return false;
    }
    return true;
}

bool stdin_is_terminal() {
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    return in && in != INVALID_HANDLE_VALUE && GetFileType(in) == FILE_TYPE_CHAR;
}

std::uint32_t tick_count() { return GetTickCount(); }
void sleep_ms(std::uint32_t ms) { Sleep(ms); }

void* memory_alloc(std::size_t bytes) {
    HGLOBAL h = GlobalAlloc(GMEM_FIXED, bytes);
    if (!h) {
        remember_last_error();
        return nullptr;
    }
    return GlobalLock(h);
}

void memory_free(void* block) {
    if (block) GlobalFree(GlobalHandle(block));
}

}  // namespace plat
