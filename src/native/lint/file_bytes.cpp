// Reading a check file's bytes with the system's calls, failing as open()
// and read() would fail in the run, with the same exception classes.
#include "lint/file_bytes.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace harborsweep::lint {
namespace {

const char *os_error_class(int error_number) {
    switch (error_number) {
    case ENOENT:
        return "FileNotFoundError";
    case EACCES:
    case EPERM:
        return "PermissionError";
    case EISDIR:
        return "IsADirectoryError";
    case ENOTDIR:
        return "NotADirectoryError";
    default:
        return "OSError";
    }
}

FileBytes failed(int error_number) {
    FileBytes result;
    result.failure =
        ReadFailure{os_error_class(error_number), std::strerror(error_number), error_number};
    return result;
}

// Closes the descriptor on every way out.
struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0)
            ::close(fd);
    }
};

}  // namespace

FileBytes read_file_bytes(const std::string &fs_path) {
    if (fs_path.find('\0') != std::string::npos) {
        FileBytes result;
        result.failure = ReadFailure{"ValueError", "embedded null byte", 0};
        return result;
    }
    // O_NONBLOCK: opening a named pipe must not wait for a writer.
    Descriptor file{::open(fs_path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
    if (file.fd < 0)
        return failed(errno);
    struct stat status;
    if (::fstat(file.fd, &status) != 0)
        return failed(errno);
    if (S_ISDIR(status.st_mode))
        return failed(EISDIR);
    FileBytes result;
    if (!S_ISREG(status.st_mode)) {
        result.not_regular = true;
        return result;
    }
    if (static_cast<uint64_t>(status.st_size) > kLargestFileRead) {
        result.too_large = static_cast<uint64_t>(status.st_size);
        return result;
    }
    result.bytes.reserve(static_cast<size_t>(status.st_size));
    char buffer[65536];
    for (;;) {
        if (result.bytes.size() > kLargestFileRead) {  // it grew while read
            result.too_large = result.bytes.size();
            std::string().swap(result.bytes);
            return result;
        }
        ssize_t got = ::read(file.fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return failed(errno);
        if (got == 0)
            break;
        result.bytes.append(buffer, static_cast<size_t>(got));
    }
    return result;
}

}  // namespace harborsweep::lint
