// The journal of one change of a game folder: a text file of one record a line, appended and
// flushed before the change it describes is made, so that after a crash it tells what may have
// changed.
//
//   dravo journal 2
//   install 3
//   patch<TAB><sha256 of the patch's whole region>
//   keep<TAB>c:\games\dravo\dravo.mul<TAB>c:\games\dravo\dravo.mul~undo3<TAB>1048576<TAB><sha256>
//   create<TAB>c:\games\dravo\readme.txt
//   wrote<TAB>c:\games\dravo\dravo.mul<TAB><sha256><TAB>1049600
//   commit
//   entry<TAB>DravoPatch-0123abcd-3
//   undo
//
// The second line says what the journal is for: "install N" for the Nth install of the folder,
// or "tables" for the short transaction of a command that rewrites both message tables, which
// is no install (it is not counted, numbered or taken back by an undo).
// "patch" (optional, before any change) is the digest of the patch being installed, so that the
// same patch is recognised when it comes again. "keep" says that the file was (or was about to
// be) renamed to the kept name, so that the old version stays whole, with that version's size
// and SHA-256, so that it is checked before it is put back; "create" that a file of that name did
// not exist before; "wrote", written just before the commit, what each file the install left
// holds, so that it can be taken back only while nobody has changed it since. "commit" ends a
// whole change; "entry" (after it) names the install's entry in Windows' list of installed
// programs; "undo" says that taking the install back has begun. A last line cut short by a crash
// has no line feed and counts as not written: its change was never made.
//
// Version 1 journals, written before the sizes and digests were recorded, have "dravo journal
// 1", "keep<TAB>PATH<TAB>KEPT" and "wrote<TAB>PATH<TAB>SHA256", and no other lines; they are
// still read, rolled back and undone, with the checks they allow.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace journal {

struct Record {
    enum class Kind { Keep, Create, Wrote } kind = Kind::Create;
    std::string path;         // absolute, as the change named it
    std::string kept;         // Keep: where the old version is
    std::string digest;       // Keep: the old version's SHA-256; Wrote: the new file's; empty where unknown
    std::int64_t size = -1;   // Keep: the old version's size; Wrote: the new file's; -1 where unknown
};

inline constexpr int kJournalVersion = 2;

struct JournalFile {
    int version = kJournalVersion;
    int number = 0;       // of the install, counted from 1 in a game folder; 0 for "tables"
    bool tables = false;  // the transaction of a command that rewrites both message tables
    std::string patch;    // the patch's digest, when recorded
    std::string entry;    // the uninstall entry's key, when recorded
    std::vector<Record> records;
    bool committed = false;
    bool undoing = false;
};

// Fails, saying what is wrong, when the text is not a journal (its first two lines are wrong)
// or a complete line is malformed.
Result parse_journal(std::string_view text, JournalFile* out);

// The lines, as the change writes them (version 2).
std::string journal_header(int number);
std::string tables_journal_header();
std::string patch_line(const std::string& digest);
std::string entry_line(const std::string& key);
std::string record_line(const Record& record);
inline constexpr char kCommitLine[] = "commit\n";
inline constexpr char kUndoLine[] = "undo\n";

// The whole journal as text in its own version: what parse_journal reads back the same.
std::string journal_text(const JournalFile& journal);

}  // namespace journal
