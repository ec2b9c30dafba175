// Fixtures shared by the unit tests.
#include "tests/test_support.h"

#include "platform/intercept/held_files.h"
#include "platform/intercept/file_changes.h"

#include <atomic>
#include <filesystem>

#include "config/config.h"
#include "platform/intercept/overlay.h"
#include "platform/platform.h"
#include "xfile/xfile.h"

namespace testing_support {

namespace {
std::atomic<int> g_counter{0};

// Files a test made read-only; cleared again before the scratch directory is removed, since
// Windows deletes no read-only file.
std::vector<std::string>& read_only_files() {
    static std::vector<std::string> files;
    return files;
}
}  // namespace

TempDir::TempDir() {
    std::string base = plat::temp_directory();
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string p = base + "dravo-test-" + std::to_string(plat::tick_count()) + "-" +
                        std::to_string(g_counter++);
        if (plat::create_directory(p.c_str())) {
            path_ = p + "\\";
            return;
        }
    }
    ADD_FAILURE() << "cannot create a scratch directory in " << base;
}

TempDir::~TempDir() {
    if (path_.empty()) return;
    for (const std::string& f : read_only_files())
        if (f.compare(0, path_.size(), path_) == 0) plat::set_read_only(f.c_str(), false);
    std::error_code ec;
    std::filesystem::remove_all(plat::to_native_path(path_.c_str()), ec);
}

std::vector<std::string> names_starting_with(const std::string& dir, const std::string& prefix) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(plat::to_native_path(dir.c_str()), ec)) {
        std::string name = e.path().filename().string();
        if (name.compare(0, prefix.size(), prefix) == 0) names.push_back(name);
    }
    return names;
}

void write_file(const std::string& path, const std::string& bytes) {
    plat::File file = plat::File::open(path.c_str(), plat::Access::Write, plat::Disposition::CreateAlways);
    ASSERT_TRUE(file) << path << ": " << plat::last_error_text();
    std::uint32_t put = 0;
    ASSERT_TRUE(plat::write_file(file.get(), bytes.data(), static_cast<std::uint32_t>(bytes.size()), &put));
    ASSERT_EQ(put, bytes.size());
}

std::string read_file(const std::string& path) {
    plat::File file = plat::File::open(path.c_str(), plat::Access::Read, plat::Disposition::OpenExisting);
    if (!file) return {};
    std::string out(static_cast<std::size_t>(plat::file_size(file.get())), '\0');
    std::uint32_t got = 0;
    plat::read_file(file.get(), out.data(), static_cast<std::uint32_t>(out.size()), &got);
    out.resize(got);
    return out;
}

bool make_read_only(const std::string& path) {
    read_only_files().push_back(path);
    return plat::set_read_only(path.c_str(), true);
}

void CoreTest::SetUp() {
    saved_directory_ = plat::current_directory();
    plat::watch_file_changes(nullptr);
    config::reset_configuration();
    xfile::reset_xfile();
    plat::release_held_files();
    plat::reset_fault_injection();
}

void CoreTest::TearDown() {
    xfile::reset_xfile();
    plat::release_held_files();
    config::reset_configuration();
    plat::reset_fault_injection();
    plat::watch_file_changes(nullptr);
    plat::use_overlay(nullptr);
    plat::change_directory(saved_directory_.c_str());
}

int fail_each_step(std::initializer_list<plat::FaultOp> ops, const std::function<void()>& prepare,
                   const std::function<bool()>& action, const std::function<void(const StepRun&)>& check) {
    constexpr long kMostSteps = 10000;  // a loop that never ends is a fault of its own
    int failures = 0;
    for (plat::FaultOp op : ops) {
        for (long n = 1; n <= kMostSteps; ++n) {
            SCOPED_TRACE(std::string("failing ") + plat::fault_op_name(op) + " call " + std::to_string(n));
            plat::reset_fault_injection();
            prepare();
            plat::fault_injection().fail_nth(op, n);
            bool succeeded = action();
            bool met = plat::fault_injection().injected > 0;
            plat::reset_fault_injection();
            check({op, n, met, succeeded});
            if (met) {
                if (!succeeded) ++failures;
                continue;
            }
            EXPECT_TRUE(succeeded) << "failed without an injected failure";
            break;
        }
    }
    return failures;
}

}  // namespace testing_support
