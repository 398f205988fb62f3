// Telling the streams apart. Only the standard library's own in-memory and
// file streams take chunks: their write() runs no code of a caller's, and what can
// still make it fail does not depend on how the text is cut into calls (a
// closed or detached stream fails on the first call either way, a full disk
// or a closed pipe takes what it takes), once an encoding that lacks a
// character of the output is ruled out. Any other stream, subclasses
// included, may count or inspect its calls, or change the result.
#include "layout/stream_kind.hpp"

#include <array>
#include <string>
#include <string_view>

#include "bridge/python_support.hpp"

namespace harborsweep {
namespace {

// Codecs that encode every ASCII character as that one byte, each by
// itself. UTF-8 is not among them: it takes any output (repr() escapes lone
// surrogates), ASCII or not.
constexpr std::array<std::string_view, 4> kAsciiCodecs{
    "ascii",
    "iso8859-1",
    "iso8859-15",
    "cp1252",
};

// Whether `object` is exactly the io type named, with neither of the methods
// that writing calls by name, write() and the flush() of a line-buffered
// stream, replaced on the instance (as a mock.patch.object of it does).
bool is_exact(nb::handle object, nb::handle io, const char *type_name) {
    nb::object type = io.attr(type_name);
    if (reinterpret_cast<PyObject *>(Py_TYPE(object.ptr())) != type.ptr())
        return false;
    nb::object own = nb::getattr(object, "__dict__", nb::none());
    return !PyDict_Check(own.ptr()) ||
           (!PyDict_GetItemString(own.ptr(), "write") && !PyDict_GetItemString(own.ptr(), "flush"));
}

// The attribute, or an invalid object when the stream refuses it; such a
// stream is left to pprint, so that it fails where it would under pprint.
nb::object attribute(nb::handle object, const char *name) {
    nb::object value;
    ran_without_exception([&] { value = object.attr(name); });
    return value;
}

bool plain_file(nb::handle io, nb::handle raw) { return is_exact(raw, io, "FileIO"); }

// The binary side of a text stream: a file, possibly buffered, or memory.
bool plain_binary_stream(nb::handle io, nb::handle buffer) {
    if (is_exact(buffer, io, "BytesIO") || plain_file(io, buffer))
        return true;
    if (!is_exact(buffer, io, "BufferedWriter") && !is_exact(buffer, io, "BufferedRandom"))
        return false;
    nb::object raw = attribute(buffer, "raw");
    return raw.is_valid() && plain_file(io, raw);
}

// The codec's own name for the text stream's encoding, or "" when it has
// none that the codec registry knows.
std::string codec_name(nb::handle stream) {
    nb::object encoding = attribute(stream, "encoding");
    if (!encoding.is_valid() || !PyUnicode_CheckExact(encoding.ptr()))
        return {};
    nb::object name;
    ran_without_exception(
        [&] { name = nb::module_::import_("codecs").attr("lookup")(encoding).attr("name"); });
    if (!name.is_valid() || !PyUnicode_CheckExact(name.ptr()))
        return {};
    Py_ssize_t size = 0;
    const char *text = PyUnicode_AsUTF8AndSize(name.ptr(), &size);
    if (!text)
        nb::raise_python_error();
    return std::string(text, static_cast<std::size_t>(size));
}

ChunkedOutput codec_output(const std::string &codec) {
    if (codec == "utf-8")
        return ChunkedOutput::any;
    for (std::string_view known : kAsciiCodecs)
        if (codec == known)
            return ChunkedOutput::ascii;
    return ChunkedOutput::none;
}

}  // namespace

ChunkedOutput chunked_output(nb::handle stream) {
    nb::module_ io = nb::module_::import_("io");
    if (is_exact(stream, io, "StringIO"))
        return ChunkedOutput::any;
    if (!is_exact(stream, io, "TextIOWrapper"))
        return ChunkedOutput::none;
    nb::object buffer = attribute(stream, "buffer");
    if (!buffer.is_valid() || !plain_binary_stream(io, buffer))
        return ChunkedOutput::none;
    return codec_output(codec_name(stream));
}

}  // namespace harborsweep
