// Decoding through the interpreter's codecs: the whole text with each bad
// part replaced, for the lines; the first failure of a strict decode, for
// where it is.
#include "lint/codec_decoding.hpp"

#include <nanobind/stl/string.h>

namespace harborsweep::lint {
namespace {

nb::bytes as_bytes(const std::string &bytes, size_t begin, size_t end) {
    return nb::bytes(bytes.data() + begin, end - begin);
}

void split_into_lines(nb::handle text, LineSink &sink) {
    LineSplitter lines(sink);
    for (char32_t c : from_python(text))
        lines.push(c);
    lines.finish();
}

// Lines, and the column after the last one's text, of a decoded prefix.
struct DecodedPosition {
    size_t ended_lines = 0, column = 1;
    bool ends_with_cr = false;
};

DecodedPosition position_after(const Text &prefix) {
    DecodedPosition at;
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

}  // namespace

std::optional<DecodeFailure> decode_with_codec(const std::string &bytes, const Decoding &decoding,
                                               LineSink &sink) {
    nb::str name(decoding.name.c_str());
    nb::bytes data = as_bytes(bytes, 0, bytes.size());
    split_into_lines(data.attr("decode")(name, "replace"), sink);
    size_t start = 0;
    std::string reason;
    try {
        data.attr("decode")(name);
        return std::nullopt;
    } catch (nb::python_error &error) {
        // A codec may fail with a UnicodeError of its own, without a place.
        if (!error.matches(PyExc_UnicodeError))
            throw;
        nb::object value = nb::borrow(error.value());
        start = nb::cast<size_t>(nb::getattr(value, "start", nb::int_(0)));
        reason = nb::cast<std::string>(nb::str(nb::getattr(value, "reason", value)));
    }
    const DecodedPosition at = position_after(decode_prefix(name, bytes, start));
    return DecodeFailure{start,     static_cast<unsigned char>(bytes[start]),
                         reason,    at.ended_lines + 1,
                         at.column, start};
}

size_t codec_lines_ended(const std::string &bytes, const Decoding &decoding, size_t end) {
    const DecodedPosition read =
        position_after(decode_prefix(nb::str(decoding.name.c_str()), bytes, end));
    // A "\r" at the end of the decoded text waits for the character after it.
    return read.ended_lines - (read.ends_with_cr ? 1 : 0);
}

}  // namespace harborsweep::lint
