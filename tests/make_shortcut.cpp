// make_shortcut LINK TARGET [DESCRIPTION [WORKING-DIR]]: writes a shortcut file through the
// Windows shell's own shell-link object, so that tests read links as the shell writes them.
#include <windows.h>
// windows.h first: the shell headers build on its types.
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 3 || argc > 5) {
        std::fprintf(stderr, "usage: make_shortcut LINK TARGET [DESCRIPTION [WORKING-DIR]]\n");
        return 2;
    }
    CoInitialize(nullptr);
    IShellLinkA* link = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                  reinterpret_cast<void**>(&link));
    if (FAILED(hr)) {
        std::fprintf(stderr, "make_shortcut: no shell-link object (0x%08lx)\n", static_cast<unsigned long>(hr));
        return 1;
    }
    hr = link->SetPath(argv[2]);
    if (SUCCEEDED(hr) && argc > 3) hr = link->SetDescription(argv[3]);
    if (SUCCEEDED(hr) && argc > 4) hr = link->SetWorkingDirectory(argv[4]);
    IPersistFile* file = nullptr;
    if (SUCCEEDED(hr)) hr = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
    if (SUCCEEDED(hr)) {
        WCHAR wide[MAX_PATH] = {};
        MultiByteToWideChar(CP_ACP, 0, argv[1], -1, wide, MAX_PATH);
        hr = file->Save(wide, TRUE);
        file->Release();
    }
    link->Release();
    if (FAILED(hr)) {
        std::fprintf(stderr, "make_shortcut: %s: cannot write the shortcut (0x%08lx)\n", argv[1],
                     static_cast<unsigned long>(hr));
        return 1;
    }
    return 0;
}
