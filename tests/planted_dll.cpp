// A DLL that someone left beside a downloaded program under the name bcrypt.dll, for the test
// that the programs never load it: loading it leaves the file "planted-dll-loaded" in the
// current folder.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        HANDLE h = CreateFileA("planted-dll-loaded", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
    return TRUE;
}
