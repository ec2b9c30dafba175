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
#include <array>
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

namespace {

std::vector<std::string> search_forms(const std::string& s, int width, std::size_t limit) {
    std::vector<std::string> out;
    if (width < 1 || s.size() > static_cast<std::size_t>(width)) return out;
    // Only a string as wide as the width can have been widened.
    if (s.size() == static_cast<std::size_t>(width)) {
        Search search(4000);
        search.predecessors_of(s, true);
        std::vector<std::string>& found = search.found();
        std::stable_sort(found.begin(), found.end(), shorter);
        for (std::string& t : found) {
            if (out.size() + 1 >= limit) break;
            // Justifying looks at no more than its first 250 characters; running the real
            // alignment keeps nothing that does not give `s` back.
            if (justifies_to(t, width, s)) out.push_back(std::move(t));
        }
    }
    // Every text found is shorter than `s`, so `s` comes last.
    if (justifies_to(s, width, s)) out.push_back(s);
    return out;
}

// The forms of the last few strings asked for. Planning a message asks for the same full-width
// line once for each way it tries, and the search is most of the cost of decompiling. Only a
// memo: what it holds is what the search gives again.
struct RecentForms {
    struct Entry {
        std::string s;
        int width = 0;
        std::size_t limit = 0;
        std::vector<std::string> forms;
    };
    std::array<Entry, 16> entries;
    std::size_t next = 0;

    const std::vector<std::string>& of(const std::string& s, int width, std::size_t limit) {
        for (const Entry& e : entries)
            if (e.width == width && e.limit == limit && e.s == s) return e.forms;
        Entry& e = entries[next++ % entries.size()];
        e = Entry{s, width, limit, search_forms(s, width, limit)};
        return e.forms;
    }
};

thread_local RecentForms recent_forms;

}  // namespace

bool first_unjustified_form(const std::string& s, int width, const std::function<bool(const std::string&)>& take,
                            std::size_t limit) {
    // A copy: `take` may ask for other forms and so replace the memo's entry.
    const std::vector<std::string> forms = recent_forms.of(s, width, limit);
    for (const std::string& t : forms)
        if (take(t)) return true;
    return false;
}

std::vector<std::string> unjustified_forms(const std::string& s, int width, std::size_t limit) {
    return recent_forms.of(s, width, limit);
}

}  // namespace decompiler
