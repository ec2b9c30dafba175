// dravo pack: the patch builder. "build" stamps files into a copy of the installer, "list"
// and "extract" read a patch back the way the installer does.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>
#include <vector>

#include "payload/extract.h"
#include "payload/digest_area.h"
#include "payload/region.h"
#include "payload/stamp.h"
#include "platform/rewrite/output_file.h"
#include "platform/platform.h"
#include "tools/commands.h"
#include "tools/stamped_installer.h"
#include "tools/tool_util.h"

namespace tool {

namespace {

struct PackOptions {
    std::string template_file;
    std::string out_file;
    std::vector<std::string> files;
    std::string patch_file;
    std::string dir;     // extract: the folder as the older positional spelling gives it
    std::string output;  // extract: -o DIR
    bool keep_old = false;
};

// A template or patch installer is the program with its 1.2 MB region, a few MB in all.
constexpr std::int64_t kMaxInstallerBytes = std::int64_t{64} << 20;

int read_installer(const std::string& path, std::vector<std::uint8_t>* image) {
    return read_whole_file(path, kMaxInstallerBytes,
                           "an installer is a few MB (at most " + std::to_string(kMaxInstallerBytes) +
                               " bytes are read)",
                           *image);
}

// A carried file larger than the region could never be packed.
int read_carried_file(const std::string& path, std::vector<std::uint8_t>* content) {
    return read_whole_file(path, static_cast<std::int64_t>(payload::kEntryCapacity),
                           "the patch region holds " + std::to_string(payload::kEntryCapacity) + " bytes in all",
                           *content);
}

// Writes the whole output under a scratch name beside it and puts it in place in one step,
// so that a failure leaves no output file, and no half-written one over an older patch.
bool write_output(const std::string& path, const std::vector<std::uint8_t>& bytes, std::string* error) {
    plat::OutputFile out;
    if (out.create(path) && out.write(bytes.data(), bytes.size()) && out.keep()) return true;
    *error = out.problem();
    return false;
}

std::string base_name(const std::string& path) {
    std::size_t cut = path.find_last_of("\\/:");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace

int stamp_installer(const std::string& template_arg, const std::vector<payload::PackFile>& files,
                    const std::string& out_name, StampedInstaller* out) {
    std::string tmpl = template_arg.empty() ? default_template() : file_argument(template_arg);
    if (tmpl.empty()) return fail_no_template();
    // The template as the user typed it, or where the tool found it.
    const std::string template_name = template_arg.empty() ? shown(tmpl) : template_arg;
    if (!path_fits(tmpl)) return fail(template_name, kPathTooLong);
    std::vector<std::uint8_t>& image = out->image;
    if (int rc = read_installer(tmpl, &image); rc != kExitOk) return rc;
    std::size_t& offset = out->region_at;
    switch (payload::find_template_region(image, &offset)) {
        case payload::FindResult::Found: break;
        case payload::FindResult::Ambiguous: return fail(template_name, "holds more than one payload region");
        case payload::FindResult::NotFound:
            if (payload::find_region(image, &offset) == payload::FindResult::Found)
                return fail(template_name, "the payload region is not in template state: a patch is stamped in already");
            return fail(template_name, "no payload region in template state");
    }
    std::size_t& digest_at = out->digest_at;
    switch (payload::find_digest_area(image, &digest_at)) {
        case payload::FindResult::Found: break;
        case payload::FindResult::Ambiguous: return fail(template_name, "holds more than one patch digest area");
        case payload::FindResult::NotFound:
            return fail(template_name, "has no patch digest area: it is not a template this tool can stamp");
    }
    std::span<std::uint8_t> region(image.data() + offset, payload::kRegionBytes);
    if (Result stamped = payload::stamp_region(region, files); stamped.failed()) return fail(out_name, stamped.problem);
    std::span<std::uint8_t> area(image.data() + digest_at, payload::kDigestAreaBytes);
    if (Result recorded = payload::stamp_digest(area, region); recorded.failed()) return fail(out_name, recorded.problem);
    return kExitOk;
}

int write_installer(const std::string& path, const std::string& out_name, const std::vector<std::uint8_t>& image) {
    std::string error;
    if (!path_fits(path)) return fail(out_name, kPathTooLong);
    if (!write_output(path, image, &error)) return fail(out_name, error);
    return kExitOk;
}

namespace {

int run_build(const PackOptions& o) {
    std::vector<std::string> inputs;
    for (const std::string& f : o.files) inputs.push_back(file_argument(f));
    inputs.push_back(file_argument(o.template_file.empty() ? default_template() : o.template_file));
    if (int rc = refuse_output_onto_input(o.out_file, file_argument(o.out_file), inputs); rc != kExitOk) return rc;
    // The names first: one the installer would refuse (a device name, say) is never opened.
    std::vector<payload::PackFile> names;
    for (const std::string& f : o.files) names.push_back({base_name(file_argument(f)), {}});
    std::vector<std::size_t> order;
    if (Result named = payload::plan_pack(names, &order); named.failed()) return fail(o.out_file, named.problem);
    std::vector<payload::PackFile> files;
    for (const std::string& f : o.files) {
        std::string path = file_argument(f);
        payload::PackFile pf{base_name(path), {}};
        if (int rc = read_carried_file(path, &pf.content); rc != kExitOk) return rc;
        files.push_back(std::move(pf));
    }
    StampedInstaller made;
    if (int rc = stamp_installer(o.template_file, files, o.out_file, &made); rc != kExitOk) return rc;
    if (int rc = write_installer(file_argument(o.out_file), o.out_file, made.image); rc != kExitOk) return rc;
    std::printf("%s: %zu files, %zu of %zu bytes used\n", o.out_file.c_str(), files.size(), payload::packed_size(files),
                payload::kEntryCapacity);
    return kExitOk;
}

// The patch's region, checked whole: a damaged entry, or a list that ends early in front of
// more bytes, is refused before anything is listed or written.
int load_region(const std::string& patch, std::vector<std::uint8_t>* image, std::span<std::uint8_t>* region,
                std::vector<payload::EntryView>* entries) {
    if (int rc = read_installer(patch, image); rc != kExitOk) return rc;
    std::size_t offset = 0;
    switch (payload::find_region(*image, &offset)) {
        case payload::FindResult::Found: break;
        case payload::FindResult::Ambiguous: return fail(shown(patch), "holds more than one payload region");
        case payload::FindResult::NotFound: return fail(shown(patch), "no payload region");
    }
    *region = std::span<std::uint8_t>(image->data() + offset, payload::kRegionBytes);
    entries->clear();
    if (!payload::holds_patch(*region)) return kExitOk;
    payload::ExtractFailure why;
    if (!payload::walk_entry_list(*region, entries, &why))
        return fail(shown(patch), "damaged payload: " + payload::describe(why));
    return kExitOk;
}

int run_list(const PackOptions& o) {
    std::string patch = file_argument(o.patch_file);
    std::vector<std::uint8_t> image;
    std::span<std::uint8_t> region;
    std::vector<payload::EntryView> entries;
    if (int rc = load_region(patch, &image, &region, &entries); rc != kExitOk) return rc;
    for (const payload::EntryView& e : entries) std::printf("%s\t%d\n", e.name, e.size);
    return kExitOk;
}

int run_extract(const PackOptions& o) {
    std::string patch = file_argument(o.patch_file);
    const std::string& dir_arg = !o.output.empty() ? o.output : o.dir;
    if (dir_arg.empty()) return usage("pack extract needs -o DIR, the folder to write into");
    std::string dir = directory_argument(dir_arg);
    std::vector<std::uint8_t> image;
    std::span<std::uint8_t> region;
    std::vector<payload::EntryView> entries;
    if (int rc = load_region(patch, &image, &region, &entries); rc != kExitOk) return rc;
    if (!payload::holds_patch(region)) return kExitOk;  // the installer unpacks nothing either
    if (!path_fits(dir)) return fail(dir_arg, kPathTooLong);
    if (o.keep_old)
        for (const payload::EntryView& e : entries)
            if (std::string to = dir + e.name; plat::file_exists(to.c_str()))
                return fail(shown(to), "already there, and --keep-old-files keeps it: nothing was extracted");
    if (!make_directories(dir)) return fail(dir_arg, "cannot create the directory: " + last_error());
    Result unpacked = payload::extract_payload(region, dir.c_str());
    if (unpacked.failed()) return fail(o.patch_file, unpacked.problem);
    return kExitOk;
}

}  // namespace

void add_pack_command(CLI::App& app, int& exit_status) {
    auto opts = std::make_shared<PackOptions>();
    CLI::App* pack = app.add_subcommand("pack", "Build a patch installer, list or extract its files");
    pack->require_subcommand(1);

    CLI::App* build = pack->add_subcommand("build", "Stamp FILEs into a copy of the template installer");
    build->add_option("--template", opts->template_file,
                      "The installer in template state (default: the DravoPatch.exe installed with the tool)");
    build->add_option("-o,--output,--out", opts->out_file, "The patch installer to write (--out: the older spelling)")
        ->required();
    build->add_option("FILE", opts->files, "Files to carry, unpacked under their base names")->required();
    build->callback([opts, &exit_status] { exit_status = run_build(*opts); });

    CLI::App* list = pack->add_subcommand("list", "Print each carried file as <name>\\t<size>");
    list->add_option("PATCH", opts->patch_file, "A patch installer")->required();
    list->callback([opts, &exit_status] { exit_status = run_list(*opts); });

    CLI::App* extract = pack->add_subcommand("extract", "Write the carried files into DIR (created if missing), as the installer does");
    extract->add_option("PATCH", opts->patch_file, "A patch installer")->required();
    extract->add_option("-o,--output", opts->output, "The directory to write into (created if missing)");
    extract->add_option("DIR", opts->dir, "The same as -o DIR (the older spelling)");
    extract->add_flag("-k,--keep-old-files", opts->keep_old,
                      "Refuse to overwrite a file that is already there (nothing is extracted then)");
    extract->callback([opts, &exit_status] { exit_status = run_extract(*opts); });
}

}  // namespace tool
