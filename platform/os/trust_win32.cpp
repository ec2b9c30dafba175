// Names that others may have planted, on Windows: a reparse point (a symbolic link, a junction,
// a mount point) counts as a link; folders are opened with FILE_FLAG_OPEN_REPARSE_POINT and
// held without delete sharing while a tree is removed below them, so that none can be swapped
// for a link on the way; the kit's own folders get an access list of their own.
#include "platform/os/os.h"
#include "platform/rules/winpath.h"

#include <windows.h>

#include <aclapi.h>
#include <fcntl.h>
#include <io.h>
#include <sddl.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

// RtlGenRandom, exported by ADVAPI32 (one of the system's known DLLs) as SystemFunction036.
extern "C" BOOLEAN NTAPI SystemFunction036(PVOID buffer, ULONG length);

namespace plat {

static_assert(FILE_ATTRIBUTE_DIRECTORY == kAttributeDirectory && FILE_ATTRIBUTE_DEVICE == kAttributeDevice &&
              FILE_ATTRIBUTE_REPARSE_POINT == kAttributeReparsePoint);

namespace {

bool too_long(const char* path) { return std::strlen(path) > kMaxPath; }

void fail_with(DWORD code) { os::restore_error({code == ERROR_ACCESS_DENIED ? Error::AccessDenied : Error::Other, static_cast<long>(code)}); }

void fail_with_last() {
    DWORD code = GetLastError();
    switch (code) {
        case ERROR_FILE_NOT_FOUND: os::restore_error({Error::FileNotFound, static_cast<long>(code)}); break;
        case ERROR_PATH_NOT_FOUND: os::restore_error({Error::PathNotFound, static_cast<long>(code)}); break;
        case ERROR_SHARING_VIOLATION: os::restore_error({Error::SharingViolation, static_cast<long>(code)}); break;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS: os::restore_error({Error::AlreadyExists, static_cast<long>(code)}); break;
        default: fail_with(code); break;
    }
}

// The SID of the user this process runs as, in a buffer the caller keeps.
bool process_user(std::vector<unsigned char>* buffer) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    buffer->assign(size ? size : 1, 0);
    bool ok = size && GetTokenInformation(token, TokenUser, buffer->data(), size, &size);
    CloseHandle(token);
    return ok;
}

PSID sid_of(std::vector<unsigned char>& token_user) { return reinterpret_cast<TOKEN_USER*>(token_user.data())->User.Sid; }

bool is_well_known(PSID sid, WELL_KNOWN_SID_TYPE type) { return IsWellKnownSid(sid, type) != FALSE; }

// The owners and writers the kit trusts: this user, the administrators, the system.
bool trusted_sid(PSID sid, PSID user) {
    return (user && EqualSid(sid, user)) || is_well_known(sid, WinBuiltinAdministratorsSid) ||
           is_well_known(sid, WinLocalSystemSid) || is_well_known(sid, WinCreatorOwnerSid);
}

constexpr DWORD kWriteRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD | DELETE |
                               WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

// Removes everything in the folder `dir` (no trailing backslash), which the caller holds open.
bool remove_below(const std::string& dir);

// Opens a folder itself, not what a reparse point there leads to, and holds it: without delete
// sharing, no one can rename it or put a link in its place while it is held.
HANDLE hold_folder_itself(const std::string& dir) {
    HANDLE h = CreateFileA(dir.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        fail_with_last();
        return h;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        CloseHandle(h);
        fail_with(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

bool remove_entry(const std::string& path, DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    // A reparse point goes itself: RemoveDirectory takes a junction or a folder link away
    // without touching what it leads to, DeleteFile a file link.
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT) && !remove_below(path)) return false;
        if (RemoveDirectoryA(path.c_str())) return true;
    } else if (DeleteFileA(path.c_str())) {
        return true;
    }
    fail_with_last();
    return false;
}

bool remove_below(const std::string& dir) {
    HANDLE held = hold_folder_itself(dir);
    if (held == INVALID_HANDLE_VALUE) return false;
    std::vector<std::pair<std::string, DWORD>> entries;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((dir + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name != "." && name != "..") entries.emplace_back(dir + "\\" + name, found.dwFileAttributes);
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    bool ok = true;
    for (const auto& [path, attributes] : entries) ok = remove_entry(path, attributes) && ok;
    CloseHandle(held);  // the folder itself is removed by the caller, which needs it let go
    return ok;
}

}  // namespace

EntryKind os::entry_kind(const char* path) {
    DWORD a = too_long(path) ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(path);
    if (a == INVALID_FILE_ATTRIBUTES) return EntryKind::Missing;
    return static_cast<EntryKind>(entry_kind_of_attributes(a));
}

bool os::owned_safely(const char* path) {
    if (entry_kind(path) == EntryKind::Link) return false;
    std::vector<unsigned char> token_user;
    PSID user = process_user(&token_user) ? sid_of(token_user) : nullptr;
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    DWORD rc = GetNamedSecurityInfoA(path, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                     &owner, nullptr, &dacl, nullptr, &sd);
    if (rc != ERROR_SUCCESS) {
        fail_with(rc);
        return false;
    }
    // No access list at all lets everyone do everything.
    bool safe = owner && trusted_sid(owner, user) && dacl;
    for (DWORD i = 0; safe && i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(dacl, i, &ace)) {
            safe = false;
            break;
        }
        auto* header = static_cast<ACE_HEADER*>(ace);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE)) continue;
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        if ((allowed->Mask & kWriteRights) && !trusted_sid(&allowed->SidStart, user)) safe = false;
    }
    LocalFree(sd);
    return safe;
}

bool os::create_private_directory(const char* path, bool others_read) {
    std::vector<unsigned char> token_user;
    char* user = nullptr;
    if (!process_user(&token_user) || !ConvertSidToStringSidA(sid_of(token_user), &user)) {
        fail_with_last();
        return false;
    }
    // Protected from the parent's list: full control for this user, the administrators and the
    // system, and with `others_read` reading for everyone else.
    std::string sddl = std::string("O:") + user + "D:P(A;OICI;FA;;;" + user + ")(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";
    if (others_read) sddl += "(A;OICI;0x1200a9;;;BU)";
    LocalFree(user);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, FALSE};
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                              &attributes.lpSecurityDescriptor, nullptr)) {
        fail_with_last();
        return false;
    }
    // CreateDirectory fails on any name that exists, a reparse point included.
    bool ok = CreateDirectoryA(path, &attributes) != FALSE;
    if (!ok) fail_with_last();
    LocalFree(attributes.lpSecurityDescriptor);
    return ok;
}

bool os::create_admin_directory(const char* path) {
    // Protected from the parent's list: full control for the system and the administrators,
    // reading and running for the users, and the administrators as owner, so that a user who
    // made the name first cannot keep a say in it.
    const char* sddl = "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
    SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, FALSE};
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &attributes.lpSecurityDescriptor,
                                                              nullptr)) {
        fail_with_last();
        return false;
    }
    bool ok = CreateDirectoryA(path, &attributes) != FALSE;
    if (!ok && GetLastError() == ERROR_ALREADY_EXISTS && os::entry_kind(path) == EntryKind::Directory) {
        // A folder of that name already: it gets the same list and owner.
        PACL dacl = nullptr;
        PSID owner = nullptr;
        BOOL present = FALSE, defaulted = FALSE;
        ok = GetSecurityDescriptorDacl(attributes.lpSecurityDescriptor, &present, &dacl, &defaulted) &&
             GetSecurityDescriptorOwner(attributes.lpSecurityDescriptor, &owner, &defaulted);
        DWORD status = ok ? SetNamedSecurityInfoA(const_cast<char*>(path), SE_FILE_OBJECT,
                                                  OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                                      PROTECTED_DACL_SECURITY_INFORMATION,
                                                  owner, nullptr, dacl, nullptr)
                          : GetLastError();
        if (status != ERROR_SUCCESS) SetLastError(status);
        ok = status == ERROR_SUCCESS;
    }
    if (!ok) fail_with_last();
    LocalFree(attributes.lpSecurityDescriptor);
    return ok;
}

// A file takes its folder's access list; the kit's own folders have one that lets no one else
// write.
bool os::restrict_to_owner_writes(const char*) { return true; }

bool os::random_bytes(void* buffer, std::size_t count) {
    auto* out = static_cast<unsigned char*>(buffer);
    while (count > 0) {
        ULONG step = static_cast<ULONG>(std::min<std::size_t>(count, 1u << 20));
        if (!SystemFunction036(out, step)) {
            fail_with(ERROR_GEN_FAILURE);
            return false;
        }
        out += step;
        count -= step;
    }
    return true;
}

std::FILE* os::open_append_no_follow(const char* path) {
    HANDLE h = CreateFileA(path, FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        fail_with_last();
        return nullptr;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) ||
        GetFileType(h) != FILE_TYPE_DISK) {
        CloseHandle(h);
        fail_with(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_APPEND | _O_BINARY);
    if (fd < 0) {
        CloseHandle(h);
        fail_with(ERROR_GEN_FAILURE);
        return nullptr;
    }
    std::FILE* f = _fdopen(fd, "ab");
    if (!f) {
        _close(fd);
        fail_with(ERROR_GEN_FAILURE);
    }
    return f;
}

Handle os::hold_folder(const char* path) {
    if (too_long(path)) {
        fail_with(ERROR_FILENAME_EXCED_RANGE);
        return Handle::Invalid;
    }
    HANDLE h = hold_folder_itself(std::string(path));
    return h == INVALID_HANDLE_VALUE ? Handle::Invalid : static_cast<Handle>(reinterpret_cast<std::intptr_t>(h));
}

bool os::file_identity(const char* path, FileIdentity* out) {
    HANDLE h = CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    bool ok = GetFileInformationByHandle(h, &info) != FALSE;
    CloseHandle(h);
    if (!ok) return false;
    out->volume = info.dwVolumeSerialNumber;
    out->index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}

// SetDefaultDllDirectories came with Windows 8 (and an update of 7); found by name, so that the
// program still starts without it. There SetDllDirectory("") takes the current folder out of
// the search, but the program's own folder stays in it.
void os::restrict_dll_search() {
    using SetDefault = BOOL(WINAPI*)(DWORD);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    auto set_default =
        kernel ? reinterpret_cast<SetDefault>(reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")))
               : nullptr;
    if (set_default && set_default(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
    SetDllDirectoryW(L"");
}

bool os::remove_tree(const char* dir) {
    if (too_long(dir)) {
        fail_with(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    if (entry_kind(dir) != EntryKind::Directory) {
        if (entry_kind(dir) == EntryKind::Missing) fail_with(ERROR_PATH_NOT_FOUND);
        else fail_with(ERROR_ACCESS_DENIED);
        return false;
    }
    if (!remove_below(dir)) return false;
    if (RemoveDirectoryA(dir)) return true;
    fail_with_last();
    return false;
}

}  // namespace plat
