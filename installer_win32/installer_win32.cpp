// DravoPatch.exe: the status window with its title picture and phase text, the confirmation
// dialog, the progress line, and the message boxes, around the portable main flow.
//
// There is no message loop of its own: the window is painted by UpdateWindow, by the modal
// loops of the dialog and the message boxes, and by the pending messages that the core's long
// work lets it handle (report::keep_alive), and otherwise drawn directly through the device
// context that the window keeps for its whole life (its class has its own DC).
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include <cstdio>
#include <string>
#include <vector>

#include "base/report.h"
#include "install/install_log.h"
#include "install/installer_switches.h"
#include "install/main_flow.h"
#include "install/patch_sources.h"
#include "install/progress_line.h"
#include "install/undo_flow.h"
#include "platform/platform.h"
#include "platform/trust.h"

extern "C" {
__declspec(dllexport) LRESULT CALLBACK PatchWndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
__declspec(dllexport) INT_PTR CALLBACK DialogWnd(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
}

namespace {

constexpr int kWindowWidth = 325;
constexpr int kWindowHeight = 265;
constexpr int kPictureWidth = 320;
constexpr int kPictureHeight = 240;
constexpr char kClassName[] = "PatchDravo";

// The window's state, shared by the window procedure, the redraw and the progress line.
struct StatusWindow {
    HINSTANCE instance = nullptr;
    HWND window = nullptr;
    HDC dc = nullptr;
    RECT client = {};
    HBRUSH white_brush = nullptr;
    install::Phase phase = install::Phase::Idle;
    install::ProgressLine progress;
    // Set while the installation runs: the window cannot be closed then, since closing it
    // would destroy the window that the rest of the run draws into and owns its boxes.
    bool working = false;
    DWORD last_pump = 0;  // tick of the last time pending messages were handled
};
StatusWindow g_status;

ATOM register_status_class(HINSTANCE instance) {
    HGLOBAL memory = GlobalAlloc(GMEM_ZEROINIT, sizeof(WNDCLASSA));
    if (!memory) return 0;
    auto* wc = static_cast<WNDCLASSA*>(GlobalLock(memory));
    wc->style = CS_OWNDC | CS_HREDRAW | CS_VREDRAW;
    wc->lpfnWndProc = PatchWndProc;
    wc->hInstance = instance;
    wc->hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    wc->hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc->hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc->lpszClassName = kClassName;
    ATOM atom = RegisterClassA(wc);
    GlobalUnlock(memory);
    GlobalFree(memory);
    return atom;
}

void use_text_colours() {
    SetTextColor(g_status.dc, RGB(255, 255, 255));
    SetBkColor(g_status.dc, RGB(0, 0, 0));
    SetBkMode(g_status.dc, OPAQUE);
}

void draw_picture() {
    HBITMAP picture = LoadBitmapA(g_status.instance, MAKEINTRESOURCEA(1));
    HDC memory = CreateCompatibleDC(g_status.dc);
    HGDIOBJ previous = SelectObject(memory, picture);
    BitBlt(g_status.dc, 0, 0, kPictureWidth, kPictureHeight, memory, 0, 0, SRCCOPY);
    SelectObject(memory, previous);
    DeleteDC(memory);
    DeleteObject(picture);
}

void draw_slot(const install::ProgressSlot& s) {
    TextOutA(g_status.dc, s.left, s.top, s.text, static_cast<int>(std::strlen(s.text)));
}

// The picture, over it the text of the current phase, and the progress line's lines in use,
// so that a repaint during the work does not erase the progress line; flushed at once, since
// messages are handled only now and then while the work runs.
void redraw() {
    draw_picture();
    use_text_colours();
    const char* text = g_status.phase == install::Phase::Searching    ? "Search DRAVO..."
                       : g_status.phase == install::Phase::Installing ? "Install Patch DRAVO..."
                                                             : nullptr;
    if (text) TextOutA(g_status.dc, 20, 20, text, static_cast<int>(std::strlen(text)));
    for (int i = 0; i < g_status.progress.count; ++i) draw_slot(g_status.progress.slots[i]);
    GdiFlush();
}

void release_drawing_objects(HWND window) {
    if (g_status.white_brush) DeleteObject(g_status.white_brush);
    g_status.white_brush = nullptr;
    if (g_status.dc) ReleaseDC(window, g_status.dc);
    g_status.dc = nullptr;
}

void show_progress_text(const char* text) {
    use_text_colours();
    install::ProgressLine::Change change = g_status.progress.show(text);
    if (change.scrolled) {
        FillRect(g_status.dc, &g_status.client, g_status.white_brush);
        for (const install::ProgressSlot& s : g_status.progress.slots) draw_slot(s);
    } else {
        draw_slot(g_status.progress.slots[change.slot]);
    }
    // Messages are handled only now and then while the work runs: put the text on the screen now.
    GdiFlush();
}

// Handles the window's pending messages (paints, input, the system's are-you-alive checks),
// at most every 50 ms so that tight loops of the core pay only a tick count for it. The work
// stands still while a message is handled.
void pump_pending_messages() {
    DWORD now = GetTickCount();
    if (now - g_status.last_pump < 50) return;
    g_status.last_pump = now;
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // Not ours to end the run: leave it for whoever runs a loop after us.
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

class WindowFace final : public install::InstallerFace {
public:
    void show_phase(install::Phase phase) override {
        g_status.phase = phase;
        redraw();
    }
    bool confirm() override {
        // The dialog ends with IDOK or IDCANCEL; on Cancel the flow removes the unpacked files
        // and the program then ends with status 3, showing nothing more.
        return DialogBoxParamA(g_status.instance, "IDD_DIALOG1", g_status.window, DialogWnd, 0) == IDOK;
    }
    bool confirm_undo(const std::string& question) override {
        return MessageBoxA(g_status.window, question.c_str(), install::kUndoCaption,
                           MB_OKCANCEL | MB_ICONQUESTION) == IDOK;
    }
    void final_message(const std::string& text, const std::string& caption) override {
        bool failure = caption == install::kFailedCaption || caption == install::kUndoFailedCaption;
        MessageBoxA(g_status.window, text.c_str(), caption.c_str(), failure ? MB_OK | MB_ICONWARNING : MB_OK);
    }
    void notice(const std::string& text) override {
        MessageBoxA(g_status.window, text.c_str(), install::kRecoveredCaption, MB_OK | MB_ICONINFORMATION);
    }
};

class WindowSink final : public report::Sink {
public:
    void error_box(const char* text, const char* caption) override {
        MessageBoxA(nullptr, text, caption, MB_ICONINFORMATION);
    }
    void progress_text(const char* text) override { show_progress_text(text); }
    void keep_alive() override { pump_pending_messages(); }
};

// A silent run (/S): no window of any kind; the question is taken as answered yes, and what
// the boxes would say goes to standard error (the log has it too).
class SilentFace final : public install::InstallerFace {
public:
    void show_phase(install::Phase) override {}
    bool confirm() override { return true; }
    void final_message(const std::string& text, const std::string& caption) override {
        std::fprintf(stderr, "%s\n%s\n", caption.c_str(), text.c_str());
    }
    void notice(const std::string& text) override { std::fprintf(stderr, "%s\n%s\n", install::kRecoveredCaption, text.c_str()); }
};

class SilentSink final : public report::Sink {
public:
    void error_box(const char* text, const char* caption) override { std::fprintf(stderr, "%s\n%s\n", caption, text); }
    void progress_text(const char*) override {}
    void keep_alive() override {}
};

// The arguments as the C runtime split the command line, the program's name left out.
std::vector<std::string> arguments() {
    std::vector<std::string> args;
    for (int i = 1; i < __argc; ++i) args.emplace_back(__argv[i]);
    return args;
}

// Whether /S is among the arguments, read before the rest: a usage error is told on standard
// error rather than in a box when the run was meant to be silent.
bool asks_silence(const std::vector<std::string>& args) {
    for (const std::string& a : args)
        if (a.size() == 2 && (a[0] == '/' || a[0] == '-') && (a[1] == 's' || a[1] == 'S')) return true;
    return false;
}

void tell(bool silent, bool to_stdout, const std::string& text, const char* caption, UINT icon) {
    if (!silent) {
        MessageBoxA(nullptr, text.c_str(), caption, MB_OK | icon);
        return;
    }
    std::FILE* out = to_stdout ? stdout : stderr;
    std::fprintf(out, "%s\n", text.c_str());
    std::fflush(out);
}

int usage_error(bool silent, const std::string& problem) {
    tell(silent, false, problem + "\n\n" + install::kInstallerUsage, "Dravo patch", MB_ICONWARNING);
    return install::kInstallerUsageError;
}

install::InstallResult run_with(install::InstallerFace& face, const install::InstallerSwitches& switches,
                                HWND owner) {
    install::InstallSources sources = install::installer_patch_sources(owner, switches.game_dir);
    if (switches.undo) return install::run_undo(face, sources, switches.undo_number);
    return install::run_installation(face, sources);
}

int run_silent(const install::InstallerSwitches& switches) {
    SilentSink sink;
    report::set_sink(&sink);
    SilentFace face;
    install::InstallResult result = run_with(face, switches, nullptr);
    if (!result.not_found.empty()) std::fprintf(stderr, "%s\n", result.not_found.c_str());
    std::fflush(stderr);
    return install::installer_exit_status(result.outcome);
}

}  // namespace

LRESULT CALLBACK PatchWndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_CREATE:
            g_status.dc = GetDC(window);
            g_status.white_brush = CreateSolidBrush(RGB(255, 255, 255));
            GetClientRect(window, &g_status.client);
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            BeginPaint(window, &ps);
            redraw();
            EndPaint(window, &ps);
            return 0;
        }
        case WM_DESTROY:
            release_drawing_objects(window);
            PostQuitMessage(0);
            return 0;
        case WM_COMMAND:
            return 0;
        case WM_CLOSE:
            // The close box and Alt+F4: ignored while the installation runs, which ends the
            // process itself.
            if (g_status.working) return 0;
            return DefWindowProcA(window, message, wparam, lparam);
        case WM_SYSCOMMAND:
            if (g_status.working && (wparam & 0xFFF0) == SC_CLOSE) return 0;
            return DefWindowProcA(window, message, wparam, lparam);
        default:
            return DefWindowProcA(window, message, wparam, lparam);
    }
}

INT_PTR CALLBACK DialogWnd(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            return TRUE;
        case WM_COMMAND:
            // The whole command value: only the plain click of a button (or Enter, Escape, the
            // close box, which send the same) counts.
            if (wparam == IDOK || wparam == IDCANCEL) {
                EndDialog(dialog, static_cast<INT_PTR>(wparam));
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR, int show) {
    plat::restrict_dll_search();  // before anything can load a DLL
    std::vector<std::string> args = arguments();
    bool silent = asks_silence(args);
    install::InstallerSwitches switches;
    if (Result parsed = install::parse_installer_switches(args, &switches); parsed.failed())
        return usage_error(silent, parsed.problem);
    if (switches.help) {
        tell(silent, true, install::kInstallerUsage, "Dravo patch", MB_ICONINFORMATION);
        return 0;
    }
    if (!switches.log_file.empty())
        if (Result log = install::set_log_copy(plat::from_native_path(switches.log_file.c_str())); log.failed())
            return usage_error(silent, log.problem);
    if (switches.silent) return run_silent(switches);

    // No window (no desktop to show it on): the run cannot ask, so it ends before anything
    // was done, with a status a script can tell from success.
    if (!previous && !register_status_class(instance)) {
        std::fprintf(stderr, "DravoPatch: no window could be made (error %lu); run it with /S to install without one\n",
                     GetLastError());
        return 1;
    }
    g_status.instance = instance;
    int left = (GetSystemMetrics(SM_CXSCREEN) - kWindowWidth) / 2;
    int top = (GetSystemMetrics(SM_CYSCREEN) - kWindowHeight) / 2;
    g_status.window = CreateWindowExA(0, kClassName, "Dravo patch", WS_VISIBLE | WS_CAPTION | WS_SYSMENU, left, top,
                                      kWindowWidth, kWindowHeight, nullptr, nullptr, instance, nullptr);
    if (!g_status.window) {
        std::fprintf(stderr, "DravoPatch: no window could be made (error %lu); run it with /S to install without one\n",
                     GetLastError());
        return 1;
    }
    ShowWindow(g_status.window, show);
    UpdateWindow(g_status.window);

    g_status.phase = install::Phase::Idle;
    g_status.progress.reset();
    WindowSink sink;
    report::set_sink(&sink);
    WindowFace face;
    g_status.working = true;
    EnableMenuItem(GetSystemMenu(g_status.window, FALSE), SC_CLOSE, MF_BYCOMMAND | MF_GRAYED);
    install::InstallResult result = run_with(face, switches, g_status.window);
    release_drawing_objects(g_status.window);
    std::exit(install::installer_exit_status(result.outcome));
}
