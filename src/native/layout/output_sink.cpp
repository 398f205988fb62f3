// Chunked output to a write() callable. The buffer starts small and grows to
// one chunk, so a short result costs little memory. Pieces are whole UTF-8
// characters (repr() escapes lone surrogates) and only ASCII pieces are ever
// cut, so every chunk decodes.
#include "layout/output_sink.hpp"

#include <algorithm>

namespace harborsweep {

void OutputSink::spill_line_break(std::size_t indent) {
    static constexpr char kSpaces[] =
        "\n                                                                ";
    std::size_t pending = indent + 1;
    std::size_t offset = 0;
    while (pending) {
        std::size_t step = std::min(pending, sizeof kSpaces - 1 - offset);
        ascii(std::string_view(kSpaces + offset, step));
        pending -= step;
        offset = 1;  // the line end only once
    }
}

void OutputSink::literal(nb::handle text) {
    PyObject *str = text.ptr();
    std::string_view utf8;
    if (PyUnicode_IS_ASCII(str)) {
        utf8 = std::string_view(static_cast<const char *>(PyUnicode_DATA(str)),
                                static_cast<std::size_t>(PyUnicode_GET_LENGTH(str)));
    } else {
        Py_ssize_t size = 0;
        const char *data = PyUnicode_AsUTF8AndSize(str, &size);
        if (!data)
            nb::raise_python_error();
        utf8 = std::string_view(data, static_cast<std::size_t>(size));
    }
    // A huge literal goes out as it is rather than being copied again.
    if (utf8.size() < kChunkSize) {
        ascii(utf8);
        return;
    }
    flush();
    write_(text);
}

// The piece does not fit what is free: grow the buffer up to a chunk, and
// past that send the buffer out first. An ASCII piece longer than a chunk
// goes out in chunk-sized parts.
void OutputSink::spill(std::string_view piece) {
    if (buffer_.size() < kChunkSize) {
        std::size_t wanted =
            std::max({buffer_.size() * 2, used_ + piece.size(), std::size_t{4096}});
        buffer_.resize(std::min(wanted, kChunkSize));
    }
    while (piece.size() > buffer_.size() - used_) {
        if (used_ == 0) {
            std::size_t step = buffer_.size();
            std::memcpy(buffer_.data(), piece.data(), step);
            used_ = step;
            piece.remove_prefix(step);
        }
        flush();
    }
    std::memcpy(buffer_.data() + used_, piece.data(), piece.size());
    used_ += piece.size();
}

void OutputSink::flush() {
    if (used_ == 0)
        return;
    // A long layout stays interruptible, as the stdlib's is between writes.
    if (PyErr_CheckSignals() < 0)
        nb::raise_python_error();
    nb::object chunk =
        nb::steal(PyUnicode_DecodeUTF8(buffer_.data(), static_cast<Py_ssize_t>(used_), "strict"));
    if (!chunk.is_valid())
        nb::raise_python_error();
    used_ = 0;
    write_(chunk);
}

}  // namespace harborsweep
