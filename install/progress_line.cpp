// The progress line's bookkeeping.
#include "install/progress_line.h"

#include <cstring>

namespace install {

void fit_progress_text(const char* text, char (&out)[50]) {
    constexpr std::size_t kMax = sizeof out - 1;
    std::size_t len = std::strlen(text);
    if (len <= kMax) {
        std::memcpy(out, text, len + 1);
        return;
    }
    std::memcpy(out, text, kMax - 3);
    std::memcpy(out + kMax - 3, "...", 4);
}

ProgressLine::Change ProgressLine::show(const char* text) {
    if (text[0] == '@') {
        ++text;
        if (count == 0) count = 1;
    } else {
        ++count;
    }
    if (count > kSlots) {
        count = kSlots;
        for (int i = 0; i + 1 < kSlots; ++i) std::memcpy(slots[i].text, slots[i + 1].text, sizeof slots[i].text);
        fit_progress_text(text, slots[kSlots - 1].text);
        return {true, kSlots - 1};
    }
    ProgressSlot& s = slots[count - 1];
    fit_progress_text(text, s.text);
    s.left = 20;
    s.top = count == 1 ? 40 : slots[count - 2].top + 20;
    return {false, count - 1};
}

}  // namespace install
