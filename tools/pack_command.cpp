// dravo pack: the patch builder. "build" stamps files into a copy of the installer, "list"
// and "extract" read a patch back the way the installer does.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>
#include <vector>

#include "payload/extract.h"
#include "payload/region.h"
#include "payload/stamp.h"
#include "platform/output_file.h"
#include "platform/platform.h"
#include "tools/commands.h"
#include "tools/tool_util.h"

namespace tool {

namespace {

struct PackOptions {
    std::string template_file;
    std::string out_file;
    std::vector<std::string> files;
    std::string patch_file;
    std::string dir;
};

bool read_whole_file(const std::string& path, std::vector<std::uint8_t>* bytes) {
    plat::Handle h = plat::open_file(path.c_str(), plat::Access::Read, plat::Disposition::OpenExisting);
    if (h == plat::Handle::Invalid) return false;
    std::int64_t size = plat::file_size(h);
    bool ok = size >= 0 && size < (std::int64_t{1} << 31);
    if (ok) {
        bytes->resize(static_cast<std::size_t>(size));
        std::uint32_t got = 0;
        ok = plat::read_file(h, bytes->data(), static_cast<std::uint32_t>(size), &got) && got == size;
    }
    plat::close_file(h);
    return ok;
}

// Writes the whole output under a scratch name beside it and puts it in place in one step,
// so that a failure leaves no output file, and no half-written one over an older patch.
bool write_output(const std::string& path, const std::vector<std::uint8_t>& bytes, std::string* error) {
    plat::OutputFile out;
    if (out.create(path) && out.write(bytes.data(), bytes.size()) && out.commit()) return true;
    *error = out.problem();
    return false;
}

std::string base_name(const std::string& path) {
    std::size_t cut = path.find_last_of("\\/:");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

int run_build(const PackOptions& o) {
    std::string tmpl = file_argument(o.template_file);
    std::string out = file_argument(o.out_file);
    if (!path_fits(tmpl)) return fail(o.template_file, kPathTooLong);
    if (!path_fits(out)) return fail(o.out_file, kPathTooLong);
    std::vector<std::uint8_t> image;
    if (!read_whole_file(tmpl, &image)) return fail(o.template_file, "cannot read: " + last_error());
    std::size_t offset = 0;
    switch (payload::find_template_region(image, &offset)) {
        case payload::FindResult::Found: break;
        case payload::FindResult::Ambiguous: return fail(o.template_file, "holds more than one payload region");
        case payload::FindResult::NotFound:
            if (payload::find_region(image, &offset) == payload::FindResult::Found)
                return fail(o.template_file, "the payload region is not in template state: a patch is stamped in already");
            return fail(o.template_file, "no payload region in template state");
    }
    std::vector<payload::PackFile> files;
    for (const std::string& f : o.files) {
        std::string path = file_argument(f);
        payload::PackFile pf{base_name(path), {}};
        if (!read_whole_file(path, &pf.content)) return fail(f, "cannot read: " + last_error());
        files.push_back(std::move(pf));
    }
    std::string error;
    std::span<std::uint8_t> region(image.data() + offset, payload::kRegionBytes);
    if (!payload::stamp_region(region, files, &error)) return fail(o.out_file, error);
    if (!write_output(out, image, &error)) return fail(o.out_file, error);
    std::printf("%s: %zu files, %zu of %zu bytes used\n", o.out_file.c_str(), files.size(), payload::packed_size(files),
                payload::kEntryCapacity);
    return kExitOk;
}

// The patch's region, checked whole: a damaged entry is refused before anything is written.
int load_region(const std::string& patch, std::vector<std::uint8_t>* image, std::span<std::uint8_t>* region) {
    if (!read_whole_file(patch, image)) return fail(patch, "cannot read: " + last_error());
    std::size_t offset = 0;
    switch (payload::find_region(*image, &offset)) {
        case payload::FindResult::Found: break;
        case payload::FindResult::Ambiguous: return fail(patch, "holds more than one payload region");
        case payload::FindResult::NotFound: return fail(patch, "no payload region");
    }
    *region = std::span<std::uint8_t>(image->data() + offset, payload::kRegionBytes);
    if (!payload::holds_patch(*region)) return kExitOk;
    payload::EntryView e;
    std::size_t at = 0;
    for (int index = 1;; ++index) {
        payload::EntryStatus status = payload::read_entry(*region, at, &e);
        if (status == payload::EntryStatus::EndOfList) return kExitOk;
        if (status != payload::EntryStatus::Entry) {
            payload::ExtractFailure f;
            f.step = payload::ExtractFailure::Step::Entry;
            f.status = status;
            f.index = index;
            f.name = e.name;
            f.size = e.size;
            return fail(patch, "damaged payload: " + payload::describe(f));
        }
        at = e.next_offset;
    }
}

int run_list(const PackOptions& o) {
    std::string patch = file_argument(o.patch_file);
    std::vector<std::uint8_t> image;
    std::span<std::uint8_t> region;
    if (int rc = load_region(patch, &image, &region); rc != kExitOk) return rc;
    if (!payload::holds_patch(region)) return kExitOk;
    payload::EntryView e;
    for (std::size_t at = 0; payload::read_entry(region, at, &e) == payload::EntryStatus::Entry; at = e.next_offset)
        std::printf("%d\t%s\n", e.size, e.name);
    return kExitOk;
}

int run_extract(const PackOptions& o) {
    std::string patch = file_argument(o.patch_file);
    std::string dir = directory_argument(o.dir);
    std::vector<std::uint8_t> image;
    std::span<std::uint8_t> region;
    if (int rc = load_region(patch, &image, &region); rc != kExitOk) return rc;
    if (!payload::holds_patch(region)) return kExitOk;  // the installer unpacks nothing either
    payload::ExtractFailure why;
    if (payload::extract_payload(region, dir.c_str(), &why) == payload::kExtractFailed)
        return fail(patch, payload::describe(why));
    return kExitOk;
}

}  // namespace

void add_pack_command(CLI::App& app, int& exit_status) {
    auto opts = std::make_shared<PackOptions>();
    CLI::App* pack = app.add_subcommand("pack", "Build a patch installer, list or extract its files");
    pack->require_subcommand(1);

    CLI::App* build = pack->add_subcommand("build", "Stamp FILEs into a copy of the template installer");
    build->add_option("--template", opts->template_file, "The installer in template state")->required();
    build->add_option("--out", opts->out_file, "The patch installer to write")->required();
    build->add_option("FILE", opts->files, "Files to carry, unpacked under their base names")->required();
    build->callback([opts, &exit_status] { exit_status = run_build(*opts); });

    CLI::App* list = pack->add_subcommand("list", "Print each carried file as <size>\\t<name>");
    list->add_option("PATCH", opts->patch_file, "A patch installer")->required();
    list->callback([opts, &exit_status] { exit_status = run_list(*opts); });

    CLI::App* extract = pack->add_subcommand("extract", "Write the carried files into DIR, as the installer does");
    extract->add_option("PATCH", opts->patch_file, "A patch installer")->required();
    extract->add_option("DIR", opts->dir, "The directory to write into")->required();
    extract->callback([opts, &exit_status] { exit_status = run_extract(*opts); });
}

}  // namespace tool
