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

#include "lint/check_model.hpp"
#include "lint/findings.hpp"

namespace harborsweep::lint {

// A path that the run opens a check file by. Two paths may lead to one file
// (a symbolic link): the file is read once, and each path is a check of its
// own, as the run names it.
struct CheckPath {
    std::string path;     // file-system bytes, as the run forms it
    size_t model = 0;     // the file it leads to, in LintRun::models
    bool listed = false;  // run by itself: listed in its directory, or given alone
    bool read = false;    // opened by the run: listed, or reached by a reference short of a loop
};

struct LintRun {
    Decoding decoding;
    // Each file read, once per configuration directory, told apart by real
    // path as the run tells files apart when it refuses a loop.
    std::vector<CheckModel> models;
    std::vector<long> target;   // per model: the path its reference leads to, or -1
    std::vector<long> follows;  // per model: the readable model that path leads to, or -1
    std::vector<long> loop;     // per model: the loop of references it is on, or -1
    std::vector<std::vector<size_t>> loops;  // each loop's models, in the order followed
    std::vector<CheckPath> paths;            // every path met, in the order met
    std::vector<size_t> run_order;           // the listed paths, in the run's order
    std::vector<std::string> order;          // the paths of files and directories, as met
    Findings findings;

    size_t files_read() const;
};

// `config_dir`: against which the references of a single check file resolve
// (by default its own directory); a directory is its own. Raises the OSError
// of a path that cannot be linted at all: one that does not exist, or a
// directory that cannot be listed.
LintRun lint_paths(const std::vector<std::string> &paths,
                   const std::optional<std::string> &config_dir = std::nullopt);

}  // namespace harborsweep::lint
