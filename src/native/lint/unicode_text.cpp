// Conversions between the linter's code points and Python's str, UTF-8 and
// file-system bytes, and the str methods the reader relies on.
#include "lint/unicode_text.hpp"

namespace harborsweep::lint {

TextView strip(TextView text) {
    size_t begin = 0, end = text.size();
    while (begin < end && is_space(text[begin]))
        ++begin;
    while (end > begin && is_space(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

TextView rstrip(TextView text) {
    size_t end = text.size();
    while (end > 0 && is_space(text[end - 1]))
        --end;
    return text.substr(0, end);
}

Text ascii_lower(TextView text) {
    Text result(text);
    for (char32_t &c : result)
        if (c >= 'A' && c <= 'Z')
            c += 'a' - 'A';
    return result;
}

Text lower(TextView text) {
    for (char32_t c : text)
        if (c >= 0x80)
            return from_python(to_python(text).attr("lower")());
    return ascii_lower(text);
}

Text from_ascii(std::string_view text) { return Text(text.begin(), text.end()); }

Text from_python(nb::handle text) {
    PyObject *s = text.ptr();
    if (!PyUnicode_Check(s))
        throw nb::type_error("expected str");
    const Py_ssize_t length = PyUnicode_GET_LENGTH(s);
    const int kind = PyUnicode_KIND(s);
    const void *data = PyUnicode_DATA(s);
    Text result(static_cast<size_t>(length), U'\0');
    for (Py_ssize_t i = 0; i < length; ++i)
        result[static_cast<size_t>(i)] = PyUnicode_READ(kind, data, i);
    return result;
}

nb::str to_python(TextView text) {
    PyObject *s = PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, text.data(),
                                            static_cast<Py_ssize_t>(text.size()));
    if (!s)
        nb::raise_python_error();
    return nb::steal<nb::str>(s);
}

namespace {

void append_utf8(std::string &out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

bool is_surrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

}  // namespace

std::string to_utf8(TextView text) {
    std::string out;
    out.reserve(text.size());
    for (char32_t c : text)
        append_utf8(out, is_surrogate(c) || c > 0x10FFFF ? U'\uFFFD' : c);
    return out;
}

std::string to_fs_bytes(TextView text) {
    std::string out;
    out.reserve(text.size());
    for (char32_t c : text) {
        if (c >= 0xDC80 && c <= 0xDCFF)
            out += static_cast<char>(c - 0xDC00);
        else
            append_utf8(out, is_surrogate(c) || c > 0x10FFFF ? U'\uFFFD' : c);
    }
    return out;
}

bool starts_with(TextView text, std::string_view ascii) {
    if (text.size() < ascii.size())
        return false;
    for (size_t i = 0; i < ascii.size(); ++i)
        if (text[i] != static_cast<unsigned char>(ascii[i]))
            return false;
    return true;
}

bool ends_with(TextView text, std::string_view ascii) {
    if (text.size() < ascii.size())
        return false;
    return starts_with(text.substr(text.size() - ascii.size()), ascii);
}

}  // namespace harborsweep::lint
