// A directory's entries in the order the system lists them, as os.listdir()
// gives them (readdir's order, without "." and "..").
#pragma once

#include <nanobind/nanobind.h>

#include <string>
#include <vector>

namespace harborsweep::lint {

struct DirectoryEntry {
    std::string name;
    bool plain;      // a file or directory itself, not a link (nor of a kind unknown)
    bool directory;  // a directory, or a link to one
};

// Raises the interpreter's OSError for `path` when it cannot be listed.
std::vector<DirectoryEntry> list_directory(const std::string &path);

// The entries, or none when it cannot be listed.
std::vector<DirectoryEntry> list_directory_quietly(const std::string &path);

// Whether `path` names a directory (links followed); raises the OSError of
// a path that does not exist or cannot be looked at.
bool is_directory(const std::string &path);

}  // namespace harborsweep::lint
