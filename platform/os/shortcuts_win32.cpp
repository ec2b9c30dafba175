// The shell operations on Windows: the shell's folder calls, SearchTreeForFile, and the
// shell-link object through COM with the ANSI IShellLinkA interface.
#include "platform/shortcuts.h"

#include <windows.h>
// windows.h first: the shell and image-help headers build on its types.
#include <imagehlp.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstring>

#include "platform/platform.h"

namespace plat {

std::string windows_directory() {
    char buf[MAX_PATH + 1] = {};
    UINT n = GetWindowsDirectoryA(buf, sizeof buf);
    if (n == 0 || n >= sizeof buf) return {};
    return buf;
}

std::vector<std::string> start_menu_program_folders() {
    std::vector<std::string> folders;
    for (int csidl : {CSIDL_COMMON_PROGRAMS, CSIDL_PROGRAMS}) {
        char buf[MAX_PATH + 1] = {};
        if (SUCCEEDED(SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buf)) && buf[0] &&
            is_directory(buf))
            folders.emplace_back(buf);
    }
    return folders;
}

bool search_tree_for_file(const char* root, const char* name, std::string* found) {
    // The image-help header takes the root and the name as writable strings.
    std::string root_copy = root, name_copy = name;
    char buf[MAX_PATH + 1] = {};
    if (!SearchTreeForFile(root_copy.data(), name_copy.data(), buf)) return false;
    *found = buf;
    return true;
}

void initialize_shell() { CoInitialize(nullptr); }

// Load, resolve, then read the path (short form) and the description; only when all of
// them succeed is the path handed out.
ShellResult resolve_shortcut(void* owner_window, const char* link_path, char* out, std::size_t out_size) {
    if (out_size == 0) return kShellFailed;
    out[0] = 0;
    IShellLinkA* link = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                  reinterpret_cast<void**>(&link));
    if (FAILED(hr)) return hr;
    IPersistFile* file = nullptr;
    hr = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
    if (SUCCEEDED(hr)) {
        WCHAR wide[MAX_PATH] = {};
        MultiByteToWideChar(CP_ACP, 0, link_path, -1, wide, MAX_PATH);
        hr = file->Load(wide, STGM_READ);
        // Without a window (a silent run, the tool) no dialog may appear: a link that must be
        // searched for gives up after a second.
        DWORD flags = SLR_ANY_MATCH;
        if (!owner_window) flags |= SLR_NO_UI | (1000u << 16);
        if (SUCCEEDED(hr)) hr = link->Resolve(static_cast<HWND>(owner_window), flags);
        char path[MAX_PATH] = {};
        WIN32_FIND_DATAA data;
        if (SUCCEEDED(hr)) hr = link->GetPath(path, MAX_PATH, &data, SLGP_SHORTPATH);
        if (SUCCEEDED(hr)) {
            char description[MAX_PATH] = {};
            hr = link->GetDescription(description, MAX_PATH);
            // A path that does not fit is not cut: the caller would take a wrong directory.
            if (SUCCEEDED(hr) && std::strlen(path) < out_size) std::strcpy(out, path);
        }
        file->Release();
    }
    link->Release();
    return hr;
}

}  // namespace plat
