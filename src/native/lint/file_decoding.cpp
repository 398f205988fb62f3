// Which decoder reads a check file: the one open() would use, asked of a
// file object opened on the null device, so that a locale, UTF-8 mode or an
// interpreter's own default all count as they do in the run.
#include "lint/file_decoding.hpp"

#include <nanobind/stl/string.h>

#include "bridge/python_support.hpp"
#include "lint/codec_decoding.hpp"
#include "lint/utf8_decoding.hpp"

namespace harborsweep::lint {

Decoding decoding_of_open(nb::handle encoding) {
    nb::object os = nb::module_::import_("os");
    nb::object file = nb::module_::import_("builtins")
                          .attr("open")(os.attr("devnull"), nb::arg("encoding") = encoding);
    Decoding decoding;
    use_then_close(file, [&] {
        nb::object codec = nb::module_::import_("codecs").attr("lookup")(file.attr("encoding"));
        decoding.name = nb::cast<std::string>(codec.attr("name"));
        decoding.chunk_size = nb::cast<size_t>(file.attr("_CHUNK_SIZE"));
        return nb::none();
    });
    if (decoding.chunk_size == 0)
        decoding.chunk_size = 8192;
    if (decoding.name == "utf-8")
        decoding.kind = Decoding::Kind::utf8;
    else if (decoding.name == "ascii")
        decoding.kind = Decoding::Kind::ascii;
    else if (decoding.name == "iso8859-1")
        decoding.kind = Decoding::Kind::latin1;
    else
        decoding.kind = Decoding::Kind::other;
    return decoding;
}

std::optional<DecodeFailure> decode_file(const std::string &bytes, const Decoding &decoding,
                                         LineSink &lines) {
    switch (decoding.kind) {
    case Decoding::Kind::utf8:
        return decode_utf8(bytes, lines);
    case Decoding::Kind::ascii:
    case Decoding::Kind::latin1:
        return decode_single_byte(bytes, decoding.kind == Decoding::Kind::ascii, lines);
    case Decoding::Kind::other:
        break;
    }
    return decode_with_codec(bytes, decoding, lines);
}

}  // namespace harborsweep::lint
