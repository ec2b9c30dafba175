#include "authoring/game_folder.h"

#include <algorithm>
#include <cstring>

#include "base/text.h"
#include "config/config.h"
#include "config/file_table.h"
#include "messages/message_tables.h"
#include "platform/platform.h"
#include "platform/rules/winpath.h"
#include "xfile/container_info.h"
#include "xfile/records.h"
#include "xfile/xfile.h"

namespace authoring {

namespace {

using text::lowered;

void list_files(const std::string& root, const std::string& relative, std::vector<std::string>* out) {
    std::vector<std::string> names;
    if (!plat::list_directory((root + relative).c_str(), &names)) return;
    for (const std::string& n : names) {
        std::string path = relative + n;
        if (plat::is_directory((root + path).c_str())) list_files(root, path + "\\", out);
        else out->push_back(path);
    }
}

// Restores the configuration's global state and the current directory when a load ends.
class ConfigurationScope {
public:
    ConfigurationScope() : saved_(plat::current_directory()) {}
    ~ConfigurationScope() {
        xfile::reset_xfile();
        config::reset_configuration();
        plat::change_directory(saved_.c_str());
    }

private:
    std::string saved_;
};

}  // namespace

const GameName* GameFolder::find(const std::string& name) const {
    for (const GameName& n : names)
        if (n.name == name) return &n;
    return nullptr;
}

Result load_game_folder(const std::string& folder, GameFolder* out) {
    *out = GameFolder{};
    out->folder = folder;
    ConfigurationScope scope;
    config::reset_configuration();
    xfile::reset_xfile();
    // The HD directory defaults to the current one: the folder, unless [dirhd] names another.
    if (!plat::change_directory(folder.c_str()))
        return Result::failed(plat::display_path(folder) + ": not a folder: " + plat::last_error_text());
    std::string ini = folder + "Dravo.ini";
    if (!config::read_configuration(ini.c_str(), config::ConfigMode::Game))
        return Result::failed(plat::display_path(ini) + " cannot be read");
    std::string multigen = folder + "multigen.dat";
    if (!xfile::load_record_file(multigen.c_str()))
        return Result::failed(plat::display_path(multigen) + " cannot be read");
    std::string hd = config::directories().hd;
    out->cd_directory = config::directories().cd;
    const config::FileTable& table = config::file_table();
    out->table_capacity = table.capacity;
    for (std::size_t i = 0; i < table.used; ++i) {
        const config::FileEntry& e = table.entry(i);
        GameName n;
        n.name = e.name;
        n.directory = e.directory;
        // The folder given is the game's HD directory.
        if (text::starts_with_ignoring_case(n.directory, text::lowered(hd))) n.directory = folder + n.directory.substr(hd.size());
        n.container = e.container;
        n.cd_flag = e.cd_flag;
        out->names.push_back(std::move(n));
    }
    list_files(folder, "", &out->files);
    std::sort(out->files.begin(), out->files.end(), [](const std::string& a, const std::string& b) {
        return lowered(a) < lowered(b);
    });
    return Result::applied();
}

NameData locate(const GameFolder& game, const GameName& name) {
    (void)game;
    NameData d;
    if (!name.container.empty()) {
        std::string container = name.directory + name.container;
        if (plat::file_exists(container.c_str())) {
            d.member = true;
            d.path = container;
            d.member_name = name.name;
            return d;
        }
    }
    d.path = name.directory + name.name;
    return d;
}

bool container_members(const std::string& path, std::vector<std::string>* names) {
    ContainerInfo info;
    if (!read_container_info(path.c_str(), info) || !structural_problem(info).empty()) return false;
    names->clear();
    for (const ContainerMemberInfo& m : info.members) names->push_back(lowered(m.name));
    return true;
}

namespace {

// An open file positioned at a name's data, and the data's size.
struct OpenData {
    plat::File file;
    std::int64_t size = -1;
};

Result open_data(const NameData& where, OpenData* out) {
    out->file = plat::File::open(where.path.c_str(), plat::Access::Read, plat::Disposition::OpenExisting);
    if (!out->file) return Result::failed(plat::display_path(where.path) + ": " + plat::last_error_text());
    if (!where.member) {
        out->size = plat::file_size(out->file.get());
        if (out->size >= 0) return Result::applied();
        return Result::failed(plat::display_path(where.path) + ": cannot read its size: " + plat::last_error_text());
    }
    ContainerInfo info;
    out->file.close();  // the header is read by name; the data through a handle of its own
    if (!read_container_info(where.path.c_str(), info) || !structural_problem(info).empty())
        return Result::failed(plat::display_path(where.path) + " cannot be read as a container");
    for (const ContainerMemberInfo& m : info.members) {
        if (!plat::names_equal_ignoring_case(m.name, where.member_name)) continue;
        out->file = plat::File::open(where.path.c_str(), plat::Access::Read, plat::Disposition::OpenExisting);
        if (out->file && plat::seek_file(out->file.get(), m.offset, plat::SeekFrom::Begin) == m.offset) {
            out->size = m.size;
            return Result::applied();
        }
        return Result::failed(plat::display_path(where.path) + ": member " + where.member_name + " cannot be read");
    }
    return Result::failed(plat::display_path(where.path) + " has no member " + where.member_name);
}

}  // namespace

std::int64_t name_data_size(const NameData& where) {
    OpenData d;
    return open_data(where, &d).failed() ? -1 : d.size;
}

Result same_name_data(const NameData& a, const NameData& b, bool* same) {
    OpenData x, y;
    if (Result r = open_data(a, &x); r.failed()) return r;
    if (Result r = open_data(b, &y); r.failed()) return r;
    *same = false;
    if (x.size != y.size) return Result::applied();
    if (plat::same_bytes(x.file.get(), y.file.get(), x.size, same)) return Result::applied();
    return Result::failed(plat::display_path(a.path) + " or " + plat::display_path(b.path) + " cannot be read: " +
                          plat::last_error_text());
}

Result read_name_data(const NameData& where, std::vector<std::uint8_t>* out) {
    constexpr std::int64_t kBound = std::int64_t{1} << 31;
    if (!where.member) {
        if (plat::read_whole_file(where.path.c_str(), kBound, out) == plat::ReadWholeResult::Done)
            return Result::applied();
        return Result::failed(plat::display_path(where.path) + ": " + plat::last_error_text());
    }
    ContainerInfo info;
    if (!read_container_info(where.path.c_str(), info) || !structural_problem(info).empty())
        return Result::failed(plat::display_path(where.path) + " cannot be read as a container");
    for (const ContainerMemberInfo& m : info.members) {
        if (!plat::names_equal_ignoring_case(m.name, where.member_name)) continue;
        plat::File f = plat::File::open(where.path.c_str(), plat::Access::Read, plat::Disposition::OpenExisting);
        out->assign(static_cast<std::size_t>(m.size), 0);
        std::uint32_t got = 0;
        if (f && plat::seek_file(f.get(), m.offset, plat::SeekFrom::Begin) == m.offset &&
            (m.size == 0 || (plat::read_file(f.get(), out->data(), static_cast<std::uint32_t>(m.size), &got) &&
                             got == static_cast<std::uint32_t>(m.size))))
            return Result::applied();
        return Result::failed(plat::display_path(where.path) + ": member " + where.member_name + " cannot be read");
    }
    return Result::failed(plat::display_path(where.path) + " has no member " + where.member_name);
}

bool MessageTables::valid(int number) const {
    std::span<const std::uint8_t> bytes = messages::index_bytes(dat, static_cast<std::size_t>(number));
    return number > 0 && !bytes.empty() && messages::is_valid_record(messages::decode_index(bytes), number);
}

std::vector<std::uint8_t> MessageTables::message_bytes(int number) const {
    std::span<const std::uint8_t> bytes = messages::index_bytes(dat, static_cast<std::size_t>(number));
    std::vector<std::uint8_t> out(bytes.begin(), bytes.end());
    std::fill(out.begin() + 89, out.begin() + 93, 0);  // first_string: where the strings sit
    messages::IndexRecord r = messages::decode_index(bytes);
    for (std::uint32_t i = 0; i < r.string_count; ++i) {
        std::span<const std::uint8_t> s = messages::string_bytes(str, r.first_string + i);
        out.insert(out.end(), s.begin(), s.end());
    }
    return out;
}

std::string MessageTables::first_string(int number) const {
    messages::IndexRecord r = messages::decode_index(messages::index_bytes(dat, static_cast<std::size_t>(number)));
    if (r.string_count == 0) return "";
    std::span<const std::uint8_t> s = messages::string_bytes(str, r.first_string);
    return s.empty() ? "" : messages::decode_string(s).text;
}

int MessageTables::highest() const {
    return static_cast<int>(std::min<std::size_t>(dat.size() / messages::kIndexRecordSize, 65536)) - 1;
}

bool MessageTables::tagged() const { return dat.size() >= 2 && dat[0] == '0' && dat[1] == '2'; }

Result read_message_tables(const std::string& folder, MessageTables* out) {
    *out = MessageTables{};
    std::string dat = folder + "message.dat", str = folder + "message.str";
    constexpr std::int64_t kBound = std::int64_t{256} << 20;
    if (!plat::file_exists(dat.c_str())) return Result::applied();
    if (plat::read_whole_file(dat.c_str(), kBound, &out->dat) != plat::ReadWholeResult::Done ||
        plat::read_whole_file(str.c_str(), kBound, &out->str) != plat::ReadWholeResult::Done)
        return Result::failed(plat::display_path(folder) + ": the message tables cannot be read: " +
                              plat::last_error_text());
    out->present = true;
    return Result::applied();
}

bool is_install_record(const std::string& file) {
    std::string f = lowered(file);
    for (const char* name : {"patch.ini", "patch.dat", "dravopatch.log", "message.err"})
        if (f == name) return true;
    if (f.rfind("dravopatch.undo\\", 0) == 0 || f.rfind("dravopatch.stage\\", 0) == 0) return true;
    std::size_t undo = f.find("~undo");
    return undo != std::string::npos;
}

}  // namespace authoring
