// Windows' list of installed programs: the entries under the Uninstall key of the machine's
// registry, in the 32-bit view (where a 32-bit installer's entries belong, and where a 64-bit
// build of the kit looks for them too), and the copies of the installer that they run, in
// %ProgramData%\Dravo patch\KEY\, a folder only the administrators and the system may change:
// the entry runs its copy elevated, so no user may replace it.
#include "install/programs_list.h"

#include <windows.h>

#include <shlobj.h>

#include <cstring>

#include "base/text.h"
#include "platform/file_tree.h"
#include "platform/platform.h"
#include "platform/trust.h"

namespace install {

namespace {

constexpr char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr REGSAM kView = KEY_WOW64_32KEY;
constexpr char kCopyName[] = "DravoPatch.exe";
constexpr char kKeyPrefix[] = "dravopatch-";

std::string error_text(LONG code) {
    char text[512] = "";
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ' || text[n - 1] == '.')) --n;
    return n ? std::string(text, n) : "error " + std::to_string(code);
}

std::string entry_path(const std::string& key) { return std::string(kUninstallKey) + "\\" + key; }

// Every installer keeps its copies in one folder below the machine's program data.
std::string copies_folder() {
    char path[MAX_PATH] = "";
    if (FAILED(SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path))) return {};
    std::string folder = path;
    if (!folder.empty() && folder.back() != '\\') folder += '\\';
    return folder + "Dravo patch\\";
}

class RegKey {
public:
    RegKey() = default;
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    ~RegKey() {
        if (key_) RegCloseKey(key_);
    }
    LONG open(const std::string& path, REGSAM access) {
        return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, access | kView, &key_);
    }
    LONG create(const std::string& path) {
        return RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                               KEY_READ | KEY_WRITE | kView, nullptr, &key_, nullptr);
    }
    HKEY get() const { return key_; }

    bool read_text(const char* name, std::string* out) const {
        char value[2048];
        DWORD type = 0, size = sizeof value - 1;
        if (RegQueryValueExA(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS ||
            type != REG_SZ)
            return false;
        value[size] = '\0';
        *out = value;  // the stored terminator, if any, ends it
        return true;
    }
    bool read_number(const char* name, DWORD* out) const {
        DWORD type = 0, size = sizeof *out;
        return RegQueryValueExA(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(out), &size) == ERROR_SUCCESS &&
               type == REG_DWORD;
    }
    LONG write_text(const char* name, const std::string& value) const {
        return RegSetValueExA(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                              static_cast<DWORD>(value.size() + 1));
    }
    LONG write_number(const char* name, DWORD value) const {
        return RegSetValueExA(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    }

private:
    HKEY key_ = nullptr;
};

bool ours(const std::string& name) { return text::starts_with_ignoring_case(name, kKeyPrefix); }

// Copies the running program to `to`, a new file.
Result copy_program(const std::string& to) {
    std::string program = plat::program_path();
    if (plat::copy_file(program.c_str(), to.c_str())) return Result::applied();
    Result failed = Result::failed("cannot copy " + plat::display_path(program) + " to " + plat::display_path(to) + ": " +
                                   plat::last_error_text());
    plat::delete_file(to.c_str());
    return failed;
}

class WindowsProgramsList final : public ProgramsList {
public:
    std::vector<std::string> keys() override {
        std::vector<std::string> found;
        RegKey list;
        if (list.open(kUninstallKey, KEY_READ) != ERROR_SUCCESS) return found;
        char name[256];
        for (DWORD i = 0;; ++i) {
            DWORD size = sizeof name;
            LONG r = RegEnumKeyExA(list.get(), i, name, &size, nullptr, nullptr, nullptr, nullptr);
            if (r == ERROR_NO_MORE_ITEMS) break;
            if (r == ERROR_SUCCESS && ours(name)) found.emplace_back(name, size);
        }
        return found;
    }

    bool read(const std::string& key, ProgramEntry* out) override {
        RegKey k;
        if (k.open(entry_path(key), KEY_READ) != ERROR_SUCCESS) return false;
        DWORD size = 0, no_modify = 0, no_repair = 0;
        ProgramEntry e;
        e.key = key;
        if (!k.read_text("DisplayName", &e.display_name) || !k.read_text("InstallLocation", &e.install_location) ||
            !k.read_text("InstallDate", &e.install_date) || !k.read_text("UninstallString", &e.uninstall) ||
            !k.read_text("QuietUninstallString", &e.quiet_uninstall) || !k.read_number("EstimatedSize", &size) ||
            !k.read_number("NoModify", &no_modify) || !k.read_number("NoRepair", &no_repair) || no_modify != 1 ||
            no_repair != 1)
            return false;
        e.size_kib = size;
        *out = std::move(e);
        return true;
    }

    Result write(const ProgramEntry& e) override {
        RegKey k;
        LONG r = k.create(entry_path(e.key));
        if (r != ERROR_SUCCESS) return Result::failed(error_text(r));
        for (auto [name, value] : {std::pair<const char*, const std::string*>{"DisplayName", &e.display_name},
                                   {"InstallLocation", &e.install_location},
                                   {"InstallDate", &e.install_date},
                                   {"UninstallString", &e.uninstall},
                                   {"QuietUninstallString", &e.quiet_uninstall}})
            if ((r = k.write_text(name, *value)) != ERROR_SUCCESS) return Result::failed(error_text(r));
        for (auto [name, value] : {std::pair<const char*, DWORD>{"EstimatedSize", e.size_kib}, {"NoModify", 1}, {"NoRepair", 1}})
            if ((r = k.write_number(name, value)) != ERROR_SUCCESS) return Result::failed(error_text(r));
        if ((r = RegFlushKey(k.get())) != ERROR_SUCCESS) return Result::failed(error_text(r));
        return Result::applied();
    }

    Result remove(const std::string& key) override {
        LONG r = RegDeleteKeyExA(HKEY_LOCAL_MACHINE, entry_path(key).c_str(), kView, 0);
        if (r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND) return Result::applied();
        return Result::failed(error_text(r));
    }

    std::vector<std::string> copies() override {
        std::vector<std::string> names, found;
        std::string folder = copies_folder();
        if (folder.empty() || !plat::list_directory(folder.c_str(), &names)) return found;
        for (const std::string& name : names)
            if (ours(name) && plat::entry_kind((folder + name).c_str()) == plat::EntryKind::Directory) found.push_back(name);
        return found;
    }

    std::string copy_path(const std::string& key) override { return copies_folder() + key + "\\" + kCopyName; }

    Result keep_copy(const std::string& key) override {
        std::string folder = copies_folder();
        if (folder.empty()) return Result::failed("the system names no folder for programs' data");
        std::string base = folder.substr(0, folder.size() - 1);
        if (!plat::create_admin_directory(base.c_str()))
            return Result::failed(plat::display_path(base) + ": " + plat::last_error_text());
        // The folder is made afresh, so that nothing anyone put there before is kept.
        std::string dir = folder + key;
        plat::EntryKind kind = plat::entry_kind(dir.c_str());
        if (kind == plat::EntryKind::Directory && !plat::remove_tree(dir))
            return Result::failed(plat::display_path(dir) + ": cannot be emptied: " + plat::last_error_text());
        if (kind != plat::EntryKind::Directory && kind != plat::EntryKind::Missing)
            return Result::failed(plat::display_path(dir) + " is " + plat::entry_kind_words(kind) + "; it was left alone");
        if (!plat::create_admin_directory(dir.c_str()))
            return Result::failed(plat::display_path(dir) + ": " + plat::last_error_text());
        return copy_program(copy_path(key));
    }

    Result drop_copy(const std::string& key) override {
        std::string dir = copies_folder() + key;
        std::string copy = copy_path(key);
        if (plat::entry_kind(dir.c_str()) != plat::EntryKind::Directory) return Result::applied();
        // The copy that runs now (the undo started from the list) goes at the next start.
        if (plat::file_exists(copy.c_str()) && !plat::delete_file(copy.c_str()) &&
            !plat::delete_at_restart(copy.c_str()))
            return Result::failed(plat::display_path(copy) + ": " + plat::last_error_text());
        if (!plat::remove_directory(dir.c_str()) && !plat::delete_at_restart(dir.c_str()))
            return Result::failed(plat::display_path(dir) + ": " + plat::last_error_text());
        return Result::applied();
    }
};

}  // namespace

ProgramsList* system_programs_list() {
    static WindowsProgramsList list;
    return &list;
}

}  // namespace install
