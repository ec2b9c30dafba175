// The header line of a message ("#" or "##", its numbers, keywords, names and points) and the
// token reader that takes its numbers apart. The full compiler and the single-message update
// read headers by slightly different rules; both are here, side by side.
#pragma once

#include "messages/message_tables.h"

namespace messages {

constexpr int kNoToken = -30000;          // what the token reader answers at the end of a text

// Moves the cursor past carriage returns, line feeds, tabs and spaces.
void skip_whitespace(const char*& cursor);
// The next whitespace-delimited token as a number: the token is ended in place and the
// cursor moves past it and one delimiter. kNoToken when nothing is left.
int next_number(char*& cursor);
// The decimal value of leading digits with an optional sign; 0 without digits. Values
// beyond 32 bits saturate, the same on every system.
int text_to_int(const char* text);

// How a header line is read. The full compiler abandons a header at its first missing number;
// the single-message update stores a missing number as kNoToken and counts a bare 'p' as a
// point of that value.
enum class HeaderRules { Compiler, Update };

// What reading a header changed or gave up, for the compiler's warnings.
struct HeaderNotes {
    long long number = 0;          // the number as written (before it was cut to 16 bits)
    const char* abandoned_at = nullptr;  // the first missing number's field, when abandoned
    long long width = 0;           // the width as written, when read
    bool width_read = false;
};

// Reads a header line ("#" or "##" and its numbers, keywords, names and points) into a
// cleared record. The first character is skipped whatever it is. Returns the raw flag.
bool read_header(const char* line, IndexRecord& record, HeaderRules rules, HeaderNotes* notes = nullptr);

}  // namespace messages
