// The default report sink: error boxes and progress texts as lines on stderr.
#include "base/report.h"

#include <cstdio>

namespace report {

namespace {

class StderrSink final : public Sink {
public:
    void error_box(const char* text, const char* caption) override {
        std::fprintf(stderr, "%s: %s\n", caption, text);
    }
    void progress_text(const char* text) override {
        std::fprintf(stderr, "%s\n", text[0] == '@' ? text + 1 : text);
    }
};

StderrSink g_default_sink;
Sink* g_sink = &g_default_sink;

}  // namespace

void set_sink(Sink* s) { g_sink = s ? s : &g_default_sink; }
Sink& sink() { return *g_sink; }

}  // namespace report
