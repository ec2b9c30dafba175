// The two work items of a patch that change the game's message tables: a new message source
// that replaces the whole tables (kind '1'), and one message carried in the work list itself
// (kind '2'). Both first check that the installed tables are the ones the patch expects.
#pragma once

#include <cstdio>
#include <string>

#include "base/result.h"

namespace messages {

// Kind '1'. `text` is the work line from its third character on: the source file name, then
// '#' with the check message's number, then the text its first string must begin with.
// Skipped when the tables carry the tag "02" or the check fails; Failed when the source cannot
// be copied or compiled, in which case the tables stay as they were and are not tagged. The
// result says why in words, whatever it is.
Result update_messages_from_source(const char* text);

// Kind '2'. `text` is the work line from its third character on: check number ':' check text
// ':' header. The message's text follows in `stream` (the open patch configuration), up to and
// including the next line that begins with '#'. That text is read in every case, also when the
// item is skipped or fails, so that the caller goes on after it and never reads it as work.
Result update_one_message(const char* text, std::FILE* stream);

// What the two kinds will need, checked before an install changes anything: the message
// tables, where they exist, can be read and written; kind '1's new source can be opened.
// Kind '2's check reads its message text from `stream`, as the item itself does. `tables`
// receives the paths of the two tables (for the room their rewrite needs).
// The parts of a kind '1' line, read as the item reads them (check text cut at 206 characters).
struct SourceUpdateLine {
    std::string source;
    int check_number = 0;
    std::string check_text;
    bool check_text_cut = false;  // it was longer than the part compared
};
// Failed, with why, when the line is not SOURCE #NUMBER [TEXT].
Result read_source_update_line(const char* text, SourceUpdateLine* out);
// Whether the item's checks let it run on the installed tables: applied when they do, skipped
// with why (tables tagged "02", check message not beginning with the check text).
Result source_update_applies(const SourceUpdateLine& line);

// The parts of a kind '2' line (check text cut at 19 characters).
struct OneMessageLine {
    int check_number = 0;
    std::string check_text;
    std::string header;
    bool check_text_cut = false;
};
Result read_one_message_line(const char* text, OneMessageLine* out);
// Applied when the check message exists and holds the check text, else skipped with why.
Result one_message_applies(const OneMessageLine& line);
// Reads past the message text behind a kind '2' line, up to and including its closing line.
void skip_one_message_text(std::FILE* stream);

Result check_messages_from_source(const char* text, std::string* dat, std::string* str);
Result check_one_message(std::FILE* stream, std::string* dat, std::string* str);

}  // namespace messages
