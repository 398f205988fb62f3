// A check file as configparser reads it, with where each thing was written:
// its sections in order, the [DEFAULT] section apart, each option's name
// (lowercased) and its value as joined from its lines; every mistake the
// reader meets, in line order; and the indented lines that continue a value
// while they read like a line of their own.
#pragma once

#include <nanobind/nanobind.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "lint/line_splitter.hpp"
#include "lint/stable_list.hpp"
#include "lint/unicode_text.hpp"

namespace harborsweep::lint {

// Where each name stands in a list of named things (options, sections):
// found by scanning while the list is short, through an open-addressed
// table of positions once it is long, so that a small file allocates
// nothing for it and a large one still looks names up in constant time.
// Names in the list are distinct.
class NameIndex {
public:
    template <typename Items>
    std::optional<size_t> find(TextView name, const Items &items) const {
        if (slots_.empty()) {
            for (size_t i = 0; i < items.size(); ++i)
                if (items[i].name == name)
                    return i;
            return std::nullopt;
        }
        const size_t mask = slots_.size() - 1;
        for (size_t at = hash(name) & mask;; at = (at + 1) & mask) {
            if (slots_[at] == 0)
                return std::nullopt;
            if (items[slots_[at] - 1].name == name)
                return slots_[at] - 1;
        }
    }

    // After an item has been appended to `items`.
    template <typename Items>
    void added(const Items &items) {
        if (items.size() <= kScanned)
            return;
        if (items.size() * 2 <= slots_.size()) {
            place(items, items.size() - 1);
            return;
        }
        slots_.assign(std::max<size_t>(64, slots_.size() * 4), 0);
        for (size_t i = 0; i < items.size(); ++i)
            place(items, i);
    }

private:
    static constexpr size_t kScanned = 16;

    static size_t hash(TextView name) { return std::hash<TextView>{}(name); }

    template <typename Items>
    void place(const Items &items, size_t i) {
        const size_t mask = slots_.size() - 1;
        size_t at = hash(items[i].name) & mask;
        while (slots_[at] != 0)
            at = (at + 1) & mask;
        slots_[at] = static_cast<uint32_t>(i + 1);
    }

    std::vector<uint32_t> slots_;  // an item's position + 1; 0 where empty
};

// Lines, columns and offsets fit 32 bits: no file larger than 256 MiB is read.
struct IniOption {
    TextView name;   // lowercased, as optionxform() leaves it
    TextView value;  // its lines joined with "\n", trailing whitespace dropped
    // (both kept in IniFile::texts)
    uint32_t line = 0, name_column = 0, value_column = 0;
    uint32_t first_line_end = 0;  // the length of the value's first line
    bool name_folded = false;   // written with capitals that the reader lowered
    bool has_percent = false;   // get() interpolates it
    // Where the interpolator of that number keeps its summary of the value
    // (in the room the fields above leave).
    mutable uint16_t memo_generation = 0;
    mutable uint32_t memo = 0;
};

struct IniSection {
    Text name;
    size_t line = 0, column = 0;  // of the header; 0 for a [DEFAULT] never written
    StableList<IniOption> options;
    NameIndex index;

    const IniOption *find(TextView name) const {
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

struct IniProblem {
    ReadError kind = ReadError::parsing;
    size_t line = 0, column = 0;
    Text name;              // the section or option, for duplicates
    size_t first_line = 0;  // where a duplicate was first written
    bool empty_name = false;  // a parsing error: a delimiter with no name before it
    bool byte_order_mark = false;  // a missing header: the line starts with U+FEFF
};

// An indented line that the reader adds to the value above it, though it
// reads like a section header or an option line of its own: in [default]
// only one that reads as `description` or `filters` (anything else under a
// description may well be meant as more of it).
struct IniContinuation {
    size_t line = 0, column = 0;
    bool header = false;  // "[...]"; else "name = value"
    Text written;         // the header, or the option's name lowercased
    Text option;          // the option whose value it joins
    size_t option_line = 0;
};

struct IniFile {
    // Moved, never copied: what points into it stays put.
    IniFile() = default;
    IniFile(IniFile &&) = default;
    IniFile &operator=(IniFile &&) = default;
    IniFile(const IniFile &) = delete;

    IniSection defaults;  // [DEFAULT]
    StableList<IniSection> sections;
    std::vector<IniProblem> problems;  // in line order; decoding not among them
    // The first of them, and how many more.
    std::vector<IniContinuation> continuations;
    size_t more_continuations = 0;
    TextStore texts;  // the options' names and values
    mutable uint16_t interpolations = 0;  // interpolators made for it, counted round
    std::optional<DecodeFailure> decode_failure;

    NameIndex index;  // of the sections

    const IniSection *section(TextView name) const {
        const std::optional<size_t> found = index.find(name, sections);
        return found ? &sections[*found] : nullptr;
    }

    // The option that `name` (lowercased) names for a value read in
    // `section`, as get() looks it up: the section's own, else [DEFAULT]'s.
    const IniOption *visible(const IniSection &in, TextView name) const {
        if (const IniOption *own = in.find(name))
            return own;
        return &in == &defaults ? nullptr : defaults.find(name);
    }
};

}  // namespace harborsweep::lint
