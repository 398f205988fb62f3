// The findings of one check file on its own: how it reads, what the run
// takes from it, and what of it the run passes over. What its output
// reference leads to is the linter's run's to find (lint_run).
#pragma once

#include <vector>

#include "lint/check_model.hpp"
#include "lint/findings.hpp"

namespace harborsweep::lint {

// `listed`: whether the run takes the file from its directory (so prints its
// description), rather than reaching it only through a reference.
void find_in_check(const CheckModel &check, bool listed, const Decoding &decoding,
                   Findings &findings);

// `filters` written in [quorvane], once the references are followed
// (`follows`: per check, the check its reference leads to, or -1): the run
// sends it, applies none, and a chain fed by such a check runs over the
// elements of the whole answer.
void find_filters_sent(const std::vector<CheckModel> &checks, const std::vector<long> &follows,
                       Findings &findings);

}  // namespace harborsweep::lint
