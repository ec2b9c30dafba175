// What the core tells the user, behind one seam: the installer shows it in its window and in
// message boxes, the command-line tool prints it. The core calls only these functions.
#pragma once

namespace report {

class Sink {
public:
    virtual ~Sink() = default;
    // A modal error box with no owner window (the file library's memory errors).
    virtual void error_box(const char* text, const char* caption) = 0;
    // One text for the progress line; a leading '@' replaces the newest line.
    virtual void progress_text(const char* text) = 0;
    // Called between the steps of long work (copies, unpacking, compiling) so that a face with
    // a window can handle its pending messages and stay responsive. It is called often, so it
    // must cost next to nothing when there is nothing to do.
    virtual void keep_alive() {}
};

// Installs a sink; null restores the default, which prints to stderr.
void set_sink(Sink* sink);
Sink& sink();

inline void error_box(const char* text, const char* caption) { sink().error_box(text, caption); }
inline void progress_text(const char* text) { sink().progress_text(text); }
inline void keep_alive() { sink().keep_alive(); }

}  // namespace report
