// A check file as configparser reads it, with where each thing was written:
// its sections in order, the [DEFAULT] section apart, each option's name
// (lowercased) and its value as joined from its lines; and every mistake
// the reader meets, in line order, with the one read_file() raises first.
#pragma once

#include <nanobind/nanobind.h>

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "lint/unicode_text.hpp"

namespace harborsweep::lint {

struct IniOption {
    Text name;   // lowercased, as optionxform() leaves it
    Text value;  // its lines joined with "\n", trailing whitespace dropped
    size_t line = 0, name_column = 0, value_column = 0;
};

struct IniSection {
    Text name;
    size_t line = 0, column = 0;  // of the header; 0 for a [DEFAULT] never written
    std::vector<IniOption> options;
    std::unordered_map<Text, size_t> index;  // option name -> place in options

    const IniOption *find(const Text &name) const {
        auto found = index.find(name);
        return found == index.end() ? nullptr : &options[found->second];
    }
};

// What read_file() raises, by class.
enum class ReadError {
    unicode_decode,   // UnicodeDecodeError, from the file object
    missing_header,   // MissingSectionHeaderError
    duplicate_section,
    duplicate_option,
    parsing,  // ParsingError: every line without a delimiter, or without a name
};

const char *python_class_of(ReadError error);

struct IniProblem {
    ReadError kind = ReadError::parsing;
    size_t line = 0, column = 0;
    Text name;              // the section or option, for duplicates
    size_t first_line = 0;  // where a duplicate was first written
    bool empty_name = false;  // a parsing error: a delimiter with no name before it
    bool byte_order_mark = false;  // a missing header: the line starts with U+FEFF
};

struct IniFile {
    IniSection defaults;  // [DEFAULT]
    std::vector<IniSection> sections;
    std::vector<IniProblem> problems;  // in line order; decoding not among them
    // What read_file() raises: the first problem that stops the reader where
    // it stands, or one that the file object meets first, or at the end the
    // parsing errors (the first of them named here).
    std::optional<ReadError> raised;
    size_t raised_line = 0;  // 0 for a decoding failure

    std::unordered_map<Text, size_t> index;  // section name -> place in sections

    const IniSection *section(const Text &name) const {
        auto found = index.find(name);
        return found == index.end() ? nullptr : &sections[found->second];
    }
};

}  // namespace harborsweep::lint
