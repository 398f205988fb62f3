// What the run will send, check by check, without a controller: as Python
// data for the command line to print.
#pragma once

#include <nanobind/nanobind.h>

#include "lint/lint_run.hpp"

namespace nb = nanobind;

namespace harborsweep::lint {

// One dict per check: those the run takes, in its order, then those it
// reaches only through references ("listed" false), each once, by the path
// the run opens it by. "path", "listed", "readable", "description" (what the
// run prints, or None), "fields" (dicts of "name" and "value", with "error"
// where the value fails to read and "expands_to" on the reference followed),
// "filters" (the steps; [] for the whole answer), "follows" (None, or a dict
// of "field", "check" and "loops": the one link of its chain, the check it
// leads to being planned by its own path), "errors" and "warnings" (the
// codes found in it) and "stops_at" (None where the run completes the check,
// else the path of the check, this one or one down its chain, where the run
// ends with an error). Each check's entry holds its own link only, so the
// plan grows with the checks, not with their chains' lengths.
nb::list plan_of(const LintRun &run, const std::vector<Finding> &findings);

}  // namespace harborsweep::lint
