// The template test, the entry walk and the extraction of a payload region.
#include "payload/extract.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "payload/key.h"
#include "payload/region.h"
#include "base/little_endian.h"
#include "platform/intercept/held_files.h"
#include "platform/rewrite/output_file.h"
#include "base/report.h"
#include "platform/platform.h"

namespace payload {

namespace {

bool is_reserved_character(unsigned char c) {
    return c < 32 || std::strchr("\\/:<>\"|?*", c) != nullptr;
}

// CON, PRN, AUX, NUL, COM1-9, LPT1-9, CONIN$, CONOUT$: Windows opens the device whatever
// the directory and extension ("c:\game\nul.txt" is the null device).
bool is_device_name(const char* name, std::size_t length) {
    std::size_t stem = 0;
    while (stem < length && name[stem] != '.') ++stem;
    while (stem > 0 && name[stem - 1] == ' ') --stem;
    char upper[8] = {};
    if (stem == 0 || stem >= sizeof upper) return false;
    for (std::size_t i = 0; i < stem; ++i)
        upper[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[i])));
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
        if (std::strcmp(upper, device) == 0) return true;
    return stem == 4 && (std::strncmp(upper, "COM", 3) == 0 || std::strncmp(upper, "LPT", 3) == 0) &&
           upper[3] >= '1' && upper[3] <= '9';
}

void note(ExtractFailure* why, ExtractFailure::Step step, EntryStatus status, int index, const EntryView& e,
          const std::string& path, const std::string& system_error = {}) {
    if (!why) return;
    why->step = step;
    why->status = status;
    why->index = index;
    why->name = e.name;
    why->path = path;
    why->size = e.size;
    why->system_error = system_error;
}

// Writes one entry's content from the region, unscrambling each chunk just before it goes
// out and counting the size field down behind it. False at the first failed or short write.
bool write_content(std::span<std::uint8_t> region, const EntryView& e, plat::Handle file) {
    std::uint8_t* size_field = region.data() + e.offset + kNameFieldSize;
    std::uint8_t* chunk = region.data() + e.content_offset;
    std::int32_t remaining = e.size;
    while (remaining > 0) {
        std::uint32_t length = static_cast<std::uint32_t>(std::min<std::int64_t>(remaining, kChunkSize));
        scramble_chunk(chunk, length);
        std::uint32_t written = 0;
        if (!plat::write_file(file, chunk, length, &written) || written != length) return false;
        remaining -= static_cast<std::int32_t>(length);
        le::put32s(size_field, remaining);
        chunk += length;
        report::keep_alive();
    }
    return true;
}

// A list that ends at `offset` (a '.') is whole when '.' fills the region from there up to
// its closing "End" and NUL. `bad` gets the first byte that breaks it.
EntryStatus check_list_end(std::span<const std::uint8_t> region, std::size_t offset, std::size_t* bad) {
    constexpr std::size_t kClosing = kEndLength + 1;
    if (region.size() < kClosing || offset >= region.size() - kClosing ||
        std::memcmp(region.data() + region.size() - kClosing, kEndWord, kClosing) != 0) {
        *bad = region.size() < kClosing ? 0 : region.size() - kClosing;
        return EntryStatus::NoClosingEnd;
    }
    const std::uint8_t* fill_end = region.data() + region.size() - kClosing;
    const std::uint8_t* p = std::find_if(region.data() + offset, fill_end, [](std::uint8_t b) { return b != kFillByte; });
    if (p == fill_end) return EntryStatus::EndOfList;
    *bad = static_cast<std::size_t>(p - region.data());
    return EntryStatus::FillBroken;
}

}  // namespace

bool holds_patch(std::span<const std::uint8_t> region) {
    return region.size() < kBeginLength || std::memcmp(region.data(), kBeginWord, kBeginLength) != 0;
}

bool is_valid_entry_name(const char* name, std::size_t length) {
    if (length == 0 || length > kNameMaxChars || name[0] == '.') return false;
    if (std::strcmp(name, "..") == 0) return false;
    for (std::size_t i = 0; i < length; ++i)
        if (is_reserved_character(static_cast<unsigned char>(name[i]))) return false;
    return !is_device_name(name, length);
}

EntryStatus read_entry(std::span<const std::uint8_t> region, std::size_t offset, EntryView* out) {
    *out = EntryView{};
    out->offset = offset;
    if (offset >= region.size()) return EntryStatus::HeaderPastEnd;
    if (region[offset] == kFillByte) return EntryStatus::EndOfList;
    if (region.size() - offset < kEntryHeaderSize) return EntryStatus::HeaderPastEnd;

    const std::uint8_t* header = region.data() + offset;
    const void* nul = std::memchr(header, 0, kNameFieldSize);
    std::size_t name_length = nul ? static_cast<const std::uint8_t*>(nul) - header : kNameFieldSize - 1;
    std::memcpy(out->name, header, name_length);
    out->size = le::get32s(header + kNameFieldSize);
    out->content_offset = offset + kEntryHeaderSize;
    if (!nul || !is_valid_entry_name(out->name, name_length)) return EntryStatus::BadName;

    std::size_t content = out->size > 0 ? static_cast<std::size_t>(out->size) : 0;
    if (content > region.size() - out->content_offset) return EntryStatus::SizePastEnd;
    out->next_offset = out->content_offset + content;
    return EntryStatus::Entry;
}

bool walk_entry_list(std::span<const std::uint8_t> region, std::vector<EntryView>* entries, ExtractFailure* why) {
    if (entries) entries->clear();
    std::size_t offset = 0;
    EntryView last;  // the last good entry, for naming where a damaged end begins
    for (int index = 1;; ++index) {
        EntryView e;
        EntryStatus status = read_entry(region, offset, &e);
        if (status == EntryStatus::EndOfList) {
            std::size_t bad = 0;
            status = check_list_end(region, offset, &bad);
            if (status == EntryStatus::EndOfList) return true;
            note(why, ExtractFailure::Step::Entry, status, index - 1, last, {});
            if (why) why->offset = bad;
            return false;
        }
        if (status != EntryStatus::Entry) {
            note(why, ExtractFailure::Step::Entry, status, index, e, {});
            return false;
        }
        if (entries) entries->push_back(e);
        last = e;
        offset = e.next_offset;
    }
}

namespace {

// Checks the whole list and every target path, then writes the entries one by one; false,
// with `why` filled, at the first thing that stops it.
// A carried file written into a fresh folder of the run's own, made new and held open from
// then on (plat::hold_file), so that nothing read of it later goes through its name.
bool write_held_entry(std::span<std::uint8_t> region, const EntryView& e, const char* path, int index,
                      ExtractFailure* why) {
    using Step = ExtractFailure::Step;
    const EntryStatus status = EntryStatus::Entry;
    plat::File file = plat::File::open(path, plat::Access::ReadWrite, plat::Disposition::CreateNew);
    if (!file) {
        note(why, Step::Create, status, index, e, path, plat::last_error_text());
        return false;
    }
    if (!write_content(region, e, file.get())) {
        note(why, Step::Write, status, index, e, path, plat::last_error_text());
        return false;
    }
    if (!plat::flush_file(file.get())) {
        note(why, Step::Close, status, index, e, path, plat::last_error_text());
        return false;
    }
    plat::hold_file(path, std::move(file));
    return true;
}

bool write_entries(std::span<std::uint8_t> region, const char* target_dir, ExtractHow how, ExtractFailure* why) {
    using Step = ExtractFailure::Step;
    std::vector<EntryView> entries;
    if (!walk_entry_list(region, &entries, why)) return false;
    std::size_t dir_length = std::strlen(target_dir);
    const EntryStatus status = EntryStatus::Entry;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const EntryView& e = entries[i];
        if (dir_length + std::strlen(e.name) + 1 > kTargetPathBytes) {
            note(why, Step::PathTooLong, status, static_cast<int>(i + 1), e, std::string(target_dir) + e.name);
            return false;
        }
    }
    int index = 0;
    for (const EntryView& e : entries) {
        ++index;
        char path[kTargetPathBytes];
        std::memcpy(path, target_dir, dir_length);
        std::strcpy(path + dir_length, e.name);
        if (how == ExtractHow::IntoOwnFolderHeld) {
            if (!write_held_entry(region, e, path, index, why)) return false;
            continue;
        }

        // Each file is written beside its target and put in place whole, so that a failure
        // never leaves a game file cut short.
        plat::OutputFile file;
        if (!file.create(path)) {
            note(why, Step::Create, status, index, e, path, file.problem());
            return false;
        }
        if (!write_content(region, e, file.handle())) {
            note(why, Step::Write, status, index, e, path, plat::last_error_text());
            return false;
        }
        if (!file.keep()) {
            note(why, Step::Close, status, index, e, path, file.problem());
            return false;
        }
    }
    return true;
}

}  // namespace

Result extract_payload(std::span<std::uint8_t> region, const char* target_dir, ExtractFailure* why, ExtractHow how) {
    ExtractFailure failure;
    if (write_entries(region, target_dir, how, &failure)) return Result::applied();
    std::string problem = describe(failure);
    if (why) *why = std::move(failure);
    return Result::failed(std::move(problem));
}

std::string describe(EntryStatus status) {
    switch (status) {
        case EntryStatus::Entry: return "entry";
        case EntryStatus::EndOfList: return "end of the list";
        case EntryStatus::HeaderPastEnd: return "the entry list runs past the region's end";
        case EntryStatus::BadName: return "the name is not a plain file name the installer may write";
        case EntryStatus::SizePastEnd: return "the size runs past the region's end";
        case EntryStatus::FillBroken: return "a byte behind the end of the list is not '.'";
        case EntryStatus::NoClosingEnd: return "the region does not end with \"End\"";
    }
    return "unknown";
}

std::string describe(const ExtractFailure& f) {
    std::string entry = "entry " + std::to_string(f.index);
    if (!f.name.empty()) entry += " (" + f.name + ")";
    switch (f.step) {
        case ExtractFailure::Step::None: return "no failure";
        case ExtractFailure::Step::Entry:
            if (f.status == EntryStatus::FillBroken || f.status == EntryStatus::NoClosingEnd) {
                std::string after = f.index == 0 ? std::string("the list ends before its first entry")
                                                 : "the list ends after " + entry;
                std::string what = f.status == EntryStatus::FillBroken
                                       ? "byte " + std::to_string(f.offset) + " behind it is not '.'"
                                       : "the region does not end with \"End\"";
                return after + ", but " + what;
            }
            if (f.status == EntryStatus::SizePastEnd)
                return entry + ": size " + std::to_string(f.size) + " runs past the region's end";
            return entry + ": " + describe(f.status);
        case ExtractFailure::Step::PathTooLong: return entry + ": the target path is longer than 255 bytes";
        case ExtractFailure::Step::Create: return plat::display_path(f.path) + ": cannot create: " + f.system_error;
        case ExtractFailure::Step::Write: return plat::display_path(f.path) + ": cannot write: " + f.system_error;
        case ExtractFailure::Step::Close: return plat::display_path(f.path) + ": cannot put in place: " + f.system_error;
    }
    return entry;
}

}  // namespace payload
