// Decoding through the interpreter's codecs: the whole text with each bad
// part replaced, for the lines; the first failure of a strict decode, for
// where it is; and an incremental decoder fed the file object's chunks, for
// how much the run reads before the failure stops it.
#include "lint/codec_decoding.hpp"

#include <nanobind/stl/string.h>

namespace harborsweep::lint {
namespace {

nb::bytes as_bytes(const std::string &bytes, size_t begin, size_t end) {
    return nb::bytes(bytes.data() + begin, end - begin);
}

void split_into_lines(nb::handle text, SourceText &out) {
    LineSplitter lines(out);
    for (char32_t c : from_python(text))
        lines.push(c, 0);
    lines.finish();
}

// Lines, and the column after the last one's text, of a decoded prefix.
struct Position {
    size_t ended_lines = 0, column = 1;
    bool ends_with_cr = false;
};

Position position_after(const Text &prefix) {
    Position at;
    for (size_t i = 0; i < prefix.size(); ++i) {
        const char32_t c = prefix[i];
        if (c == U'\n' || (c == U'\r' && i + 1 < prefix.size() && prefix[i + 1] != U'\n')) {
            ++at.ended_lines;
            at.column = 1;
        } else if (c != U'\r') {
            ++at.column;
        }
    }
    at.ends_with_cr = !prefix.empty() && prefix.back() == U'\r';
    if (at.ends_with_cr) {  // a line of its own when read to the end
        ++at.ended_lines;
        at.column = 1;
    }
    return at;
}

Text decode_prefix(nb::handle codec_name, const std::string &bytes, size_t end) {
    return from_python(as_bytes(bytes, 0, end).attr("decode")(codec_name, "replace"));
}

// Where the decoded text stands when the incremental decoder fails: the
// start of the chunk it fails on, less the bytes it was holding back.
size_t decoded_end_at_failure(nb::handle codec_name, const std::string &bytes, size_t chunk) {
    nb::object codecs = nb::module_::import_("codecs");
    nb::object decoder = codecs.attr("getincrementaldecoder")(codec_name)();
    for (size_t offset = 0;; offset += chunk) {
        const size_t begin = std::min(bytes.size(), offset);
        const size_t end = std::min(bytes.size(), offset + chunk);
        const size_t held = nb::len(nb::object(decoder.attr("getstate")()[0]));
        try {
            // An empty chunk is the end of the file: the final decode.
            decoder.attr("decode")(as_bytes(bytes, begin, end), nb::bool_(begin == end));
        } catch (nb::python_error &error) {
            if (!error.matches(PyExc_UnicodeError))
                throw;
            return begin >= held ? begin - held : 0;
        }
        if (begin == end)
            return bytes.size();
    }
}

}  // namespace

void decode_with_codec(const std::string &bytes, const Decoding &decoding, SourceText &out) {
    nb::str name(decoding.name.c_str());
    nb::bytes data = as_bytes(bytes, 0, bytes.size());
    split_into_lines(data.attr("decode")(name, "replace"), out);
    size_t start = 0;
    std::string reason;
    try {
        data.attr("decode")(name);
        return;
    } catch (nb::python_error &error) {
        // A codec may fail with a UnicodeError of its own, without a place.
        if (!error.matches(PyExc_UnicodeError))
            throw;
        nb::object value = nb::borrow(error.value());
        start = nb::cast<size_t>(nb::getattr(value, "start", nb::int_(0)));
        reason = nb::cast<std::string>(nb::str(nb::getattr(value, "reason", value)));
    }
    const Position at = position_after(decode_prefix(name, bytes, start));
    DecodeFailure failure{
        start, static_cast<unsigned char>(bytes[start]), reason, at.ended_lines + 1, at.column, 0};
    const size_t decoded_end = decoded_end_at_failure(name, bytes, decoding.chunk_size);
    const Position read = position_after(decode_prefix(name, bytes, decoded_end));
    // A "\r" at the end of the decoded text waits for the character after it.
    failure.lines_read_first = read.ended_lines - (read.ends_with_cr ? 1 : 0);
    out.failure = failure;
}

}  // namespace harborsweep::lint
