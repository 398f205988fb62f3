// The findings of one check file on its own: how it reads, what the run
// takes from it, and what of it the run passes over. What its output
// reference leads to is the linter's run's to find (lint_run).
#pragma once

#include <nanobind/nanobind.h>

#include <vector>

#include "lint/check_model.hpp"
#include "lint/findings.hpp"

namespace harborsweep::lint {

// `listed`: whether the run takes the file from its directory (so prints its
// description), rather than reaching it only through a reference.
void find_in_check(const CheckModel &check, bool listed, const Decoding &decoding,
                   Findings &findings);

// Per check, the first check whose reference leads to it, or -1, from
// `follows` (per check, the check its reference leads to, or -1).
std::vector<long> first_followers(const std::vector<long> &follows);

// `description` and `filters` written in [quorvane] of `check`, once the
// references are followed: the run sends them and takes neither from there;
// a chain fed by a check whose filters are so sent (`follower`, from
// first_followers) runs over the elements of the whole answer.
void find_default_options_sent(const CheckModel &check, const std::vector<CheckModel> &checks,
                               long follower, Findings &findings);

}  // namespace harborsweep::lint
