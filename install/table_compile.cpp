#include "install/table_compile.h"

#include "journal/recovery.h"
#include "journal/transaction.h"
#include "xfile/xfile.h"

namespace install {

TableCompile compile_tables(const std::string& dir, messages::CompileObserver* observer) {
    TableCompile out;
    if (out.step = journal::check_whole(dir); out.step.failed()) {
        out.outcome = TableCompile::Outcome::NotWhole;
        return out;
    }
    journal::Transaction tables;
    if (out.step = tables.begin_tables(dir); out.step.failed()) {
        out.outcome = TableCompile::Outcome::NotBegun;
        return out;
    }
    out.compile = messages::compile_messages(observer);
    xfile::reset_xfile();
    if (!out.compile.failed()) {
        out.step = tables.commit_and_forget();
        out.outcome = out.step.failed() ? TableCompile::Outcome::CommitFailed : TableCompile::Outcome::Compiled;
        return out;
    }
    out.step = tables.roll_back();
    out.outcome = out.step.failed() ? TableCompile::Outcome::RollBackFailed : TableCompile::Outcome::CompileFailed;
    return out;
}

}  // namespace install
