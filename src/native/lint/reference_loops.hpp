// Output references that lead back to a check already on their chain: the
// run refuses such a chain with RecursionError when it comes to it, before
// it opens the file again. So which paths the run opens depends on the loops
// too: the path that would close a loop is never opened from where the chain
// entered it.
#pragma once

#include <nanobind/nanobind.h>

#include "lint/check_graph.hpp"

namespace harborsweep::lint {

// Finds the loops among the models' references (`follows`), then marks the
// paths the run opens: the listed ones, and those their references lead to,
// short of a loop.
void find_loops_and_reads(LintRun &run);

// The finding of a path whose file is on a loop, at its reference, naming
// the loop from that path as the run would meet it.
void report_loop(LintRun &run, size_t path);

}  // namespace harborsweep::lint
