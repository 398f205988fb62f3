// A check file's bytes, read with the system's calls, or the error that the
// run's open() and read() would raise for it.
#pragma once

#include <nanobind/nanobind.h>

#include <cstdint>
#include <optional>
#include <string>

namespace harborsweep::lint {

// An error of opening or reading, as the interpreter would raise it.
struct ReadFailure {
    std::string python_class;  // FileNotFoundError, IsADirectoryError, ...
    std::string reason;        // strerror's words
    int error_number = 0;
};

// Only regular files are read: a named pipe or a device would block the run
// or never end, and is reported instead; so is a file larger than any check
// file can sensibly be (a sparse file of terabytes, a runaway log), which
// the run would read whole.
struct FileBytes {
    std::string bytes;
    std::optional<ReadFailure> failure;
    bool not_regular = false;
    uint64_t too_large = 0;  // the size of such a file
};

constexpr uint64_t kLargestFileRead = uint64_t{256} << 20;

FileBytes read_file_bytes(const std::string &fs_path);

}  // namespace harborsweep::lint
