// Chunked output to a write() callable: pieces are copied as UTF-8 into one
// buffer and decoded back into a str per chunk. Literals are valid UTF-8
// (repr() escapes lone surrogates), and chunks only end between pieces, so no
// chunk ever ends inside a character.
#include "output_sink.hpp"

namespace harborsweep {

OutputSink::OutputSink(nb::object write) : write_(std::move(write)) {
    buffer_.reserve(kChunkSize + 256);
}

void OutputSink::line_break(std::size_t indent) {
    buffer_.push_back('\n');
    buffer_.insert(buffer_.end(), indent, ' ');
    if (buffer_.size() >= kChunkSize)
        flush();
}

void OutputSink::literal(nb::handle text) {
    PyObject *str = text.ptr();
    Py_ssize_t length = PyUnicode_GET_LENGTH(str);
    if (static_cast<std::size_t>(length) >= kChunkSize) {
        // A huge literal goes out as it is rather than being copied again.
        flush();
        write_(text);
        return;
    }
    if (PyUnicode_IS_ASCII(str)) {
        const char *data = static_cast<const char *>(PyUnicode_DATA(str));
        ascii(std::string_view(data, static_cast<std::size_t>(length)));
        return;
    }
    Py_ssize_t size = 0;
    const char *utf8 = PyUnicode_AsUTF8AndSize(str, &size);
    if (!utf8)
        nb::raise_python_error();
    buffer_.insert(buffer_.end(), utf8, utf8 + size);
    if (buffer_.size() >= kChunkSize)
        flush();
}

void OutputSink::flush() {
    if (buffer_.empty())
        return;
    // A long layout stays interruptible, as the stdlib's is between writes.
    if (PyErr_CheckSignals() < 0)
        nb::raise_python_error();
    nb::object chunk = nb::steal(PyUnicode_DecodeUTF8(
        buffer_.data(), static_cast<Py_ssize_t>(buffer_.size()), "strict"));
    if (!chunk.is_valid())
        nb::raise_python_error();
    buffer_.clear();
    write_(chunk);
}

}  // namespace harborsweep
