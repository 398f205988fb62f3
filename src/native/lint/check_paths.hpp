// Paths as the run forms and names them: file-system bytes joined as
// os.path.join() joins them, resolved as os.path.realpath() resolves them,
// and shown as text in messages and to Python.
#pragma once

#include <nanobind/nanobind.h>

#include <string>

#include "lint/unicode_text.hpp"

namespace nb = nanobind;

namespace harborsweep::lint {

// os.path.join(directory, name) for file-system bytes.
std::string join_path(const std::string &directory, const std::string &name);
// os.path.dirname(): "" for a bare name.
std::string directory_of(const std::string &path);
// The last part of a path, as text for a message.
std::string base_name(const std::string &fs_path);

// realpath(3), or the path itself where it fails.
std::string real_path(const std::string &path);

// A path's file-system bytes as text; bytes that are not UTF-8 show as
// U+FFFD (the finding itself keeps the exact path).
Text path_text(const std::string &fs_path);
// The path of a file for a message, as UTF-8.
std::string display_path(const std::string &fs_path);
// A path's file-system bytes as the str os.fsdecode() gives.
nb::str fs_text(const std::string &fs_path);

}  // namespace harborsweep::lint
