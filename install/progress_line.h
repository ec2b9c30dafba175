// The progress line: up to five lines of text in the status window. A text that begins with
// '@' replaces the newest line; any other adds a line, and the sixth scrolls the list.
// This is the bookkeeping; the window draws what it says.
#pragma once

#include <cstddef>

namespace install {

struct ProgressSlot {
    char text[50];  // 49 characters and the NUL
    int left;
    int top;
};

struct ProgressLine {
    static constexpr int kSlots = 5;
    ProgressSlot slots[kSlots] = {};
    int count = 0;  // slots in use, 0 to 5

    // What a show changed: either one slot to draw, or everything (cleared first).
    struct Change {
        bool scrolled;  // the window is to be cleared and all five slots drawn
        int slot;       // otherwise the one slot to draw (0-based)
    };
    Change show(const char* text);
    void reset() { *this = ProgressLine{}; }
};

// A text for a slot: the marker dropped, and a text longer than the slot cut to end in "...",
// so that the user sees it goes on.
void fit_progress_text(const char* text, char (&out)[50]);

}  // namespace install
