// Output references that lead back to a check already on their chain: the
// run refuses such a chain with RecursionError when it comes to it.
#pragma once

#include <nanobind/nanobind.h>

#include <vector>

#include "lint/check_model.hpp"
#include "lint/findings.hpp"

namespace harborsweep::lint {

// `follows[i]`: the check that check i's reference leads to, or -1. Each
// check on a loop gets a finding at its reference, naming the loop from it.
void find_reference_loops(const std::vector<CheckModel> &checks, const std::vector<long> &follows,
                          Findings &findings);

}  // namespace harborsweep::lint
