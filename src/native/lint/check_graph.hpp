// What one run of the linter met: the files it read, the paths the run
// opens them by, the references between them and their loops, and the
// findings.
#pragma once

#include <nanobind/nanobind.h>

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

    // The check files the run opens that can be read.
    size_t files_read() const {
        size_t count = 0;
        for (const CheckPath &path : paths)
            count += path.read && models[path.model].readable();
        return count;
    }
};

}  // namespace harborsweep::lint
