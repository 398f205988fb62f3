// The chain of check files being run, outermost first, for refusing output
// references that lead back into it.
#pragma once

#include <nanobind/nanobind.h>

#include <string>
#include <vector>

namespace nb = nanobind;

namespace harborsweep {

// Marks a check file as running for the lifetime of the guard.
class RunningCheck {
public:
    RunningCheck(nb::handle module, nb::handle path);
    ~RunningCheck();
    RunningCheck(const RunningCheck &) = delete;
    RunningCheck &operator=(const RunningCheck &) = delete;
};

// Raises RecursionError naming the chain when `path` is already running.
void refuse_cycle(nb::handle module, nb::handle path);

}  // namespace harborsweep
