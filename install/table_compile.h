// Compiling a folder's message source into both of its tables outside an install, as one
// change: the compile runs in a short transaction of its own, so that a kill or a power cut
// between the two tables' swaps leaves both old or both new, and recovery finishes what was
// interrupted. It is never an install: no number, no entry in the log.
#pragma once

#include <string>

#include "base/result.h"
#include "messages/message_compiler.h"

namespace install {

struct TableCompile {
    enum class Outcome {
        Compiled,        // both new tables are in place, and the transaction is gone
        NotWhole,        // an earlier change of the folder was not finished: nothing was done
        NotBegun,        // the transaction could not begin: nothing was done
        CompileFailed,   // the compile failed: the old tables are in place (compile says why)
        RollBackFailed,  // the compile failed and the old tables could not all be put back
        CommitFailed,    // the new tables are in place, but the transaction could not end
    };
    Outcome outcome = Outcome::Compiled;
    messages::CompileResult compile;
    Result step;  // why the transaction's own step failed (NotWhole, NotBegun, RollBackFailed, CommitFailed)
};

// Compiles `dir`'s message.txt into its message.dat and message.str; `dir` ends with a
// backslash and is already the configuration's HD folder.
TableCompile compile_tables(const std::string& dir, messages::CompileObserver* observer);

}  // namespace install
