// Justifying runs passes while spaces are missing: a pass walks the positions the text had when
// it began and puts one more space behind every space or tab it meets, until none is missing.
//
// Undoing a pass: reading its result from the left, the first blank is a blank the pass met
// followed by the space it put there, and so on pair after pair, so the pairs' places in the
// result do not depend on how many spaces the pass added. A pass that added `a` spaces met the
// q-th pair (from 0) at the place it has in the result, y_q, and met it only if y_q lay within
// the text's length before the pass, which is the result's length L minus a. So a pass can
// have added a spaces when y_(a-1) < L - a; and when more spaces were missing after it (it was
// not the last pass), it stopped at that length, so the next blank of the result lies at or
// beyond L - a. Undoing pass after pass from the string yields every text that justifies to it.
#include "decompiler/unjustify.h"

#include <algorithm>
#include <cstring>

#include "messages/source_line.h"

namespace decompiler {

using messages::align_line;
using messages::kLineCapacity;

namespace {

bool is_gap(char c) { return c == ' ' || c == '\t'; }

// The places of the pairs a pass may have left, from the left, as far as they go; and for each
// count of pairs the place of the first blank behind them (or the text's length).
struct Pairs {
    std::vector<std::size_t> at;
    std::vector<std::size_t> next_blank;  // next_blank[a]: first blank behind the first a pairs
};

Pairs pairs_of(const std::string& text) {
    Pairs p;
    std::size_t j = 0;
    const std::size_t n = text.size();
    auto blank_from = [&](std::size_t from) {
        while (from < n && !is_gap(text[from])) ++from;
        return from;
    };
    p.next_blank.push_back(blank_from(0));
    for (j = blank_from(0); j + 1 < n && text[j] == ' ' && text[j + 1] == ' ';) {
        p.at.push_back(j);
        j = blank_from(j + 2);
        p.next_blank.push_back(j);
    }
    return p;
}

// The text before a pass that left the first `added` pairs.
std::string undone(const std::string& text, const Pairs& p, std::size_t added) {
    std::string before;
    before.reserve(text.size() - added);
    std::size_t from = 0;
    for (std::size_t q = 0; q < added; ++q) {
        before.append(text, from, p.at[q] + 1 - from);
        from = p.at[q] + 2;
    }
    before.append(text, from, std::string::npos);
    return before;
}

class Search {
public:
    explicit Search(std::size_t node_budget) : budget_(node_budget) {}

    // `text` is what a pass left; `last` when no space was missing after it.
    void predecessors_of(const std::string& text, bool last) {
        Pairs p = pairs_of(text);
        const std::size_t n = text.size();
        for (std::size_t added = 1; added <= p.at.size() && budget_ > 0; ++added) {
            if (p.at[added - 1] >= n - added) break;  // the pass never got that far
            if (!last && p.next_blank[added] < n - added) continue;  // it would have gone on
            --budget_;
            std::string before = undone(text, p, added);
            found_.push_back(before);
            predecessors_of(before, false);
        }
    }

    std::vector<std::string>& found() { return found_; }

private:
    std::size_t budget_;
    std::vector<std::string> found_;
};

bool justifies_to(const std::string& t, int width, const std::string& s) {
    if (t.size() > static_cast<std::size_t>(kLineCapacity)) return false;
    char buf[kLineCapacity + 1];
    std::memcpy(buf, t.c_str(), t.size() + 1);
    align_line(buf, width, 0, 2, 1);
    return s == buf;
}

bool shorter(const std::string& a, const std::string& b) { return a.size() < b.size(); }

}  // namespace

bool first_unjustified_form(const std::string& s, int width, const std::function<bool(const std::string&)>& take,
                            std::size_t limit) {
    if (width < 1 || s.size() > static_cast<std::size_t>(width)) return false;
    std::size_t justified = 0;
    // Only a string as wide as the width can have been widened.
    if (s.size() == static_cast<std::size_t>(width)) {
        Search search(4000);
        search.predecessors_of(s, true);
        std::vector<std::string>& found = search.found();
        std::stable_sort(found.begin(), found.end(), shorter);
        for (const std::string& t : found) {
            if (justified + 1 >= limit) break;
            // Justifying looks at no more than its first 250 characters; running the real
            // alignment keeps nothing that does not give `s` back.
            if (!justifies_to(t, width, s)) continue;
            ++justified;
            if (take(t)) return true;
        }
    }
    // Every text found is shorter than `s`, so `s` comes last.
    return justifies_to(s, width, s) && take(s);
}

std::vector<std::string> unjustified_forms(const std::string& s, int width, std::size_t limit) {
    std::vector<std::string> out;
    first_unjustified_form(s, width, [&out](const std::string& t) { return out.push_back(t), false; }, limit);
    return out;
}

}  // namespace decompiler
