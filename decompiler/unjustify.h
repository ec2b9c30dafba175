// The way back through justification: every text that the line alignment's justify mode
// widens to a given string. Justifying is not one-to-one (its passes stop at the length the
// text had when each pass began, so gaps further right widen less), but each pass can be
// undone exactly once the number of spaces it added is known, and that number is tried.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace decompiler {

// The texts that justifying to `width` turns into `s`, shortest first, at most `limit` of
// them. `s` itself is among them when justifying leaves it as it is. Empty when no text
// justifies to `s`.
std::vector<std::string> unjustified_forms(const std::string& s, int width, std::size_t limit = 24);

// The same texts in the same order, handed to `take` one at a time until it returns true (then
// true).
bool first_unjustified_form(const std::string& s, int width, const std::function<bool(const std::string&)>& take,
                            std::size_t limit = 24);

}  // namespace decompiler
