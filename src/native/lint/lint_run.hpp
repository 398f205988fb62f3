// One run of the linter over the paths it is given: each directory's check
// files as the run takes them, single check files, and every file their
// output references lead to, each read once; their findings, and the loops
// their references make.
#pragma once

#include <nanobind/nanobind.h>

#include <string>
#include <unordered_map>
#include <vector>

#include "lint/check_model.hpp"
#include "lint/findings.hpp"

namespace harborsweep::lint {

struct LintRun {
    Decoding decoding;
    std::vector<CheckModel> checks;  // every file read, in the order read
    std::vector<size_t> run_order;   // the checks the run takes, in its order
    std::vector<long> follows;       // per check: the check its reference leads to, or -1
    Findings findings;
};

// Raises the OSError of a path that cannot be linted at all: one that does
// not exist, or a directory that cannot be listed.
LintRun lint_paths(const std::vector<std::string> &paths);

}  // namespace harborsweep::lint
