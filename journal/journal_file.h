// The journal of one install: a text file of one record a line, appended and flushed before
// the change it describes is made, so that after a crash it tells what may have changed.
//
//   dravo journal 1
//   install 3
//   keep<TAB>c:\games\dravo\dravo.mul<TAB>c:\games\dravo\dravo.mul~undo3
//   create<TAB>c:\games\dravo\readme.txt
//   wrote<TAB>c:\games\dravo\dravo.mul<TAB><sha256 in hex>
//   commit
//   undo
//
// "keep" says that the file was (or was about to be) renamed to the kept name, so that the
// old version stays whole; "create" that a file of that name did not exist before; "wrote",
// written just before the commit, what each file the install left holds, so that it can be
// taken back only while nobody has changed it since. "commit"
// ends a whole install; "undo" says that taking the install back has begun. A last line cut
// short by a crash has no line feed and counts as not written: its change was never made.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace journal {

struct Record {
    enum class Kind { Keep, Create, Wrote } kind = Kind::Create;
    std::string path;  // absolute, as the install named it
    std::string kept;  // Keep: where the old version is; Wrote: the SHA-256 in hexadecimal
};

struct JournalFile {
    int number = 0;  // of the install, counted from 1 in a game folder
    std::vector<Record> records;
    bool committed = false;
    bool undoing = false;
};

// Failed when the text is not a journal (its first two lines are wrong) or a complete line is
// malformed, saying what is wrong.
Result parse_journal(std::string_view text, JournalFile* out);

std::string journal_header(int number);
std::string record_line(const Record& record);
inline constexpr char kCommitLine[] = "commit\n";
inline constexpr char kUndoLine[] = "undo\n";

}  // namespace journal
