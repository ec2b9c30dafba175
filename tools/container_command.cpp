// dravo container: list, extract, add, replace and check the members of a container file.
// "replace" is the installer's own member replacement; "add" is XFile's member create.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "config/text.h"
#include "platform/platform.h"
#include "platform/winpath.h"
#include "tools/commands.h"
#include "tools/tool_util.h"
#include "xfile/container.h"
#include "xfile/container_info.h"
#include "xfile/replace.h"
#include "xfile/transfer.h"
#include "xfile/xfile.h"

namespace tool {

namespace {

struct ContainerOptions {
    std::string file;
    std::string member;
    std::string other;  // OUTFILE of extract, SOURCE of add and replace
};

// A buffer the core may change in place (trimmed, lower-cased).
struct NameBuffer {
    explicit NameBuffer(const std::string& s) { std::snprintf(text, sizeof text, "%s", s.c_str()); }
    char text[plat::kMaxPath + 1];
};

bool valid_member_name(const std::string& name) { return !name.empty() && name.size() <= 19; }

int run_list(const ContainerOptions& o) {
    std::string path = file_argument(o.file);
    ContainerInfo info;
    if (!read_container_info(path.c_str(), info)) return fail(o.file, "cannot read: " + last_error());
    if (!info.header_complete) return fail(o.file, "not a container: the header is short");
    std::printf("tag: %s\n", info.tag.c_str());
    for (const ContainerMemberInfo& m : info.members)
        std::printf("%s\t%d\t%d\t%u\n", m.name.c_str(), m.offset, m.size, m.attribute);
    return kExitOk;
}

int run_check(const ContainerOptions& o) {
    std::string path = file_argument(o.file);
    ContainerInfo info;
    if (!read_container_info(path.c_str(), info)) return fail(o.file, "cannot read: " + last_error());
    std::vector<std::string> problems = check_container(info);
    for (const std::string& p : problems) std::fprintf(stderr, "dravo: %s: %s\n", o.file.c_str(), p.c_str());
    if (!problems.empty()) return kExitFailure;
    std::printf("%s: %zu members, no problems\n", o.file.c_str(), info.members.size());
    return kExitOk;
}

int copy_member_to(XFileHandle* member, const std::string& out_path, const std::string& out_name) {
    std::string temp = out_path + "~";
    plat::Handle out = plat::open_file(temp.c_str(), plat::Access::Write, plat::Disposition::CreateAlways);
    if (out == plat::Handle::Invalid) return fail(out_name, "cannot create: " + last_error());
    std::uint8_t* buf = xfile::transfer_buffer();
    int got = 0;
    bool ok = true;
    while (ok && (got = xfile_read(member, buf, xfile::kTransferBufferSize)) > 0) {
        std::uint32_t put = 0;
        ok = plat::write_file(out, buf, static_cast<std::uint32_t>(got), &put) && put == static_cast<std::uint32_t>(got);
    }
    ok = ok && got == 0 && plat::flush_file(out);
    plat::close_file(out);
    if (!ok || !plat::replace_file(temp.c_str(), out_path.c_str())) {
        plat::delete_file(temp.c_str());
        return fail(out_name, "cannot write: " + last_error());
    }
    return kExitOk;
}

int run_extract(const ContainerOptions& o) {
    std::string path = file_argument(o.file);
    NameBuffer name(o.member);
    config::lower(name.text);
    XFileHandle* h = nullptr;
    int rc = xfile::member_open(path.c_str(), name.text, kXModeRead, &h);
    if (rc == kXNoSuchMember) return fail(o.file, "no member named " + o.member);
    if (rc < 0) return fail(o.file, "cannot open the member " + o.member + " (damaged or missing container)");
    int result = copy_member_to(h, file_argument(o.other), o.other);
    xfile::reset_xfile();
    return result;
}

bool copy_whole_file(const std::string& from, const std::string& to) {
    plat::Handle in = plat::open_file(from.c_str(), plat::Access::Read, plat::Disposition::OpenExisting);
    if (in == plat::Handle::Invalid) return false;
    plat::Handle out = plat::open_file(to.c_str(), plat::Access::Write, plat::Disposition::CreateAlways);
    bool ok = out != plat::Handle::Invalid;
    std::uint8_t* buf = xfile::transfer_buffer();
    std::uint32_t got = 0;
    while (ok && (ok = plat::read_file(in, buf, xfile::kTransferBufferSize, &got)) && got > 0) {
        std::uint32_t put = 0;
        ok = plat::write_file(out, buf, got, &put) && put == got;
    }
    plat::close_file(in);
    if (out != plat::Handle::Invalid) plat::close_file(out);
    return ok;
}

// Writes the source's bytes through a new member of the container at `path`.
int append_member(const std::string& path, const ContainerOptions& o) {
    NameBuffer source(file_argument(o.other));
    XFileHandle* in = nullptr;
    if (xfile_open(source.text, kXModeReadWhole, &in) < 0) return fail(o.other, "cannot open: " + last_error());
    NameBuffer container(path);
    NameBuffer member(o.member);
    XFileHandle* out = nullptr;
    int rc = xfile_create(member.text, kXModeCreate, &out, container.text, 2);
    if (rc < 0) return fail(o.file, rc == kXNoFreeEntry ? "the directory is full" : "cannot create the member");
    std::uint8_t* buf = xfile::transfer_buffer();
    bool ok = true;
    int got = 0;
    while (ok && (got = xfile_read(in, buf, xfile::kTransferBufferSize)) > 0) ok = xfile_write(out, buf, got) == got;
    if (!ok || got < 0) return fail(o.file, "cannot write the member: " + last_error());
    XFileContainer* c = out->container;
    if (xfile_close(out) != kContainerHeaderSize || !plat::flush_file(c->os_handle))
        return fail(o.file, "cannot write the directory: " + last_error());
    return kExitOk;
}

// Appends a new member through XFile's member create. The work is done on a copy beside the
// container, which replaces it only when everything was written: a failure leaves it whole.
int run_add(const ContainerOptions& o) {
    if (!valid_member_name(o.member)) return fail(o.member, "a member name has 1 to 19 characters");
    std::string path = file_argument(o.file);
    ContainerInfo info;
    bool exists = plat::file_exists(path.c_str());
    if (exists && read_container_info(path.c_str(), info))
        for (const ContainerMemberInfo& m : info.members)
            if (plat::names_equal_ignoring_case(m.name, o.member))
                return fail(o.file, "a member named " + m.name + " exists already: use replace");
    std::string temp = path + "~";
    if (exists && !copy_whole_file(path, temp)) {
        plat::delete_file(temp.c_str());
        return fail(o.file, "cannot copy the container: " + last_error());
    }
    int rc = append_member(temp, o);
    xfile::reset_xfile();
    if (rc != kExitOk || !plat::replace_file(temp.c_str(), path.c_str())) {
        plat::delete_file(temp.c_str());
        return rc != kExitOk ? rc : fail(o.file, "cannot put the new container in place: " + last_error());
    }
    return kExitOk;
}

int run_replace(const ContainerOptions& o) {
    std::string path = file_argument(o.file);
    NameBuffer member(o.member);
    NameBuffer source(file_argument(o.other));
    ReplaceResult r = replace_member_in(path.c_str(), member.text, source.text);
    if (r.result == WorkResult::Applied) return kExitOk;
    return fail(o.file, r.problem ? r.problem : "not replaced");
}

CLI::App* add_verb(CLI::App* group, const char* name, const char* help, ContainerOptions& o) {
    CLI::App* cmd = group->add_subcommand(name, help);
    cmd->add_option("FILE", o.file, "The container file")->required();
    return cmd;
}

}  // namespace

void add_container_command(CLI::App& app, int& exit_status) {
    auto o = std::make_shared<ContainerOptions>();
    CLI::App* group = app.add_subcommand("container", "List and edit the members of a container file");
    group->require_subcommand(1);

    add_verb(group, "list", "The version tag, then name, offset, size and attribute of each member", *o)
        ->callback([o, &exit_status] { exit_status = run_list(*o); });
    add_verb(group, "check", "Report what is wrong with a container; exit 1 if anything is", *o)
        ->callback([o, &exit_status] { exit_status = run_check(*o); });

    CLI::App* extract = add_verb(group, "extract", "Write one member's data to a file", *o);
    extract->add_option("MEMBER", o->member, "The member's name")->required();
    extract->add_option("OUTFILE", o->other, "Where to write it")->required();
    extract->callback([o, &exit_status] { exit_status = run_extract(*o); });

    CLI::App* add = add_verb(group, "add", "Append a new member (creates the container if it is missing)", *o);
    add->add_option("MEMBER", o->member, "The new member's name")->required();
    add->add_option("SOURCE", o->other, "The file holding its data")->required();
    add->callback([o, &exit_status] { exit_status = run_add(*o); });

    CLI::App* replace = add_verb(group, "replace", "Replace a member's data as the installer does", *o);
    replace->add_option("MEMBER", o->member, "The member's name")->required();
    replace->add_option("SOURCE", o->other, "The file holding the new data")->required();
    replace->callback([o, &exit_status] { exit_status = run_replace(*o); });
}

}  // namespace tool
