// The one result of the operations above the file library: what happened, and unless it went
// as it should, the problem in words for the user. Work items use all three states; the other
// operations (a compile, an extraction, a pack build) are either applied or failed.
#pragma once

#include <string>
#include <utility>

#include "base/work_result.h"

struct Result {
    WorkResult result = WorkResult::Applied;
    std::string problem;  // empty when applied

    static Result applied() { return {}; }
    static Result skipped(std::string why) { return {WorkResult::Skipped, std::move(why)}; }
    static Result failed(std::string why) { return {WorkResult::Failed, std::move(why)}; }
    bool failed() const { return result == WorkResult::Failed; }
};
