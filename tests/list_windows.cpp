// Lists the top-level windows of the Wine session, one line each, with their child controls:
//   <hwnd> class="..." title="..." visible=0|1 rect=l,t,r,b
//     child id=<id> class="..." text="..."
// The end-to-end tests find the installer's window, its dialog (whose caption is empty) and
// its message boxes by their texts, which X does not show.
#include <windows.h>

#include <cstdio>

namespace {

BOOL CALLBACK print_child(HWND child, LPARAM) {
    char cls[128] = "", text[256] = "";
    GetClassNameA(child, cls, sizeof cls);
    GetWindowTextA(child, text, sizeof text);
    std::printf("  child id=%d class=\"%s\" text=\"%s\"\n", GetDlgCtrlID(child), cls, text);
    return TRUE;
}

BOOL CALLBACK print_window(HWND window, LPARAM) {
    char cls[128] = "", title[256] = "";
    GetClassNameA(window, cls, sizeof cls);
    GetWindowTextA(window, title, sizeof title);
    RECT r = {};
    GetWindowRect(window, &r);
    std::printf("%p class=\"%s\" title=\"%s\" visible=%d rect=%ld,%ld,%ld,%ld\n", static_cast<void*>(window), cls,
                title, IsWindowVisible(window) ? 1 : 0, r.left, r.top, r.right, r.bottom);
    EnumChildWindows(window, print_child, 0);
    return TRUE;
}

}  // namespace

int main() {
    EnumWindows(print_window, 0);
    return 0;
}
