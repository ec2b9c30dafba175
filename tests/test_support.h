// Fixtures shared by the unit tests: scratch directories and whole-file helpers, all through
// the platform layer so that the same test runs natively and under Wine.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "base/report.h"
#include "platform/platform.h"

namespace testing_support {

// A fresh directory in the system's scratch folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    // In the core's drive form, ending with a backslash.
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + name; }

private:
    std::string path_;
};

void write_file(const std::string& path, const std::string& bytes);
std::string read_file(const std::string& path);  // empty if it cannot be read
bool make_read_only(const std::string& path);
// Names in the directory (core form, ending with a backslash) that begin with `prefix`.
std::vector<std::string> names_starting_with(const std::string& dir, const std::string& prefix);

// Collects what the core reports, in place of the default sink, while it lives.
class RecordingSink : public report::Sink {
public:
    RecordingSink() { report::set_sink(this); }
    ~RecordingSink() override { report::set_sink(nullptr); }
    void error_box(const char* text, const char* caption) override {
        boxes.push_back(std::string(caption) + ": " + text);
    }
    void progress_text(const char* text) override { progress.emplace_back(text); }
    void keep_alive() override { ++keep_alives; }
    std::vector<std::string> boxes;
    std::vector<std::string> progress;
    int keep_alives = 0;  // how often long work let the face handle its window
};

// A "fail each step" loop. For each operation in `ops` and n = 1, 2, ...: `prepare` sets the
// scene, the nth call of that operation is made to fail, and `action` runs and says whether
// it succeeded; then `check` looks at what is left. A failure met may still end in success
// where the code retries (the file library retries opens and reads); `check` must then find
// the new state, and the old one after a failure. The first run that does not meet its
// failure must succeed, and ends the loop for that operation. Returns how many runs failed.
struct StepRun {
    plat::FaultOp op;
    long n;
    bool failure_met;  // the injected failure happened in this run
    bool succeeded;    // what `action` answered
};
int fail_each_step(std::initializer_list<plat::FaultOp> ops, const std::function<void()>& prepare,
                   const std::function<bool()>& action, const std::function<void(const StepRun&)>& check);
// Every operation the fault injection knows.
inline constexpr std::initializer_list<plat::FaultOp> kEveryFaultOp = {
    plat::FaultOp::Open,    plat::FaultOp::Read,   plat::FaultOp::Write, plat::FaultOp::Flush,
    plat::FaultOp::Replace, plat::FaultOp::Delete, plat::FaultOp::Copy, plat::FaultOp::FlushFolder};

// Resets every piece of the core's global state: configuration, file table, open files,
// fault injection. Tests that use the core's state derive from it.
class CoreTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::string saved_directory_;
};

}  // namespace testing_support
