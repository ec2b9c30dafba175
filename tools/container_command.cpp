// dravo container: list, extract, add, replace and check the members of a container file.
// "replace" is the installer's own member replacement; "add" is XFile's member create, both
// through the file library's safe rewrite.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "base/text.h"
#include "payload/extract.h"
#include "platform/rewrite/output_file.h"
#include "platform/platform.h"
#include "platform/rules/winpath.h"
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
    bool all = false;   // extract --all
    std::string output;  // extract -o: the file, or with --all the folder
    bool keep_old = false;
};

bool valid_member_name(const std::string& name) { return !name.empty() && name.size() <= 19; }

int run_list(const ContainerOptions& o) {
    std::string path = file_argument(o.file);
    if (!path_fits(path)) return fail(o.file, kPathTooLong);
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
    if (!path_fits(path)) return fail(o.file, kPathTooLong);
    ContainerInfo info;
    if (!read_container_info(path.c_str(), info)) return fail(o.file, "cannot read: " + last_error());
    std::vector<std::string> problems = check_container(info);
    for (const std::string& p : problems) std::fprintf(stderr, "dravo: %s: %s\n", o.file.c_str(), p.c_str());
    if (!problems.empty()) return kExitFailure;
    std::printf("%s: %zu members, no problems\n", o.file.c_str(), info.members.size());
    return kExitOk;
}

// Where extracted bytes go: standard output, or a file written safely beside its target.
class ExtractTarget {
public:
    // `path` in the core's form, or "-" for standard output.
    bool open(const std::string& path, std::string* problem) {
        to_stdout_ = path == "-";
        if (to_stdout_) return true;
        if (!path_fits(path)) {
            *problem = kPathTooLong;
            return false;
        }
        if (!file_.create(path)) {
            *problem = file_.problem();
            return false;
        }
        return true;
    }
    bool write(const void* bytes, std::size_t n) {
        return to_stdout_ ? plat::write_standard_output(bytes, n) : file_.write(bytes, n);
    }
    bool finish() { return to_stdout_ || file_.keep(); }
    std::string problem() const { return to_stdout_ ? "cannot write to standard output: " + last_error() : file_.problem(); }

private:
    bool to_stdout_ = false;
    plat::OutputFile file_;
};

// Copies the member into `out_path` (core form, or "-"); errors name the file as `shown_as`.
int copy_member_to(XFileHandle* member, const std::string& out_path, const std::string& typed_out) {
    ExtractTarget out;
    std::string problem;
    if (!out.open(out_path, &problem)) return fail(typed_out, problem);
    std::uint8_t* buf = xfile::transfer_buffer();
    std::int64_t left = member->size;
    while (left > 0) {
        int got = xfile_read(member, buf, static_cast<std::int32_t>(std::min<std::int64_t>(left, xfile::kTransferBufferSize)));
        if (got <= 0) return fail(typed_out, "the container ends inside the member");
        if (!out.write(buf, static_cast<std::size_t>(got))) return fail(typed_out, out.problem());
        left -= got;
    }
    if (!out.finish()) return fail(typed_out, out.problem());
    return kExitOk;
}

// Opens a member of the container for reading; prints the error and returns false when it
// cannot.
bool open_member(const ContainerOptions& o, const std::string& path, const std::string& member, XFileHandle** h) {
    char name[plat::kMaxPath + 1];
    std::snprintf(name, sizeof name, "%s", member.c_str());
    text::lower(name);
    int rc = xfile::member_open(path.c_str(), name, kXModeRead, h);
    if (rc == kXNoSuchMember) return fail(o.file, "no member named " + member), false;
    if (rc < 0) {
        ContainerInfo info;
        std::string why = !read_container_info(path.c_str(), info) ? last_error() : structural_problem(info);
        return fail(o.file, "cannot open the member " + member + (why.empty() ? "" : ": " + why)), false;
    }
    return true;
}

// A member name is used as a file name only when it is one on every system: the rule the
// installer applies to the files it unpacks.
int extract_all(const ContainerOptions& o, const std::string& path) {
    // Without -o, into the current folder.
    std::string dir = o.output.empty() ? plat::current_directory() : directory_argument(o.output);
    if (!dir.empty() && dir.back() != '\\') dir += '\\';
    const std::string& dir_arg = o.output.empty() ? std::string(".") : o.output;
    if (!path_fits(dir)) return fail(dir_arg, kPathTooLong);
    if (!make_directories(dir)) return fail(dir_arg, "cannot create the directory: " + last_error());
    ContainerInfo info;
    if (!read_container_info(path.c_str(), info)) return fail(o.file, "cannot read: " + last_error());
    if (std::string why = structural_problem(info); !why.empty()) return fail(o.file, "not a container: " + why);
    std::vector<std::string> taken;
    for (const ContainerMemberInfo& m : info.members) {
        if (!payload::is_valid_entry_name(m.name.c_str(), m.name.size()))
            return fail(o.file, "the member name \"" + m.name + "\" is not a safe file name: nothing more extracted");
        for (const std::string& t : taken)
            if (plat::names_equal_ignoring_case(t, m.name))
                return fail(o.file, "two members are named " + m.name + ": nothing more extracted");
        taken.push_back(m.name);
        if (std::string to = dir + m.name; o.keep_old && plat::file_exists(to.c_str()))
            return fail(shown(to), "already there, and --keep-old-files keeps it: nothing was extracted");
    }
    for (const ContainerMemberInfo& m : info.members) {
        XFileHandle* h = nullptr;
        if (!open_member(o, path, m.name, &h)) return kExitFailure;
        std::string out = dir + m.name;
        if (!path_fits(out)) return fail(shown(out), kPathTooLong);
        if (int rc = copy_member_to(h, out, shown(out)); rc != kExitOk) return rc;
    }
    return kExitOk;
}

int run_extract(const ContainerOptions& o) {
    std::string path = file_argument(o.file);
    if (!path_fits(path)) return fail(o.file, kPathTooLong);
    if (o.all) {
        if (!o.member.empty() || !o.other.empty())
            return usage("extract --all takes no MEMBER or OUTFILE; -o DIR names the folder (default: the current one)");
        int rc = extract_all(o, path);
        xfile::reset_xfile();
        return rc;
    }
    const std::string& target = !o.output.empty() ? o.output : o.other;
    if (o.member.empty() || target.empty())
        return usage("extract needs MEMBER and -o OUTFILE (- for standard output), or --all [-o DIR]");
    if (o.keep_old && target != "-" && plat::file_exists(file_argument(target).c_str()))
        return fail(target, "already there, and --keep-old-files keeps it: nothing was extracted");
    XFileHandle* h = nullptr;
    if (!open_member(o, path, o.member, &h)) return kExitFailure;
    int result = copy_member_to(h, target == "-" ? target : file_argument(target), target);
    xfile::reset_xfile();
    return result;
}

int run_add(const ContainerOptions& o) {
    if (!valid_member_name(o.member)) return fail(o.member, "a member name has 1 to 19 characters");
    std::string path = file_argument(o.file);
    if (!path_fits(path)) return fail(o.file, kPathTooLong);
    std::string source_path = file_argument(o.other);
    if (!path_fits(source_path)) return fail(o.other, kPathTooLong);
    XFileHandle* source = nullptr;
    if (xfile_open_path(source_path.c_str(), kXModeReadWhole, &source) < 0)
        return fail(o.other, "cannot open: " + xfile::open_problem());
    Result r = add_member_to(path.c_str(), o.member.c_str(), source);
    xfile::reset_xfile();
    return r.failed() ? fail(o.file, r.problem) : kExitOk;
}

int run_replace(const ContainerOptions& o) {
    std::string path = file_argument(o.file);
    if (!path_fits(path)) return fail(o.file, kPathTooLong);
    std::string source = file_argument(o.other);
    if (!path_fits(source)) return fail(o.other, kPathTooLong);
    ReplaceResult r = replace_member_in(path.c_str(), o.member.c_str(), source.c_str(), SourceKind::Path);
    xfile::reset_xfile();
    if (r.result == WorkResult::Applied) return kExitOk;
    if (r.result == WorkResult::Skipped) return fail(o.file, r.problem + ": nothing was replaced");
    return fail(o.file, r.problem);
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

    CLI::App* extract = add_verb(group, "extract",
                                 "Write one member's data to -o FILE (- for standard output), or --all into -o DIR", *o);
    extract->add_option("MEMBER", o->member, "The member's name");
    extract->add_option("OUTFILE", o->other, "The same as -o OUTFILE (the older spelling)");
    extract->add_flag("--all", o->all, "Extract every member, each into a file of its name");
    extract->add_option("-o,--output,--output-dir", o->output,
                        "Where to write: the file (- writes to standard output), or with --all the directory (created "
                        "if missing; default: the current one); --output-dir is the older spelling");
    extract->add_flag("-k,--keep-old-files", o->keep_old,
                      "Refuse to overwrite a file that is already there (nothing is extracted then)");
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
