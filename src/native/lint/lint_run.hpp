// One run of the linter over the paths it is given: each directory's check
// files as the run takes them, single check files, and every file their
// output references lead to; the paths the run opens them by, each file
// read once; their findings, each under every path the run opens it by, and
// the loops their references make.
#pragma once

#include <nanobind/nanobind.h>

#include <optional>
#include <string>
#include <vector>

#include "lint/check_graph.hpp"

namespace harborsweep::lint {

// `config_dir`: against which the references of a single check file resolve
// (by default its own directory); a directory is its own. Raises the OSError
// of a path that cannot be linted at all: one that does not exist, or a
// directory that cannot be listed.
LintRun lint_paths(const std::vector<std::string> &paths,
                   const std::optional<std::string> &config_dir = std::nullopt);

}  // namespace harborsweep::lint
