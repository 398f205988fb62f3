// Directories and paths through the system's calls, failing with the
// interpreter's OSError for the path, as os.listdir() and os.stat() would.
#include "lint/directory_listing.hpp"

#include <nanobind/nanobind.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>

namespace nb = nanobind;

namespace harborsweep::lint {
namespace {

[[noreturn]] void raise_os_error(const std::string &path, int error_number) {
    errno = error_number;
    nb::object name = nb::steal(
        PyUnicode_DecodeFSDefaultAndSize(path.data(), static_cast<Py_ssize_t>(path.size())));
    if (name.is_valid())
        PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, name.ptr());
    nb::raise_python_error();
}

struct DirectoryStream {
    DIR *stream;
    ~DirectoryStream() {
        if (stream)
            ::closedir(stream);
    }
};

bool read_entries(const std::string &path, std::vector<DirectoryEntry> &names, int &error_number) {
    DirectoryStream directory{::opendir(path.c_str())};
    if (!directory.stream) {
        error_number = errno;
        return false;
    }
    for (;;) {
        errno = 0;
        const dirent *entry = ::readdir(directory.stream);
        if (!entry) {
            error_number = errno;
            return error_number == 0;
        }
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        const bool plain = entry->d_type == DT_REG || entry->d_type == DT_DIR;
        bool directory = entry->d_type == DT_DIR;
        struct stat status;
        if (!plain && ::stat((path + "/" + name).c_str(), &status) == 0)
            directory = S_ISDIR(status.st_mode);
        names.push_back({name, plain, directory});
    }
}

}  // namespace

std::vector<DirectoryEntry> list_directory(const std::string &path) {
    std::vector<DirectoryEntry> names;
    int error_number = 0;
    if (!read_entries(path, names, error_number))
        raise_os_error(path, error_number);
    return names;
}

std::vector<DirectoryEntry> list_directory_quietly(const std::string &path) {
    std::vector<DirectoryEntry> names;
    int error_number = 0;
    read_entries(path, names, error_number);
    return names;
}

bool is_directory(const std::string &path) {
    if (path.find('\0') != std::string::npos)
        raise_os_error(path, EINVAL);
    struct stat status;
    if (::stat(path.c_str(), &status) != 0)
        raise_os_error(path, errno);
    return S_ISDIR(status.st_mode);
}

}  // namespace harborsweep::lint
