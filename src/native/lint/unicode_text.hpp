// Text as the linter holds it: code points, the way Python's str sees them,
// with the whitespace, case and encodings of Python's own rules.
#pragma once

#include <nanobind/nanobind.h>

#include <string>
#include <string_view>

namespace nb = nanobind;

namespace harborsweep::lint {

using Text = std::u32string;
using TextView = std::u32string_view;

// str.isspace(): what str.strip() removes and what \s matches in a pattern.
constexpr bool is_space(char32_t c) {
    if (c < 0x80)
        return (c >= 0x09 && c <= 0x0D) || (c >= 0x1C && c <= 0x20);
    return c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 ||
           c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

TextView strip(TextView text);
TextView rstrip(TextView text);

// str.lower(): ASCII here, anything else by the interpreter's own tables
// (its Unicode version, the final sigma).
Text lower(TextView text);
// A..Z lowered, every other character kept: for comparing names loosely.
Text ascii_lower(TextView text);

Text from_ascii(std::string_view text);
Text from_python(nb::handle text);
nb::str to_python(TextView text);

// UTF-8 for messages: a lone surrogate becomes U+FFFD.
std::string to_utf8(TextView text);
// The file-system bytes of a path, as os.fsencode gives them (UTF-8 with
// surrogateescape).
std::string to_fs_bytes(TextView text);

bool starts_with(TextView text, std::string_view ascii);
bool ends_with(TextView text, std::string_view ascii);

}  // namespace harborsweep::lint
