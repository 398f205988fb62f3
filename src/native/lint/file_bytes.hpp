// A check file's bytes, read with the system's calls, or the error that the
// run's open() and read() would raise for it.
#pragma once

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
// or never end, and is reported instead.
struct FileBytes {
    std::string bytes;
    std::optional<ReadFailure> failure;
    bool not_regular = false;
};

FileBytes read_file_bytes(const std::string &fs_path);

}  // namespace harborsweep::lint
