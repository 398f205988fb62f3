// Path joining, resolving and naming, in one place: the run joins a
// configuration directory with each name it lists and each name a reference
// gives, tells files apart by their real paths, and names them by the paths
// it used.
#include "lint/check_paths.hpp"

#include <climits>
#include <cstdlib>

namespace harborsweep::lint {

std::string join_path(const std::string &directory, const std::string &name) {
    if (!name.empty() && name[0] == '/')
        return name;
    if (directory.empty() || directory.back() == '/')
        return directory + name;
    return directory + "/" + name;
}

std::string directory_of(const std::string &path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return "";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string base_name(const std::string &fs_path) {
    const size_t slash = fs_path.rfind('/');
    return display_path(slash == std::string::npos ? fs_path : fs_path.substr(slash + 1));
}

std::string real_path(const std::string &path) {
    if (path.find('\0') != std::string::npos)
        return path;
    char *resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved)
        return path;
    std::string result = resolved;
    std::free(resolved);
    return result;
}

Text path_text(const std::string &fs_path) {
    Text text;
    size_t i = 0;
    while (i < fs_path.size()) {
        const unsigned char byte = static_cast<unsigned char>(fs_path[i]);
        if (byte < 0x80) {
            text += byte;
            ++i;
            continue;
        }
        const size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
        char32_t c = length == 1 ? 0xFFFD : byte & (0x3F >> (length - 1));
        bool good = length > 1 && i + length <= fs_path.size();
        for (size_t k = 1; good && k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(fs_path[i + k]);
            good = (next & 0xC0) == 0x80;
            c = (c << 6) | (next & 0x3F);
        }
        text += good ? c : U'\uFFFD';
        i += good ? length : 1;
    }
    return text;
}

std::string display_path(const std::string &fs_path) { return to_utf8(path_text(fs_path)); }

nb::str fs_text(const std::string &fs_path) {
    PyObject *text =
        PyUnicode_DecodeFSDefaultAndSize(fs_path.data(), static_cast<Py_ssize_t>(fs_path.size()));
    if (!text)
        nb::raise_python_error();
    return nb::steal<nb::str>(text);
}

}  // namespace harborsweep::lint
