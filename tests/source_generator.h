// A seeded generator of message sources that use every rule of the source format, for the
// property tests of the decompiler and of the PO round trip.
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace testing_support {

// A seeded source generator. Its draws use only the engine's own output, so that every
// system generates the same sources.
class SourceGenerator {
public:
    // `high_bytes`: words also hold bytes above 0x7F, the letters of the code pages.
    explicit SourceGenerator(std::uint32_t seed, bool high_bytes = false) : rng_(seed), high_bytes_(high_bytes) {}

    std::string source() {
        std::string s;
        if (chance(10)) s += text_line(30);  // before the first header: discarded
        int count = 1 + pick(12);
        std::vector<int> used;
        for (int i = 0; i < count; ++i) {
            if (chance(8)) s += pick_of({"#RUS", "#rus", "#INTER", "#Inter"}) + eol();
            if (chance(6)) s += "#0 0 0 0 0 40 1 0" + eol() + text_line(40);  // number 0: discarded
            int number = unique_number(used);
            int width = pick_width();
            s += header(number, width) + eol();
            int lines = pick(6);
            for (int l = 0; l < lines; ++l) s += text_line(width);
        }
        s += chance(10) ? std::string("#0 \\c") + eol() : std::string("#0") + eol();
        if (chance(10)) s += text_line(20);  // after the last header: never written
        return s;
    }

private:
    std::uint32_t next() { return static_cast<std::uint32_t>(rng_()); }
    int pick(int n) { return static_cast<int>(next() % static_cast<std::uint32_t>(n)); }
    bool chance(int percent) { return pick(100) < percent; }
    std::string pick_of(std::vector<std::string> options) { return options[pick(static_cast<int>(options.size()))]; }
    std::string eol() { return chance(20) ? "\r\n" : "\n"; }

    int unique_number(std::vector<int>& used) {
        for (;;) {
            int n = pick(400) == 0 ? 60000 + pick(5535) : 1 + pick(700);
            if (std::find(used.begin(), used.end(), n) == used.end()) {
                used.push_back(n);
                return n;
            }
        }
    }

    int pick_width() {
        if (chance(15)) return 1 + pick(6);
        if (chance(10)) return 250 + pick(50);
        return 8 + pick(60);
    }

    std::string word() {
        static const char* kTricky[] = {"#tag", "...", "@points", "a/b", "x-c", "nostop", "p5", "Ab"};
        if (chance(8)) return kTricky[pick(8)];
        int len = 1 + (chance(5) ? pick(80) : pick(9));
        std::string w;
        for (int i = 0; i < len; ++i) {
            if (high_bytes_ && chance(20)) w += static_cast<char>(0x80 + pick(128));
            else w += static_cast<char>('a' + pick(26));
        }
        return w;
    }

    std::string spaces() {
        if (chance(80)) return " ";
        return std::string(1 + pick(3), chance(50) ? ' ' : '\t');
    }

    std::string text_line(int width) {
        std::string line;
        if (chance(8)) return eol();  // empty
        bool widened = chance(5);  // ends in "\e"
        if (chance(8)) line += "...";
        if (chance(5)) line += "@points ";
        if (chance(10)) line += spaces();
        int words = 1 + pick(chance(10) ? 40 : 8);
        for (int i = 0; i < words; ++i) {
            if (i) line += chance(8) ? "\\" : spaces();
            line += word();
        }
        if (chance(8)) line += spaces();
        if (widened) line += "\\e";
        else if (chance(10)) line += pick_of({"\\c", "\\C", "\\"});
        if (chance(8)) line += " // " + word();
        (void)width;
        return line + eol();
    }

    std::string number_token() {
        if (chance(70)) return std::to_string(pick(10));
        return pick_of({"-1", "70000", "12ab", "x", "-30001", "65535"});
    }

    std::string header(int number, int width) {
        bool raw = chance(25);
        std::string h = raw ? "##" : "#";
        h += std::to_string(number);
        int numbers = chance(8) ? pick(7) : 7;  // a header that runs out of numbers
        std::string width_token = chance(5) ? pick_of({"0", "1000", "-5", "300"}) : std::to_string(width);
        for (int i = 0; i < numbers; ++i) {
            h += " ";
            if (i == 4) h += width_token;
            else if (i == 5) h += std::to_string(pick(chance(10) ? 300 : 6));
            else h += number_token();
        }
        if (numbers < 7) return h;
        if (chance(15)) h += pick_of({" nostop", " NOSTOP"});
        if (chance(15)) h += " -c";
        if (chance(15)) h += pick_of({" -e", " -E"});
        if (chance(20)) h += " " + word() + pick_of({".wav", ".WAV"});
        if (chance(15)) {
            h += " " + word() + ".avs";
            int n = pick(3);
            for (int i = 0; i < n; ++i) h += " " + std::to_string(pick(100));
        }
        int points = chance(30) ? pick(8) : 0;
        for (int i = 0; i < points; ++i) h += chance(10) ? " p" : " p" + std::to_string(pick(40) - 5);
        if (chance(5)) h += " \\";
        return h;
    }

    std::mt19937 rng_;
    bool high_bytes_;
};

}  // namespace testing_support
