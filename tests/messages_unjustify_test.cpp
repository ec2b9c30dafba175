// The way back through justification: every text comes back among the forms of what it
// justifies to, and no form is offered that does not justify to the string.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>

#include "messages/source_line.h"
#include "decompiler/unjustify.h"

using namespace messages;
using namespace decompiler;

namespace {

std::string justified(const std::string& t, int width) {
    char buf[kLineCapacity + 1];
    std::strcpy(buf, t.c_str());
    align_line(buf, width, 0, 2, 1);
    return buf;
}

void expect_all_justify_to(const std::vector<std::string>& forms, const std::string& s, int width) {
    for (const std::string& f : forms) EXPECT_EQ(justified(f, width), s) << "form [" << f << "]";
}

TEST(Unjustify, EveryTextIsAmongTheFormsOfItsJustification) {
    std::mt19937 rng(7);
    auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    for (int round = 0; round < 2000; ++round) {
        int width = 1 + pick(299);
        std::size_t room = static_cast<std::size_t>(std::min(width, kAlignChars));
        std::string text;
        for (;;) {
            std::string word(static_cast<std::size_t>(1 + pick(pick(4) == 0 ? 30 : 8)), 'a' + static_cast<char>(pick(26)));
            std::string gap = text.empty() ? "" : std::string(static_cast<std::size_t>(pick(5) == 0 ? 2 + pick(3) : 1), ' ');
            if (text.size() + gap.size() + word.size() > room) break;
            text += gap + word;
            if (pick(12) == 0) break;
        }
        if (text.empty()) continue;
        std::string s = justified(text, width);
        std::vector<std::string> forms = unjustified_forms(s, width, 100000);
        expect_all_justify_to(forms, s, width);
        EXPECT_NE(std::find(forms.begin(), forms.end(), text), forms.end()) << "width " << width << " text [" << text << "]";
        EXPECT_TRUE(std::is_sorted(forms.begin(), forms.end(),
                                   [](const std::string& a, const std::string& b) { return a.size() < b.size(); }));
    }
}

TEST(Unjustify, TabsWordsAloneAndStringsThatAreNoJustification) {
    // A text without gaps is its own and only form.
    EXPECT_EQ(unjustified_forms("abc", 10), std::vector<std::string>{"abc"});
    // A tab that a pass met became a space; one left behind stays a tab.
    std::string met = justified("a\tb c", 7);
    EXPECT_EQ(met, "a  b  c");
    std::vector<std::string> forms = unjustified_forms(met, 7, 1000);
    expect_all_justify_to(forms, met, 7);
    EXPECT_NE(std::find(forms.begin(), forms.end(), "a b c"), forms.end());
    std::string left = justified("a b\tc", 6);
    EXPECT_EQ(left, "a  b\tc");
    forms = unjustified_forms(left, 6, 1000);
    EXPECT_NE(std::find(forms.begin(), forms.end(), "a b\tc"), forms.end());
    // Justifying widens a text with gaps to the full width, so a shorter one with gaps is no
    // justification; a full-width one is at least its own form.
    EXPECT_TRUE(unjustified_forms("a b", 5).empty());
    EXPECT_EQ(unjustified_forms("a b    c", 8).back(), "a b    c");
    EXPECT_TRUE(unjustified_forms("toolong", 3).empty());
}

}  // namespace
