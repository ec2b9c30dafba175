// Linked into every fuzz target. ASan keeps freed memory out of use for a while to catch a use
// after free; its default of 256 MB means that a target which allocates a little for every
// input keeps touching fresh pages, and the page faults cost a third of the run. The inputs are
// small: 16 MB still holds every block that one input frees, so what the quarantine catches
// stays the same.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=16"; }
