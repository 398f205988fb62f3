// Values as ConfigParser's get() gives them: "%(name)s" replaced by the
// named option of the same section or of [DEFAULT], itself interpolated, at
// most 10 deep; "%%" for one "%"; anything else after "%" an error.
#pragma once

#include "lint/ini_file.hpp"

namespace harborsweep::lint {

enum class InterpolationError {
    none,
    syntax,          // InterpolationSyntaxError
    missing_option,  // InterpolationMissingOptionError
    depth,           // InterpolationDepthError
    too_large,       // the expansion outgrows what is worth checking
};

const char *python_class_of(InterpolationError error);

struct Interpolated {
    Text value;
    InterpolationError error = InterpolationError::none;
    bool bad_reference = false;  // syntax: "%(" not closed by ")s"
    Text rest;     // syntax: the text from the "%" on
    Text missing;  // missing_option: the name referred to
    bool unchecked = false;  // too_large: the file's budget was spent before this value
    Text at;            // the option whose value holds the mistake
    Text at_value;      // that value, as written
    size_t offset = 0;  // where in it the mistake starts
};

// What the interpolations of one file may produce in all, in characters
// produced and references followed. A value whose references multiply
// (a = %(b)s%(b)s, b = %(c)s%(c)s, ...) would take the run's memory or time;
// past the budget the linter gives up on it, and on the file's later ones.
struct ExpansionBudget {
    static constexpr size_t kBase = size_t{1} << 24;
    size_t left;
    // Enough for every value of a file of `size` bytes read a few times over.
    static ExpansionBudget for_file(size_t size) { return {kBase + 4 * size}; }
};

// The value of `option` of `section` (or of [DEFAULT] for a section of that
// name), interpolated.
Interpolated interpolate(const IniFile &file, const IniSection &section, const IniOption &option,
                         ExpansionBudget &budget);

}  // namespace harborsweep::lint
