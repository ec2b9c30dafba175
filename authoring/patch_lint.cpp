// The patch checker. It loads the configuration and the file table as the installer does
// (with the game folder current, so that the patch's "hd:" means what it will mean there),
// watches the [path] reader and the work-list runner at work, and judges what they read.
#include "authoring/patch_lint.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <span>

#include "base/text.h"
#include "config/config.h"
#include "config/line_widths.h"
#include "config/file_table.h"
#include "install/work_list.h"
#include "messages/message_header.h"
#include "messages/message_updates.h"
#include "payload/digest_area.h"
#include "payload/extract.h"
#include "payload/region.h"
#include "payload/stamp.h"
#include "platform/platform.h"
#include "platform/rules/winpath.h"
#include "xfile/container_info.h"
#include "xfile/records.h"
#include "xfile/replace.h"
#include "xfile/xfile.h"

namespace authoring {

namespace {

using diag::Diagnostic;
using diag::Severity;

constexpr char kPatchIni[] = "patch.ini";
constexpr char kPatchDat[] = "patch.dat";
constexpr std::size_t kNameChars = 19;           // a carried file's or a logical name
constexpr std::size_t kWorkPieceChars = config::kLineChars;     // the runner reads a line in pieces this long
constexpr std::size_t kPathPieceChars = config::kPathLineChars;  // the [path] reader's
constexpr std::int64_t kMaxReadBytes = 64 << 20;  // patch.ini and patch.dat are a few KB

using text::is_blank;

using text::lowered;
using text::trimmed;

bool same_name(const std::string& a, const std::string& b) { return plat::names_equal_ignoring_case(a, b); }

// Line numbers and pieces of a text file read into memory; positions are the stream's, which
// reads the file in binary.
class TextFile {
public:
    std::vector<std::uint8_t> bytes;

    int line_of(std::size_t pos) const {
        pos = std::min(pos, bytes.size());
        return 1 + static_cast<int>(std::count(bytes.begin(), bytes.begin() + static_cast<long>(pos), '\n'));
    }
    std::size_t line_start(std::size_t pos) const {
        while (pos > 0 && bytes[pos - 1] != '\n') --pos;
        return pos;
    }
    // The whole line that holds `pos`, without its line end.
    std::string line_at(std::size_t pos) const {
        std::size_t b = line_start(pos), e = b;
        while (e < bytes.size() && bytes[e] != '\n') ++e;
        std::string s(bytes.begin() + static_cast<long>(b), bytes.begin() + static_cast<long>(e));
        if (!s.empty() && s.back() == '\r') s.pop_back();
        return s;
    }
    // Whether anything but blanks follows `pos` on its line.
    bool more_on_line(std::size_t pos) const {
        for (; pos < bytes.size() && bytes[pos] != '\n'; ++pos)
            if (!is_blank(static_cast<char>(bytes[pos]))) return true;
        return false;
    }
};

bool read_file(const std::string& path, std::vector<std::uint8_t>* out) {
    return plat::read_whole_file(path.c_str(), kMaxReadBytes, out) == plat::ReadWholeResult::Done;
}

// Where a piece of a line, read with a buffer of `piece_chars` characters, ends up: the
// piece that ended at `end` (the stream's position behind it).
struct Piece {
    int line = 0;
    bool continuation = false;  // not the line's first piece: the line was cut before it
    bool cut = false;           // the first piece of a line whose rest is read as another line
};

Piece piece_ending_at(const TextFile& f, std::size_t end, std::size_t piece_chars) {
    Piece p;
    std::size_t last = end > 0 ? end - 1 : 0;
    std::size_t start = f.line_start(last);
    p.line = f.line_of(last);
    p.continuation = end - start > piece_chars;
    p.cut = !p.continuation && end > 0 && f.bytes[last] != '\n' && f.more_on_line(end);
    return p;
}

class Checker {
public:
    explicit Checker(const PatchToCheck& patch) : patch_(patch), used_(patch.carried.size(), false) {}
    std::vector<Diagnostic> run();

private:
    void report(const std::string& file, int line, Severity s, std::string text) {
        found_.push_back({file, line, s, std::move(text)});
    }
    void error(const std::string& file, int line, std::string text) { report(file, line, Severity::Error, std::move(text)); }
    void warning(const std::string& file, int line, std::string text) {
        report(file, line, Severity::Warning, std::move(text));
    }

    bool game() const { return !patch_.game_dir.empty(); }
    int carried_index(const std::string& name) const;
    bool carries(const char* name) const { return carried_index(name) >= 0; }
    int carried_at(const std::string& path) const;
    bool would_exist(const std::string& path) const { return carried_at(path) >= 0 || plat::file_exists(path.c_str()); }
    std::string where_it_lies(const std::string& path) const;

    void check_carried_names();
    bool load_tables();
    void check_path_line(const config::PathLineSeen& seen);
    void check_records();
    void check_work_list();
    bool check_work_line(const char* kind_name, std::FILE* stream, Piece* piece, std::string* text);
    void check_member_line(const char* argument, std::FILE* stream);
    void check_source_line(const char* argument, std::FILE* stream);
    void check_one_message_line(const char* argument, std::FILE* stream);
    void check_passed_over(const char* line, std::FILE* stream);
    void check_source(const std::string& source, int line);
    void check_member(const std::string& member, int line);
    void check_unused();

    const PatchToCheck& patch_;
    std::vector<bool> used_;
    std::vector<Diagnostic> found_;
    std::string home_;  // the folder the carried files are unpacked into, as the table writes it
    TextFile ini_;
    std::size_t game_names_ = 0;  // the file table's entries that the game's own files made
};

int Checker::carried_index(const std::string& name) const {
    for (std::size_t i = 0; i < patch_.carried.size(); ++i)
        if (same_name(patch_.carried[i], name)) return static_cast<int>(i);
    return -1;
}

// The carried file a path names, or -1: a path into the folder the files are unpacked into
// (a name without a directory is opened there too, as that folder is current).
int Checker::carried_at(const std::string& path) const {
    std::size_t cut = path.find_last_of("\\/");
    std::string dir = cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
    std::string base = cut == std::string::npos ? path : path.substr(cut + 1);
    if (!dir.empty() && !same_name(dir, home_)) return -1;
    return carried_index(base);
}

// A path to read what lies at `path` from: the carried file when the path names one.
std::string Checker::where_it_lies(const std::string& path) const {
    int i = carried_at(path);
    return i >= 0 ? patch_.dir + patch_.carried[static_cast<std::size_t>(i)] : path;
}

void Checker::check_carried_names() {
    std::uint64_t total = 1;  // the '.' that ends the list
    for (std::size_t i = 0; i < patch_.carried.size(); ++i) {
        const std::string& name = patch_.carried[i];
        if (name.size() > kNameChars)
            error(name, 0, "the name is longer than the 19 characters a carried file's name may have");
        else if (!payload::is_valid_entry_name(name.c_str(), name.size()))
            error(name, 0, "the installer cannot unpack a file of this name (a device name, a leading '.', or a "
                           "character Windows refuses)");
        for (std::size_t j = 0; j < i; ++j)
            if (same_name(patch_.carried[j], name))
                error(name, 0, "the patch also carries " + patch_.carried[j] + ": names must differ in more than letter case");
        plat::File f = plat::File::open((patch_.dir + name).c_str(), plat::Access::Read, plat::Disposition::OpenExisting);
        std::int64_t size = f ? plat::file_size(f.get()) : -1;
        if (size < 0) error(name, 0, "cannot be read: " + plat::last_error_text());
        total += payload::kEntryHeaderSize + static_cast<std::uint64_t>(std::max<std::int64_t>(size, 0));
    }
    if (total > payload::kEntryCapacity)
        error(plat::display_path(patch_.dir), 0,
              "the files need " + std::to_string(total) + " bytes (24 per file, the contents and one '.'), " +
                  std::to_string(total - payload::kEntryCapacity) + " bytes more than the payload's " +
                  std::to_string(payload::kEntryCapacity));
    if (!carries(kPatchIni)) error(kPatchIni, 0, "the patch carries no patch.ini: the installer refuses it");
    if (!carries(kPatchDat)) error(kPatchDat, 0, "the patch carries no patch.dat (it may be empty, but it must be there)");
    int ini = carried_index(kPatchIni), dat = carried_index(kPatchDat);
    if (ini >= 0) used_[static_cast<std::size_t>(ini)] = true;
    if (dat >= 0) used_[static_cast<std::size_t>(dat)] = true;
}

// The configuration as the installer loads it: the game's Dravo.ini, the patch's patch.ini
// (its [path] lines watched), multigen.dat; patch.dat's records are applied by check_records.
bool Checker::load_tables() {
    std::string folder = game() ? patch_.game_dir : patch_.dir;
    if (!plat::change_directory(folder.c_str())) {
        error(plat::display_path(folder), 0, "cannot enter the folder: " + plat::last_error_text());
        return false;
    }
    char home[plat::kMaxPath + 1];
    if (!text::copy_if_fits(home, plat::kMaxPath, plat::current_directory().c_str()) ||
        text::make_directory(home, plat::kMaxPath) < 0) {
        error(plat::display_path(folder), 0, "the folder's path is too long");
        return false;
    }
    home_ = home;
    if (game()) {
        std::string dravo_ini = patch_.game_dir + "Dravo.ini";
        if (!config::read_configuration(dravo_ini.c_str(), config::ConfigMode::Game)) {
            error(plat::display_path(dravo_ini), 0, "cannot be read: the installer ends with \"Dravo not found.\"");
            return false;
        }
        game_names_ = config::file_table().used;
    }
    if (!read_file(patch_.dir + kPatchIni, &ini_.bytes)) {
        error(kPatchIni, 0, "cannot be read: " + plat::last_error_text());
        return false;
    }
    std::vector<config::PathLineSeen> seen;
    std::vector<std::string> pieces;
    config::observe_path_lines([&](const config::PathLineSeen& s) {
        seen.push_back(s);
        pieces.emplace_back(s.piece);
    });
    config::read_configuration((patch_.dir + kPatchIni).c_str(), config::ConfigMode::Patch);
    config::observe_path_lines({});
    for (std::size_t i = 0; i < seen.size(); ++i) {
        seen[i].piece = pieces[i].c_str();
        check_path_line(seen[i]);
    }
    if (game()) {
        std::string multigen = patch_.game_dir + "multigen.dat";
        if (!xfile::load_record_file(multigen.c_str())) {
            error(plat::display_path(multigen), 0, "cannot be read: the installer refuses an incomplete game");
            return false;
        }
    }
    return true;
}

// How a name the installer reads (a work line's source, a [path] folder) could reach beyond the
// game: "" when it cannot. A [path] folder may begin with "cd:" or "hd:", the game's own folders.
std::string reach_beyond_game(std::string text) {
    if (text.size() >= 3 && (lowered(text.substr(0, 3)) == "cd:" || lowered(text.substr(0, 3)) == "hd:"))
        text.erase(0, 3);
    if (!text.empty() && (text[0] == '\\' || text[0] == '/')) return "is an absolute path";
    if (text.size() >= 2 && text[1] == ':') return "names a drive";
    for (std::size_t at = 0; at <= text.size();) {
        std::size_t end = std::min(text.find_first_of("\\/", at), text.size());
        if (text.compare(at, end - at, "..") == 0) return "climbs out with \"..\"";
        at = end + 1;
    }
    return {};
}

void Checker::check_path_line(const config::PathLineSeen& seen) {
    std::size_t start = static_cast<std::size_t>(seen.offset);
    Piece piece = piece_ending_at(ini_, start + std::strlen(seen.piece), kPathPieceChars);
    if (piece.continuation) return;  // reported with the line's first piece
    int line = piece.line;
    if (piece.cut) {
        error(kPatchIni, line, "the [path] line is longer than the 79 characters read at a time: the rest, from "
                               "column 80, is read as a line of its own");
        return;
    }
    if (seen.fate == config::PathLineFate::Blank) return;
    std::string raw = ini_.line_at(start);
    std::string name = trimmed(lowered(raw.substr(0, kNameChars)));
    char column20 = raw.size() > kNameChars ? raw[kNameChars] : ' ';
    bool name_blank_inside = name.find_first_of(" \t") != std::string::npos;
    if (!is_blank(column20)) {
        if (raw.size() > kNameChars && !is_blank(raw[kNameChars - 1]))
            error(kPatchIni, line, "the name runs past column 19: a logical name has at most 19 characters, "
                                   "column 20 is blank and the directory begins in column 21");
        else
            error(kPatchIni, line, "the directory begins in column 20, whose character is dropped: it must begin "
                                   "in column 21");
        return;
    }
    if (name_blank_inside) {
        error(kPatchIni, line, "\"" + name + "\" is taken as the name: the directory must begin in column 21, "
                               "behind the name's 19 columns");
        return;
    }
    if (seen.fate == config::PathLineFate::Duplicate) {
        auto at = config::file_table().index.find(name);
        bool games = at != config::file_table().index.end() && at->second < game_names_;
        warning(kPatchIni, line, name + (games ? " is a name of the game already" : " is named by an earlier line") +
                                     ": the first definition wins and this line is dropped");
    } else if (seen.fate == config::PathLineFate::TableFull) {
        std::size_t room = config::file_table().capacity - game_names_;
        error(kPatchIni, line, "no free entry left in the file table for " + name + ": the game's table has room for " +
                                   std::to_string(room) + " new names, and this line is dropped");
    }
    std::string directory = trimmed(raw.size() > kNameChars + 1 ? raw.substr(kNameChars + 1) : std::string());
    if (directory.empty())
        warning(kPatchIni, line, "no directory from column 21 on: " + name + " resolves in the current folder");
    else if (std::string how = reach_beyond_game(directory); !how.empty())
        warning(kPatchIni, line, "the directory of " + name + " " + how + ": the installer, which runs with the "
                                 "system's rights, reads and writes whatever it names");
}

void Checker::check_records() {
    std::vector<std::uint8_t> bytes;
    if (!read_file(patch_.dir + kPatchDat, &bytes)) return;  // reported with the carried names
    std::size_t count = bytes.size() / xfile::kRecordSize;
    for (std::size_t i = 0; i < count; ++i) {
        int line = static_cast<int>(i + 1);
        std::span<const std::uint8_t, xfile::kRecordSize> raw(bytes.data() + i * xfile::kRecordSize, xfile::kRecordSize);
        xfile::TableRecord r = xfile::decode_record(raw);
        xfile::apply_record(r);  // as the installer's loader does, whatever is said of the record
        if (!std::memchr(raw.data() + xfile::kRecordNameOffset, 0, xfile::kRecordTextBytes) ||
            !std::memchr(raw.data() + xfile::kRecordContainerOffset, 0, xfile::kRecordTextBytes)) {
            error(kPatchDat, line, "a name fills all 20 bytes of its field: names have at most 19 characters and a NUL");
            continue;
        }
        std::string name = r.name, container = r.container;
        if (name.empty()) {
            error(kPatchDat, line, "the record has no name");
            continue;
        }
        if (lowered(name) != name) {
            error(kPatchDat, line, name + " is not in lower case: it matches no name of the file table, whose names are");
            continue;
        }
        config::FileEntry* e = config::find_entry(r.name);
        if (!e) {
            if (game())
                error(kPatchDat, line, name + " is a name of neither the game's nor the patch's [path] section: the "
                                              "record is ignored");
            continue;
        }
        if (container.empty()) continue;
        std::string path = std::string(e->directory) + container;
        if (int c = carried_at(path); c >= 0) {
            used_[static_cast<std::size_t>(c)] = true;
        } else if (!plat::file_exists(path.c_str())) {
            error(kPatchDat, line, "the container " + container + " of " + name + " is " +
                                       (carries(container.c_str()) ? "carried, but " + name + "'s directory is "
                                                                   : "not carried by the patch nor found in ") +
                                       plat::display_path(e->directory) + ": " + name + " resolves as a plain file");
        }
    }
    if (std::size_t tail = bytes.size() % xfile::kRecordSize; tail != 0)
        error(kPatchDat, static_cast<int>(count + 1),
              std::to_string(tail) + " bytes at the end are not a whole 42-byte record and are ignored");
}

// The piece of patch.ini the runner just read (the stream stands behind it), and the whole
// line it came from. False when the piece is not to be judged on its own: it continues a line
// cut short, or it was cut itself (reported here).
bool Checker::check_work_line(const char* kind_name, std::FILE* stream, Piece* piece, std::string* text) {
    long end = std::ftell(stream);
    *piece = piece_ending_at(ini_, end > 0 ? static_cast<std::size_t>(end) : 0, kWorkPieceChars);
    if (piece->continuation) return false;
    if (piece->cut) {
        error(kPatchIni, piece->line, std::string("the ") + kind_name + " line is longer than the 98 characters the "
                                      "installer reads at a time: the rest is read as a line of its own");
        return false;
    }
    *text = trimmed(ini_.line_at(static_cast<std::size_t>(end - 1)));
    if (text->size() < 2) {
        error(kPatchIni, piece->line, "the line holds its kind alone, with nothing to work on");
        return false;
    }
    if (!is_blank((*text)[1]))
        error(kPatchIni, piece->line, std::string("the kind is followed by '") + (*text)[1] +
                                          "', not a blank: the installer drops the second character whatever it is");
    return true;
}

void Checker::check_source(const std::string& source, int line) {
    if (std::string how = reach_beyond_game(source); !how.empty())
        warning(kPatchIni, line, "the source " + source + " " + how + ": the installer, which runs with the "
                                 "system's rights, reads whatever it names");
    std::vector<char> name(source.begin(), source.end());
    name.push_back(0);
    int resolution = config::resolve_logical_name(name.data());
    std::string path = config::file_table().result;
    if (int c = carried_at(path); c >= 0) {
        used_[static_cast<std::size_t>(c)] = true;
        return;
    }
    if (game() && (resolution == config::kContainerMember || plat::file_exists(path.c_str()))) return;
    if (source.size() > kNameChars)
        error(kPatchIni, line, source + " is longer than the 19 characters a carried file's name may have");
    else if (carries(source.c_str()))
        error(kPatchIni, line, "the patch carries " + source + ", but the file table places that name in " +
                                   plat::display_path(path) + ", and carried files are unpacked into the game folder");
    else
        error(kPatchIni, line, "the patch does not carry " + source + (game() ? ", and the game has no such file" : ""));
}

void Checker::check_member(const std::string& member, int line) {
    std::vector<char> name(member.begin(), member.end());
    name.push_back(0);
    int resolution = config::resolve_logical_name(name.data());
    std::string key = name.data();
    if (resolution == config::kUnknownName) {
        if (game()) error(kPatchIni, line, key + " is not a name of the game's file table");
        return;
    }
    std::string container = config::file_table().result;
    if (resolution == config::kPlainFile) {
        config::FileEntry* e = config::find_entry(key.c_str());
        if (!e || !e->container[0]) {
            error(kPatchIni, line, key + " is a plain file" + (game() ? " of the game" : "") + ", not a member of a container");
            return;
        }
        container = std::string(e->directory) + e->container;
        if (carried_at(container) < 0) {
            error(kPatchIni, line, "the container of " + key + ", " + plat::display_path(container) + ", does not exist");
            return;
        }
    }
    std::string shown = carried_at(container) >= 0 ? patch_.carried[static_cast<std::size_t>(carried_at(container))]
                                                   : plat::display_path(container);
    plat::File f = plat::File::open(where_it_lies(container).c_str(), plat::Access::Read, plat::Disposition::OpenExisting);
    std::vector<std::uint8_t> header(kContainerHeaderSize);
    std::uint32_t got = 0;
    if (!f || !plat::read_at(f.get(), 0, header.data(), kContainerHeaderSize, &got) || got != kContainerHeaderSize) {
        error(kPatchIni, line, "cannot read the header of the container " + shown);
        return;
    }
    std::optional<container_format::ContainerHeader> decoded = container_format::ContainerHeader::decode(header);
    ContainerInfo info = container_info_from_header(header, plat::file_size(f.get()));
    if (std::string why = structural_problem(info); !decoded || !why.empty()) {
        error(kPatchIni, line, "the container " + shown + " is damaged: " + why);
        return;
    }
    if (decoded->find_member(key) < 0) {
        error(kPatchIni, line, "the container " + shown + " has no member named " + key);
        return;
    }
    if (game() && decoded->tag_newer_than_replaced())
        warning(kPatchIni, line, "the item would be skipped: the container " + shown + " has a newer version tag");
}

void Checker::check_member_line(const char* argument, std::FILE* stream) {
    Piece piece;
    std::string text;
    if (!check_work_line("kind '0'", stream, &piece, &text)) return;
    std::string source, member;
    split_member_line(argument, &source, &member);
    if (source.empty() || member.empty()) {
        error(kPatchIni, piece.line, "the line is not 0 SOURCE MEMBER");
        return;
    }
    check_source(source, piece.line);
    check_member(member, piece.line);
}

void Checker::check_source_line(const char* argument, std::FILE* stream) {
    Piece piece;
    std::string text;
    if (!check_work_line("kind '1'", stream, &piece, &text)) return;
    messages::SourceUpdateLine parsed;
    if (Result read = messages::read_source_update_line(argument, &parsed); read.failed()) {
        error(kPatchIni, piece.line, read.problem + " (1 SOURCE #NUMBER TEXT)");
        return;
    }
    check_source(parsed.source, piece.line);
    if (parsed.check_text_cut)
        warning(kPatchIni, piece.line, "only the check text's first 206 characters are compared");
    if (!game()) return;
    if (Result applies = messages::source_update_applies(parsed); applies.result != WorkResult::Applied)
        warning(kPatchIni, piece.line, "the item would be skipped on this game: " + applies.problem);
}

void Checker::check_one_message_line(const char* argument, std::FILE* stream) {
    Piece piece;
    std::string text;
    bool judged = check_work_line("kind '2'", stream, &piece, &text);
    // Read as the item reads it, so that the runner goes on behind the message's text.
    messages::OneMessageLine parsed;
    Result read = messages::read_one_message_line(argument, &parsed);
    if (judged && !read.failed()) {
        if (parsed.check_text_cut) warning(kPatchIni, piece.line, "only the check text's first 19 characters are compared");
        std::string header = trimmed(parsed.header);
        messages::IndexRecord record;
        messages::HeaderNotes notes;
        std::vector<char> buffer(header.begin(), header.end());
        buffer.push_back(0);
        messages::read_header(buffer.data(), record, messages::HeaderRules::Update, &notes);
        if (header.empty() || header[0] != '#')
            error(kPatchIni, piece.line, "the header must begin with # or ## (NUMBER:CHECK TEXT:#HEADER)");
        else if (notes.number <= 0 || notes.number > 0xFFFF)
            error(kPatchIni, piece.line, "the header's message number is missing or out of range");
        else if (game())
            if (Result applies = messages::one_message_applies(parsed); applies.result != WorkResult::Applied)
                warning(kPatchIni, piece.line, "the item would be skipped on this game: " + applies.problem);
    } else if (judged) {
        error(kPatchIni, piece.line, read.problem);
    }
    messages::skip_one_message_text(stream);
}

void Checker::check_passed_over(const char* line, std::FILE* stream) {
    long end = std::ftell(stream);
    Piece piece = piece_ending_at(ini_, end > 0 ? static_cast<std::size_t>(end) : 0, kWorkPieceChars);
    if (piece.continuation) return;
    if (line[0] == '[')
        error(kPatchIni, piece.line, std::string(line) + " does not start a section: the work list runs to the end "
                                     "of the file and passes this line over; put other sections before [work]");
    else
        error(kPatchIni, piece.line, std::string("unknown work kind '") + line[0] +
                                         "': the installer passes the line over (kinds are 0, 1 and 2)");
}

void Checker::check_work_list() {
    std::string path = patch_.dir + kPatchIni;
    install::WorkListSurvey survey = install::survey_work_list(path.c_str());
    if (!survey.has_section) {
        error(kPatchIni, 0, "no [work] section: the installer refuses the patch");
        return;
    }
    if (!survey.has_items && patch_.carried.size() <= 2)
        error(kPatchIni, 0, "no work item, and nothing carried besides patch.ini and patch.dat: the patch does nothing");
    install::WorkHandlers h;
    h.by_kind[0] = [this](const char* a, std::FILE* s) { check_member_line(a, s); return Result::applied(); };
    h.by_kind[1] = [this](const char* a, std::FILE* s) { check_source_line(a, s); return Result::applied(); };
    h.by_kind[2] = [this](const char* a, std::FILE* s) { check_one_message_line(a, s); return Result::applied(); };
    h.passed_over = [this](const char* line, std::FILE* s) { check_passed_over(line, s); return Result::applied(); };
    install::run_work_list(path.c_str(), h);
    xfile::reset_xfile();
}

// A carried file is unpacked into the game folder whatever names it. One that nothing names
// and that replaces no file of the game becomes a new file of the game (a patch made from two
// folders carries such files on purpose), or was forgotten: a note says so.
void Checker::check_unused() {
    if (!game()) return;
    const config::FileTable& table = config::file_table();
    for (std::size_t i = 0; i < patch_.carried.size(); ++i) {
        const std::string& name = patch_.carried[i];
        if (used_[i] || !payload::is_valid_entry_name(name.c_str(), name.size())) continue;  // named as unpackable
        if (plat::file_exists((patch_.game_dir + name).c_str())) continue;
        bool named = false;
        for (std::size_t e = 0; e < table.used && !named; ++e) {
            const config::FileEntry& entry = table.entry(e);
            bool here = !entry.directory[0] || same_name(entry.directory, home_);
            named = here && (same_name(entry.name, name) || same_name(entry.container, name));
        }
        if (!named)
            report(name, 0, Severity::Note,
                   "carried as a new file of the game folder: no work item, [path] line or patch.dat record names "
                   "it, and the game has no file of that name");
    }
}

std::vector<Diagnostic> Checker::run() {
    std::string saved = plat::current_directory();
    config::reset_configuration();
    xfile::reset_xfile();
    check_carried_names();
    if (carries(kPatchIni) && load_tables()) {
        if (carries(kPatchDat)) check_records();
        check_work_list();
        check_unused();
    }
    config::observe_path_lines({});
    xfile::reset_xfile();
    config::reset_configuration();
    plat::change_directory(saved.c_str());
    // By file, in the order the files were first named, and by line within each.
    std::vector<std::string> files;
    for (const Diagnostic& d : found_)
        if (std::find(files.begin(), files.end(), d.file) == files.end()) files.push_back(d.file);
    auto rank = [&files](const Diagnostic& d) { return std::find(files.begin(), files.end(), d.file) - files.begin(); };
    std::stable_sort(found_.begin(), found_.end(), [&rank](const Diagnostic& a, const Diagnostic& b) {
        return rank(a) != rank(b) ? rank(a) < rank(b) : a.line < b.line;
    });
    return found_;
}

}  // namespace

std::vector<Diagnostic> check_patch_files(const PatchToCheck& patch) { return Checker(patch).run(); }

std::vector<Diagnostic> check_patch_image(std::vector<std::uint8_t>& image, const std::string& shown_name,
                                          const std::string& scratch_dir, const std::string& game_dir,
                                          std::vector<std::string>* unpacked) {
    auto problem = [&](std::string text) { return std::vector<Diagnostic>{{shown_name, 0, Severity::Error, std::move(text)}}; };
    std::size_t at = 0;
    switch (payload::find_region(image, &at)) {
        case payload::FindResult::Found: break;
        case payload::FindResult::Ambiguous: return problem("holds more than one payload region");
        case payload::FindResult::NotFound: return problem("no payload region: not a patch installer");
    }
    std::span<std::uint8_t> region(image.data() + at, payload::kRegionBytes);
    if (!payload::holds_patch(region)) return problem("carries no patch: its payload region is in template state");
    std::size_t digest_at = 0;
    if (payload::find_digest_area(image, &digest_at) != payload::FindResult::Found)
        return problem("has no single patch digest area, so the installer cannot vouch for its patch");
    std::span<const std::uint8_t> area(image.data() + digest_at, payload::kDigestAreaBytes);
    if (Result sound = payload::verify_region(region, area); sound.failed()) return problem(sound.problem);
    std::vector<payload::EntryView> entries;
    payload::ExtractFailure why;
    if (!payload::walk_entry_list(region, &entries, &why)) return problem("damaged payload: " + payload::describe(why));
    PatchToCheck patch{scratch_dir, {}, game_dir};
    for (const payload::EntryView& e : entries) patch.carried.emplace_back(e.name);
    if (unpacked) *unpacked = patch.carried;
    if (Result out = payload::extract_payload(region, scratch_dir.c_str()); out.failed()) return problem(out.problem);
    return check_patch_files(patch);
}

}  // namespace authoring
