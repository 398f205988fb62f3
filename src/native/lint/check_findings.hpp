// The findings of one check file on its own: how it reads, what the run
// takes from it, and what of it the run passes over. What its output
// reference leads to is the linter's run's to find (lint_run).
#pragma once

#include "lint/check_model.hpp"
#include "lint/findings.hpp"

namespace harborsweep::lint {

// `listed`: whether the run takes the file from its directory (so prints its
// description), rather than reaching it only through a reference.
void find_in_check(const CheckModel &check, bool listed, const Decoding &decoding,
                   Findings &findings);

}  // namespace harborsweep::lint
