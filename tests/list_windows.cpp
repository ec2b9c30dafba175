// Lists the top-level windows of the Wine session, one line each, with their child controls:
//   <hwnd> class="..." title="..." visible=0|1 rect=l,t,r,b client=l,t,r,b
//     child id=<id> class="..." text="..."
// (rect is the whole window, client its client area, both on the screen). The end-to-end tests
// find the installer's window, its dialog (whose caption is empty) and its message boxes by
// their texts, which X does not show.
// With --text-extent TEXT it prints instead the width and height in pixels of TEXT drawn in a
// device context's default font, as the installer draws its texts: the tests look for bands
// of exactly that size in screenshots.
#include <windows.h>

#include <cstdio>
#include <cstring>

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
    RECT c = {};
    GetClientRect(window, &c);
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&c), 2);
    std::printf("%p class=\"%s\" title=\"%s\" visible=%d rect=%ld,%ld,%ld,%ld client=%ld,%ld,%ld,%ld\n",
                static_cast<void*>(window), cls, title, IsWindowVisible(window) ? 1 : 0, r.left, r.top, r.right,
                r.bottom, c.left, c.top, c.right, c.bottom);
    EnumChildWindows(window, print_child, 0);
    return TRUE;
}

}  // namespace

int print_text_extent(const char* text) {
    HDC dc = GetDC(nullptr);
    SIZE size = {};
    BOOL ok = GetTextExtentPoint32A(dc, text, static_cast<int>(std::strlen(text)), &size);
    ReleaseDC(nullptr, dc);
    if (!ok) return 1;
    std::printf("%ld %ld\n", size.cx, size.cy);
    return 0;
}

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--text-extent") == 0) return print_text_extent(argv[2]);
    EnumWindows(print_window, 0);
    return 0;
}
