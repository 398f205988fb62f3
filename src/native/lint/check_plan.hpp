// What the run will send, check by check, without a controller: as Python
// data for the command line to print.
#pragma once

#include <nanobind/nanobind.h>

#include "lint/lint_run.hpp"

namespace nb = nanobind;

namespace harborsweep::lint {

// One dict per check the run takes, in its order: "path", "readable",
// "description" (what the run prints, or None), "fields" (dicts of "name"
// and "value", with "error" where the value fails to read and "expands_to"
// on the reference followed), "filters" (the steps; [] for the whole
// answer) and "chain" (dicts of "field" and "check" down the chain of
// references, "loops" on one that leads back into it).
nb::list plan_of(const LintRun &run);

// A path's file-system bytes as the str os.fsdecode() gives.
nb::str fs_text(const std::string &fs_path);

}  // namespace harborsweep::lint
