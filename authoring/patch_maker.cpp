// Making a patch from two game folders. The containers are compared member by member, the
// folders file by file, the message tables message by message; each difference becomes what
// the installer does with it, or a line of what it cannot do.
#include "authoring/patch_maker.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>

#include "base/text.h"
#include "config/file_table.h"
#include "config/line_widths.h"
#include "decompiler/message_source.h"
#include "decompiler/source_lines.h"
#include "messages/message_compiler.h"
#include "messages/message_tables.h"
#include "payload/extract.h"
#include "payload/region.h"
#include "platform/platform.h"
#include "platform/rules/winpath.h"
#include "xfile/records.h"

namespace authoring {

namespace {

constexpr std::size_t kInnerCheckChars = 19;     // a kind '2' check text
constexpr std::size_t kSourceCheckChars = 206;   // a kind '1' check text
constexpr std::size_t kCarriedNameChars = 19;

std::string lower(std::string_view s) { return text::lowered(s); }

bool same_ignoring_case(const std::string& a, const std::string& b) { return plat::names_equal_ignoring_case(a, b); }

// The part of `path` below `folder`, or empty when it is not below it.
std::string relative_to(const std::string& folder, const std::string& path) {
    if (path.size() <= folder.size() || !same_ignoring_case(path.substr(0, folder.size()), folder)) return "";
    return path.substr(folder.size());
}

bool read_bytes(const std::string& path, std::vector<std::uint8_t>* out) {
    return plat::read_whole_file(path.c_str(), std::int64_t{1} << 31, out) == plat::ReadWholeResult::Done;
}

// Names the carried files get: none may be a file of either folder, a logical name of either
// table, or another carried file, since each is unpacked into the game folder and opened there.
class CarriedNames {
public:
    explicit CarriedNames(const GamePair& pair) {
        for (const GameFolder* g : {&pair.old_game, &pair.new_game}) {
            for (const std::string& f : g->files) taken_.insert(lower(f));
            for (const GameName& n : g->names) taken_.insert(n.name);
        }
        for (const char* own : {"patch.ini", "patch.dat", "message.txt", "message.err"}) taken_.insert(own);
    }
    // The file's own name: it must be free of the others' names but its own.
    void reserve(const std::string& name) { taken_.insert(lower(name)); }
    std::string make(const std::string& wanted, const std::string& extension) {
        std::string base = wanted.substr(0, kCarriedNameChars - extension.size());
        for (int k = 1;; ++k) {
            std::string candidate = base + extension;
            if (!taken_.count(lower(candidate)) && payload::is_valid_entry_name(candidate.c_str(), candidate.size())) {
                taken_.insert(lower(candidate));
                return candidate;
            }
            std::string counter = std::to_string(k);
            base = wanted.substr(0, kCarriedNameChars - extension.size() - counter.size()) + counter;
        }
    }

private:
    std::set<std::string> taken_;
};

struct Builder {
    const GamePair& pair;
    PatchPlan plan;
    CarriedNames names;
    std::vector<std::string> path_lines;
    std::vector<xfile::TableRecord> records;
    std::vector<std::string> work;  // work lines, kind '2' ones with their text lines
    std::vector<payload::PackFile> carried;

    explicit Builder(const GamePair& p) : pair(p), names(p) {}

    // Data larger than an installer carries can never be in a patch; it is not read at all.
    bool too_large(const NameData& where, const std::string& what) {
        std::int64_t size = name_data_size(where);
        if (size <= static_cast<std::int64_t>(payload::kEntryCapacity)) return false;
        plan.cannot.push_back(what + ": " + std::to_string(size) + " bytes, more than an installer carries (" +
                              std::to_string(payload::kEntryCapacity) + ")");
        return true;
    }
    void carry(const std::string& name, std::vector<std::uint8_t> content) {
        carried.push_back({name, std::move(content)});
    }
    void compare_containers();
    void compare_member(const std::string& container_rel, const std::string& member, const GameName& old_name);
    void add_new_names();
    void compare_files();
    void plan_messages(MessageWay way);
    std::string rebuild_item(std::vector<std::uint8_t>* source);
    bool message_item(const decompiler::SourceMessage& m, std::string* item);
    std::string kind2_check(int number);
    void finish();
};

// The containers of a game, by their path below the folder, with the logical names in them.
std::map<std::string, std::vector<const GameName*>> containers_of(const GameFolder& g) {
    std::map<std::string, std::vector<const GameName*>> out;
    for (const GameName& n : g.names) {
        NameData d = locate(g, n);
        if (!d.member) continue;
        std::string rel = relative_to(g.folder, d.path);
        out[rel.empty() ? d.path : lower(rel)].push_back(&n);
    }
    return out;
}

void Builder::compare_containers() {
    auto old_containers = containers_of(pair.old_game), new_containers = containers_of(pair.new_game);
    std::set<std::string> all;
    for (const auto& [k, v] : old_containers) all.insert(k);
    for (const auto& [k, v] : new_containers) all.insert(k);
    for (const std::string& rel : all) {
        std::string old_path = pair.old_game.folder + rel, new_path = pair.new_game.folder + rel;
        std::vector<std::string> old_members, new_members;
        bool old_ok = container_members(old_path, &old_members), new_ok = container_members(new_path, &new_members);
        if (!new_ok) {
            if (old_ok) plan.cannot.push_back("container " + rel + ": removed, or not a container in NEW");
            continue;
        }
        if (!old_ok) {
            plan.cannot.push_back("container " + rel + ": new in NEW (a patch cannot make a container)");
            continue;
        }
        std::set<std::string> in_old(old_members.begin(), old_members.end()), in_new(new_members.begin(), new_members.end());
        for (const std::string& m : new_members)
            if (!in_old.count(m)) plan.cannot.push_back("member " + m + " of " + rel + ": added in NEW (a patch cannot add a member)");
        for (const std::string& m : old_members)
            if (!in_new.count(m)) plan.cannot.push_back("member " + m + " of " + rel + ": removed in NEW (a patch cannot remove a member)");
        for (const std::string& m : new_members) {
            if (!in_old.count(m)) continue;
            const GameName* old_name = pair.old_game.find(m);
            compare_member(rel, m, old_name ? *old_name : GameName{});
        }
    }
}

void Builder::compare_member(const std::string& rel, const std::string& member, const GameName& old_name) {
    NameData old_where{true, pair.old_game.folder + rel, member}, new_where{true, pair.new_game.folder + rel, member};
    bool same = false;
    if (Result r = same_name_data(old_where, new_where, &same); r.failed()) {
        plan.cannot.push_back("member " + member + " of " + rel + ": " + r.problem);
        return;
    }
    if (same) return;
    // The installer reaches a member by its logical name, which OLD's tables must place in
    // this very container.
    bool reachable = !old_name.name.empty() && [&] {
        NameData d = locate(pair.old_game, old_name);
        return d.member && same_ignoring_case(relative_to(pair.old_game.folder, d.path), rel);
    }();
    if (!reachable) {
        plan.cannot.push_back("member " + member + " of " + rel +
                              ": changed, but OLD's tables give no logical name that reaches it");
        return;
    }
    if (too_large(new_where, "member " + member + " of " + rel)) return;
    std::vector<std::uint8_t> after;
    if (Result r = read_name_data(new_where, &after); r.failed()) {
        plan.cannot.push_back("member " + member + " of " + rel + ": " + r.problem);
        return;
    }
    std::string source = names.make(member, ".new");
    work.push_back("0 " + source + " " + member);
    carry(source, std::move(after));
    plan.covered_members.push_back(member);
    plan.done.push_back("member " + member + " of " + rel + ": new data (" + source + ", " +
                        std::to_string(carried.back().content.size()) + " bytes)");
}

// Logical names NEW's table has and OLD's has not: the patch's [path] section adds them for
// the install (and NEW's Dravo.ini, carried when it changed, keeps them for the game).
void Builder::add_new_names() {
    std::size_t free_entries = pair.old_game.table_capacity - pair.old_game.names.size();
    std::size_t added = 0;
    for (const GameName& n : pair.new_game.names) {
        if (pair.old_game.find(n.name)) continue;
        std::string rel_dir = n.directory == pair.new_game.folder ? "" : relative_to(pair.new_game.folder, n.directory);
        bool in_folder = n.directory == pair.new_game.folder || !rel_dir.empty();
        if (!in_folder) {
            plan.cannot.push_back("logical name " + n.name + ": new in NEW, in " + n.directory +
                                  ", outside the game folder");
            continue;
        }
        if (++added > free_entries) {
            plan.cannot.push_back("logical name " + n.name + ": new in NEW, but OLD's file table has only " +
                                  std::to_string(free_entries) + " free entries");
            continue;
        }
        std::string line = n.name;
        line.resize(20, ' ');
        path_lines.push_back(line + "hd:" + rel_dir);
        if (!n.container.empty()) {
            xfile::TableRecord r{};
            std::snprintf(r.name, sizeof r.name, "%s", n.name.c_str());
            std::snprintf(r.container, sizeof r.container, "%s", n.container.c_str());
            r.cd_flag = n.cd_flag;
            records.push_back(r);
        }
        plan.done.push_back("logical name " + n.name + ": added to the file table");
    }
}

bool is_container_file(const GamePair& pair, const std::string& rel) {
    for (const GameFolder* g : {&pair.old_game, &pair.new_game})
        for (const GameName& n : g->names)
            if (!n.container.empty() && same_ignoring_case(relative_to(g->folder, n.directory + n.container), rel))
                return true;
    return false;
}

bool is_message_file(const std::string& rel) {
    std::string f = lower(rel);
    return f == "message.dat" || f == "message.str" || f == "message.txt";
}

void Builder::compare_files() {
    std::map<std::string, std::pair<std::string, std::string>> all;  // lower -> (old name, new name)
    for (const std::string& f : pair.old_game.files) all[lower(f)].first = f;
    for (const std::string& f : pair.new_game.files) all[lower(f)].second = f;
    for (const auto& [key, names_of] : all) {
        const auto& [old_name, new_name] = names_of;
        const std::string& rel = new_name.empty() ? old_name : new_name;
        if (is_install_record(rel) || is_container_file(pair, rel) || is_message_file(rel)) continue;
        if (new_name.empty()) {
            plan.cannot.push_back("file " + rel + ": removed in NEW (a patch cannot remove a file)");
            continue;
        }
        NameData old_where{false, pair.old_game.folder + old_name, ""}, new_where{false, pair.new_game.folder + new_name, ""};
        if (!old_name.empty()) {
            bool same = false;
            if (Result r = same_name_data(old_where, new_where, &same); r.failed()) {
                plan.cannot.push_back("file " + rel + ": " + r.problem);
                continue;
            }
            if (same) continue;
        }
        const char* what = old_name.empty() ? "new" : "changed";
        if (rel.find('\\') != std::string::npos) {
            plan.cannot.push_back("file " + rel + ": " + what +
                                  ", outside the game's own folder (carried files are unpacked only there)");
            continue;
        }
        if (rel.size() > kCarriedNameChars || !payload::is_valid_entry_name(rel.c_str(), rel.size())) {
            plan.cannot.push_back("file " + rel + ": " + what + ", but a carried file's name has at most " +
                                  std::to_string(kCarriedNameChars) + " characters");
            continue;
        }
        if (too_large(new_where, "file " + rel)) continue;
        std::vector<std::uint8_t> after;
        if (!read_bytes(new_where.path, &after)) {
            plan.cannot.push_back("file " + rel + ": cannot be read in NEW: " + plat::last_error_text());
            continue;
        }
        carry(rel, std::move(after));
        plan.covered_files.push_back(rel);
        plan.done.push_back("file " + rel + ": " + what + " (" + std::to_string(carried.back().content.size()) + " bytes)");
    }
}

// A piece of OLD's first string of message `number` that NEW's does not hold: the item then
// applies to OLD and is passed over on a game that has it already. Empty (always applies) when
// there is none.
std::string Builder::kind2_check(int number) {
    std::string before = pair.old_messages.first_string(number), after = pair.new_messages.first_string(number);
    // The longest such piece: the more it holds, the fewer other games it also fits.
    for (std::size_t length = std::min(kInnerCheckChars, before.size()); length >= 1; --length)
        for (std::size_t at = 0; at + length <= before.size(); ++at) {
            std::string piece = before.substr(at, length);
            if (piece.find(':') == std::string::npos && after.find(piece) == std::string::npos) return piece;
        }
    return "";
}

// A kind '2' item for a message of NEW: its work line (the check, and the header with every
// number written) and its text, closed by the line that sets what the header line behind it
// set in the source.
bool Builder::message_item(const decompiler::SourceMessage& m, std::string* item) {
    int number = m.record.number;
    int check_number = number;
    std::string check;
    if (pair.old_messages.valid(number)) {
        check = kind2_check(number);
    } else {
        // A new message: any message of OLD to look up, with a check that always passes.
        check_number = 0;
        for (int n = 1; n <= pair.old_messages.highest() && !check_number; ++n)
            if (pair.old_messages.valid(n)) check_number = n;
        if (!check_number) return false;
    }
    std::string line = "2 " + std::to_string(check_number) + ":" + check + ":" + decompiler::header_line(m.record, true);
    if (line.size() > config::kLineChars) return false;
    *item = line + "\n";
    if (m.record.language == 0) *item += "#RUS\n";
    for (const std::string& l : m.lines) *item += l + "\n";
    bool dots = m.record.dots && !decompiler::dots_in_lines(m.record, m.line_mode);
    *item += std::string(dots ? "..." : "") + (m.line_mode == 1 ? "#0 \\c" : m.line_mode == 2 ? "#0 \\e" : "#");
    return true;
}

// One kind '1' item: NEW's whole source, checked against the beginning of a first string of
// OLD that has no blank in front (the check text is taken stripped).
std::string Builder::rebuild_item(std::vector<std::uint8_t>* source) {
    decompiler::DecompiledSource s = decompiler::decompile(pair.new_messages.dat, pair.new_messages.str);
    source->assign(s.text.begin(), s.text.end());
    std::string name = names.make("messages", ".new");
    std::string line = "1 " + name + " #";
    for (int n = 1; n <= pair.old_messages.highest(); ++n) {
        if (!pair.old_messages.valid(n)) continue;
        std::string first = pair.old_messages.first_string(n);
        std::string head = "1 " + name + " #" + std::to_string(n);
        if (line == "1 " + name + " #") line = head;  // the first message, should none have a text
        if (first.empty() || first[0] == ' ' || first[0] == '\t') continue;
        std::size_t room = std::min(kSourceCheckChars, config::kLineChars - std::min(config::kLineChars, head.size() + 1));
        std::string text = first.substr(0, room);
        while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
        if (text.empty()) continue;
        line = head + " " + text;
        break;
    }
    if (line == "1 " + name + " #") line += "1";  // no message at all: the check passes without one
    carry(name, *source);
    return line;
}

void Builder::plan_messages(MessageWay way) {
    const MessageTables& o = pair.old_messages;
    const MessageTables& n = pair.new_messages;
    if (!n.present) {
        if (o.present) plan.cannot.push_back("message tables: removed in NEW");
        return;
    }
    std::vector<int> changed;
    bool removed = false;
    int top = std::max(o.present ? o.highest() : 0, n.highest());
    for (int k = 1; k <= top; ++k) {
        bool in_old = o.present && o.valid(k), in_new = n.valid(k);
        if (in_new && (!in_old || o.message_bytes(k) != n.message_bytes(k))) changed.push_back(k);
        if (in_old && !in_new) removed = true;
    }
    if (changed.empty() && !removed) return;
    plan.message_items = true;

    std::vector<std::string> items;
    bool rebuild_asked = way == MessageWay::Rebuild;
    bool items_possible = !rebuild_asked && !removed && o.present;
    std::string why_not_items = removed ? "messages removed in NEW" : "changed messages";
    std::size_t items_size = 0;
    if (items_possible) {
        decompiler::DecompiledMessages back = decompiler::decompile_messages(n.dat, n.str);
        std::map<int, const decompiler::SourceMessage*> final_of;
        for (const decompiler::SourceMessage& m : back.messages)
            if (!m.earlier_definition) final_of[m.record.number] = &m;
        for (int k : changed) {
            std::string item;
            auto it = final_of.find(k);
            if (it == final_of.end() || !message_item(*it->second, &item)) {
                items_possible = false;
                why_not_items = "message " + std::to_string(k) +
                                (it == final_of.end() ? " cannot be written back as a source"
                                                      : ": its kind '2' work line is longer than the 98 characters "
                                                        "the runner reads, or OLD has no message to check");
                break;
            }
            items_size += item.size() + 1;
            items.push_back(std::move(item));
        }
    }
    if (items_possible) {
        for (std::string& item : items) work.push_back(std::move(item));
        plan.covered_messages = changed;
        plan.done.push_back("messages: " + std::to_string(changed.size()) + " set by kind '2' items (" +
                            std::to_string(items_size) + " bytes of patch.ini)");
        return;
    }
    if (o.tagged()) {
        plan.cannot.push_back("messages: " + why_not_items +
                              ": only a rebuild of the tables can do it, and OLD's are tagged \"02\" (rebuilt by a "
                              "patch already)");
        return;
    }
    if (!rebuild_asked) {
        plan.cannot.push_back("messages: " + why_not_items +
                              ": only a rebuild of the tables (a kind '1' item) can do it; --rebuild-messages asks "
                              "for one");
        return;
    }
    std::vector<std::uint8_t> source;
    work.push_back(rebuild_item(&source));
    plan.rebuilds_messages = true;
    for (int k = 1; k <= n.highest(); ++k)
        if (n.valid(k)) plan.covered_messages.push_back(k);
    plan.done.push_back("messages: " + std::to_string(changed.size()) + " changed" + (removed ? ", some removed" : "") +
                        ": the tables rebuilt from NEW's source (" + carried.back().name + ", " +
                        std::to_string(source.size()) + " bytes)");
}

void Builder::finish() {
    std::string ini;
    if (!path_lines.empty()) {
        ini += "[path]\r\n";
        for (const std::string& l : path_lines) ini += l + "\r\n";
    }
    ini += "[work]\r\n";
    for (const std::string& w : work) {
        std::string line;
        for (char c : w) {
            if (c == '\n') ini += line + "\r\n", line.clear();
            else line += c;
        }
        if (!line.empty()) ini += line + "\r\n";
    }
    std::vector<std::uint8_t> dat(records.size() * xfile::kRecordSize);
    for (std::size_t i = 0; i < records.size(); ++i)
        xfile::encode_record(records[i], std::span<std::uint8_t, xfile::kRecordSize>(dat.data() + i * xfile::kRecordSize,
                                                                                    xfile::kRecordSize));
    plan.files.push_back({"patch.ini", std::vector<std::uint8_t>(ini.begin(), ini.end())});
    plan.files.push_back({"patch.dat", std::move(dat)});
    for (payload::PackFile& f : carried) plan.files.push_back(std::move(f));
}

}  // namespace

Result load_game_pair(const std::string& old_folder, const std::string& new_folder, GamePair* out) {
    if (Result r = load_game_folder(old_folder, &out->old_game); r.failed()) return r;
    if (Result r = load_game_folder(new_folder, &out->new_game); r.failed()) return r;
    if (Result r = read_message_tables(old_folder, &out->old_messages); r.failed()) return r;
    return read_message_tables(new_folder, &out->new_messages);
}

bool same_folder(const std::string& old_folder, const std::string& new_folder) {
    // Every open is exclusive: while OLD's Dravo.ini is held, NEW's cannot be opened exactly
    // when it is the same file (the same path, another spelling of it, or a link). Names alone
    // cannot tell: on Linux two folders may differ only in case.
    std::string old_ini = old_folder + "Dravo.ini", new_ini = new_folder + "Dravo.ini";
    plat::File held = plat::File::open(old_ini.c_str(), plat::Access::Read, plat::Disposition::OpenExisting);
    if (!held) return false;
    plat::File other = plat::File::open(new_ini.c_str(), plat::Access::Read, plat::Disposition::OpenExisting);
    return !other && plat::last_error() == plat::Error::SharingViolation;
}

Result check_new_source(const std::string& old_folder, const std::string& new_folder) {
    constexpr std::int64_t kBound = std::int64_t{64} << 20;
    std::string path = new_folder + "message.txt";
    if (!plat::file_exists(path.c_str())) return Result::applied();
    std::vector<std::uint8_t> source, before;
    if (plat::read_whole_file(path.c_str(), kBound, &source) != plat::ReadWholeResult::Done)
        return Result::failed(plat::display_path(path) + ": cannot be read: " + plat::last_error_text());
    std::string old_path = old_folder + "message.txt";
    if (plat::read_whole_file(old_path.c_str(), kBound, &before) == plat::ReadWholeResult::Done && before == source)
        return Result::applied();
    MessageTables tables;
    if (Result r = read_message_tables(new_folder, &tables); r.failed()) return r;
    messages::MemoryTables compiled = messages::compile_in_memory(std::string(source.begin(), source.end()));
    // The first two bytes of message.dat are the rebuild's tag, which no compile writes.
    bool same = tables.present && compiled.str == tables.str && compiled.dat.size() == tables.dat.size() &&
                std::equal(compiled.dat.begin() + std::min<std::size_t>(2, compiled.dat.size()), compiled.dat.end(),
                           tables.dat.begin() + std::min<std::size_t>(2, tables.dat.size()));
    if (same) return Result::applied();
    return Result::failed(plat::display_path(path) + ": it does not compile to the message tables beside it, which "
                          "the patch carries; run \"dravo msg compile " + plat::display_path(new_folder) +
                          "\" first");
}

PatchPlan plan_patch(const GamePair& pair, MessageWay way) {
    Builder b(pair);
    b.compare_containers();
    b.add_new_names();
    b.compare_files();
    b.plan_messages(way);
    b.finish();
    return std::move(b.plan);
}

}  // namespace authoring
