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

// Where each name stands in a list of named things (options, sections):
// found by scanning while the list is short, through a hash table once it is
// long, so that a small file allocates nothing for it and a large one still
// looks names up in constant time. Names in the list are distinct.
class NameIndex {
public:
    template <typename Items>
    std::optional<size_t> find(const Text &name, const Items &items) const {
        if (!table_.empty()) {
            auto found = table_.find(name);
            return found == table_.end() ? std::nullopt : std::optional<size_t>(found->second);
        }
        for (size_t i = 0; i < items.size(); ++i)
            if (items[i].name == name)
                return i;
        return std::nullopt;
    }

    // After an item has been appended to `items`.
    template <typename Items>
    void added(const Items &items) {
        if (items.size() <= kScanned)
            return;
        if (table_.empty())
            for (size_t i = 0; i + 1 < items.size(); ++i)
                table_.emplace(items[i].name, i);
        table_.emplace(items.back().name, items.size() - 1);
    }

private:
    static constexpr size_t kScanned = 16;
    std::unordered_map<Text, size_t> table_;
};

struct IniOption {
    Text name;   // lowercased, as optionxform() leaves it
    Text value;  // its lines joined with "\n", trailing whitespace dropped
    size_t line = 0, name_column = 0, value_column = 0;
    size_t first_line_end = 0;  // the length of the value's first line
};

struct IniSection {
    Text name;
    size_t line = 0, column = 0;  // of the header; 0 for a [DEFAULT] never written
    std::vector<IniOption> options;
    NameIndex index;

    const IniOption *find(const Text &name) const {
        const std::optional<size_t> found = index.find(name, options);
        return found ? &options[*found] : nullptr;
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

    NameIndex index;  // of the sections

    const IniSection *section(const Text &name) const {
        const std::optional<size_t> found = index.find(name, sections);
        return found ? &sections[*found] : nullptr;
    }
};

}  // namespace harborsweep::lint
