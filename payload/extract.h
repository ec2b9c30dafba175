// Reading a payload region: the template test, the walk over its entries, and the extraction
// that writes every carried file into the game directory.
//
// The region is taken as a span, so that the installer passes its own array and the tool,
// the tests and the fuzzer pass memory. Nothing here trusts the region: every entry is checked
// against the region's end and its name against the rules below before a byte is written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/result.h"

namespace payload {

// The template test: a region holds a patch unless it begins with "Begin" (case-sensitive).
bool holds_patch(std::span<const std::uint8_t> region);

// A name the installer writes: 1 to 19 characters, no directory part ('\', '/', ':'), not
// beginning with '.', none of the characters Windows refuses in a file name, and no device
// name (CON, NUL, COM1, ...), which would open the device in place of a file.
bool is_valid_entry_name(const char* name, std::size_t length);

enum class EntryStatus {
    Entry,           // an entry follows
    EndOfList,       // the byte at the position is '.'
    HeaderPastEnd,   // no room for a 24-byte header (nor a '.') before the region's end
    BadName,         // the name field holds no acceptable name
    SizePastEnd,     // the content runs past the region's end
    FillBroken,      // behind the list's end, a byte before the closing "End" is not '.'
    NoClosingEnd,    // the region does not end with "End" and its NUL
};

struct EntryView {
    std::size_t offset = 0;          // of the header, from the region's start
    char name[20] = {};              // NUL-terminated copy of the name field
    std::int32_t size = 0;           // as stored; a negative size counts as 0
    std::size_t content_offset = 0;  // first content byte
    std::size_t next_offset = 0;     // where the next entry begins
};

// Looks at the entry position `offset`. Fills `out` (name and size as far as they could be
// read) for every status but EndOfList.
EntryStatus read_entry(std::span<const std::uint8_t> region, std::size_t offset, EntryView* out);

// Why an extraction or a walk stopped, in parts: the step, the entry and the system's words.
// describe() gives the words that extract_payload's result carries.
struct ExtractFailure {
    EntryStatus status = EntryStatus::Entry;
    int index = 0;             // of the entry, counted from 1; for a damaged end, of the last good one
    std::string name;          // the entry's name, when it could be read
    std::size_t offset = 0;    // for a damaged end: the first byte that is not as it should be
    std::string path;          // the target path, once built
    std::int32_t size = 0;     // the entry's stored size
    std::string system_error;  // the system's words, for a failed create, write or close
    enum class Step { None, Entry, PathTooLong, Create, Write, Close } step = Step::None;
};

// Walks the whole list of a stamped region and checks how it ends: a '.' where the next
// entry would begin, then nothing but '.' up to the closing "End" and its NUL, which are the
// region's last four bytes. A '.' that ends the list early, in front of entries or other
// bytes, is damage, not an end. Fills `entries` with the good entries (when given) and, on
// damage, `why` (step Entry); false when the region is damaged.
bool walk_entry_list(std::span<const std::uint8_t> region, std::vector<EntryView>* entries, ExtractFailure* why);

constexpr std::size_t kTargetPathBytes = 256;  // the target path, NUL included

// Writes every entry of a stamped region into `target_dir` (which ends with a backslash):
// each content is unscrambled in place, chunk by chunk, and written straight from the region;
// each size field is counted down to 0. A damaged region (see walk_entry_list) is refused
// before any file is written. Fails, before anything is written for the entry at fault, at a
// path that does not fit 256 bytes, a file that cannot be created, a failed or short write,
// or a failed close; the problem is describe(failure), and `why`, when given, gets the
// failure's parts.
//
// IntoOwnFolderHeld: `target_dir` is a fresh folder that only this run writes (the stage). Each
// file is made new there (an existing name fails), written and flushed, and held open for the
// rest of the run (plat::hold_file), so that later reads of it go through that handle and not
// through its name; a failure leaves what was written for the folder's removal.
enum class ExtractHow { Replacing, IntoOwnFolderHeld };
Result extract_payload(std::span<std::uint8_t> region, const char* target_dir, ExtractFailure* why = nullptr,
                       ExtractHow how = ExtractHow::Replacing);

// Words for a failure: "entry 3 (x.dat): size 900 runs past the region's end".
std::string describe(const ExtractFailure& failure);
std::string describe(EntryStatus status);

}  // namespace payload
