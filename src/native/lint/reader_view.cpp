// Which error read_file() raises first is a matter of when the file object
// meets it: it decodes the file in chunks (8 KiB), and a line is read only
// once the chunk holding its end is decoded (a lone "\r" waits for the
// character after it), so an undecodable byte stops the reader after the
// lines of the chunks before its own. The reader notes every mistake with
// its line; the first that stops it, or the decoding failure if the reader
// has not met one by then, or at the end the parsing errors, is raised.
#include "lint/reader_view.hpp"

#include <nanobind/stl/string.h>

#include "lint/codec_decoding.hpp"
#include "lint/file_bytes.hpp"
#include "lint/ini_reader.hpp"
#include "lint/interpolation.hpp"
#include "lint/utf8_decoding.hpp"

namespace nb = nanobind;

namespace harborsweep::lint {
namespace {

const char *read_error_class(ReadError error) {
    switch (error) {
    case ReadError::unicode_decode:
        return "UnicodeDecodeError";
    case ReadError::missing_header:
        return "MissingSectionHeaderError";
    case ReadError::duplicate_section:
        return "DuplicateSectionError";
    case ReadError::duplicate_option:
        return "DuplicateOptionError";
    case ReadError::parsing:
        return "ParsingError";
    }
    return "Error";
}

// Where UTF-8 text decoded in chunks stands when the chunk that holds byte
// `decided_at` is read: at that chunk's start, or before a character whose
// bytes the boundary cuts (the decoder keeps those back).
size_t utf8_decoded_end(const std::string &bytes, size_t decided_at, size_t chunk_size) {
    const size_t start = decided_at / chunk_size * chunk_size;
    size_t p = start;
    while (p > 0 && start - p < 3 && (static_cast<unsigned char>(bytes[p - 1]) & 0xC0) == 0x80)
        --p;
    if (p == 0)
        return start;
    const size_t need = utf8_continuations(static_cast<unsigned char>(bytes[p - 1]));
    return p - 1 + need + 1 > start ? p - 1 : start;
}

// Where the decoded text stands when an incremental decoder of the codec
// fails: the start of the chunk it fails on, less the bytes it holds back.
size_t codec_decoded_end(const std::string &bytes, const Decoding &decoding) {
    nb::object decoder =
        nb::module_::import_("codecs").attr("getincrementaldecoder")(decoding.name.c_str())();
    const size_t chunk = decoding.chunk_size;
    for (size_t offset = 0;; offset += chunk) {
        const size_t begin = std::min(bytes.size(), offset);
        const size_t end = std::min(bytes.size(), offset + chunk);
        const size_t held = nb::len(nb::object(decoder.attr("getstate")()[0]));
        try {
            // An empty chunk is the end of the file: the final decode.
            decoder.attr("decode")(nb::bytes(bytes.data() + begin, end - begin),
                                   nb::bool_(begin == end));
        } catch (nb::python_error &error) {
            if (!error.matches(PyExc_UnicodeError))
                throw;
            return begin >= held ? begin - held : 0;
        }
        if (begin == end)
            return bytes.size();
    }
}

// The lines that bytes[0, end) ends in an encoding where line ends are the
// bytes "\r" and "\n"; a "\r" last waits for the character after it.
size_t lines_ended(const std::string &bytes, size_t end) {
    size_t count = 0;
    for (size_t i = 0; i < end; ++i) {
        if (bytes[i] == '\n')
            ++count;
        else if (bytes[i] == '\r' && i + 1 < end && bytes[i + 1] != '\n')
            ++count;
    }
    return count;
}

// How many lines the reader reads before the decoding failure stops it.
size_t lines_read_first(const std::string &bytes, const Decoding &decoding,
                        const DecodeFailure &failure) {
    switch (decoding.kind) {
    case Decoding::Kind::utf8:
        // A sequence cut by the end of the file fails at the final decode.
        return lines_ended(bytes,
                           failure.decided_at >= bytes.size()
                               ? failure.byte_offset
                               : utf8_decoded_end(bytes, failure.decided_at, decoding.chunk_size));
    case Decoding::Kind::ascii:
    case Decoding::Kind::latin1:
        return lines_ended(bytes, failure.byte_offset / decoding.chunk_size * decoding.chunk_size);
    case Decoding::Kind::other:
        break;
    }
    return codec_lines_ended(bytes, decoding, codec_decoded_end(bytes, decoding));
}

nb::object first_raised(const IniFile &file, const std::string &bytes, const Decoding &decoding) {
    const size_t read_first =
        file.decode_failure ? lines_read_first(bytes, decoding, *file.decode_failure) : SIZE_MAX;
    for (const IniProblem &problem : file.problems)
        if (problem.kind != ReadError::parsing && problem.line <= read_first)
            return nb::make_tuple(read_error_class(problem.kind), problem.line);
    if (file.decode_failure)
        return nb::make_tuple(read_error_class(ReadError::unicode_decode), 0);
    for (const IniProblem &problem : file.problems)
        return nb::make_tuple(read_error_class(problem.kind), problem.line);
    return nb::none();
}

nb::list option_list(const IniSection &section) {
    nb::list options;
    for (const IniOption &option : section.options)
        options.append(nb::make_tuple(to_python(option.name), to_python(option.value)));
    return options;
}

nb::dict values_of(const IniFile &file, const IniSection &section) {
    nb::dict values;
    uint64_t kept = UINT64_MAX;
    Interpolator interpolator(file, section, kept);
    auto add = [&](const IniOption &option) {
        const Interpolated value = interpolator.get(option);
        if (value.error == InterpolationError::none)
            values[to_python(option.name)] = to_python(value.value);
        else
            values[to_python(option.name)] = nb::make_tuple(interpolation_error_class(value.error));
    };
    for (const IniOption &option : section.options)
        add(option);
    for (const IniOption &option : file.defaults.options)
        if (!section.find(option.name))
            add(option);
    return values;
}

}  // namespace

nb::dict reader_view(nb::handle path, nb::handle encoding) {
    nb::bytes encoded = nb::cast<nb::bytes>(nb::module_::import_("os").attr("fsencode")(path));
    FileBytes bytes = read_file_bytes(std::string(encoded.c_str(), encoded.size()));
    if (bytes.failure || bytes.not_regular || bytes.too_large)
        throw nb::value_error("not a readable regular file");
    const Decoding decoding = decoding_of_open(encoding);
    const IniFile file = read_ini(bytes.bytes, decoding);
    nb::dict view;
    nb::list sections;
    nb::dict options, values;
    for (const IniSection &section : file.sections) {
        sections.append(to_python(section.name));
        options[to_python(section.name)] = option_list(section);
        values[to_python(section.name)] = values_of(file, section);
    }
    view["sections"] = sections;
    view["options"] = options;
    view["defaults"] = option_list(file.defaults);
    view["values"] = values;
    view["raised"] = first_raised(file, bytes.bytes, decoding);
    return view;
}

}  // namespace harborsweep::lint
