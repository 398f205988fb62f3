// Values as ConfigParser's get() gives them: "%(name)s" replaced by the
// named option of the same section or of [DEFAULT], itself interpolated, at
// most 10 deep; "%%" for one "%"; anything else after "%" an error. Each
// value's cost is the run's, value by value; the linter's own is linear in
// the file, however the references multiply.
#pragma once

#include <nanobind/nanobind.h>

#include <cstdint>
#include <memory>

#include "lint/ini_file.hpp"

namespace harborsweep::lint {

// How deep references may nest, as the run's get() allows.
constexpr int kMaxInterpolationDepth = 10;

enum class InterpolationError : uint8_t {
    none,
    syntax,          // InterpolationSyntaxError
    missing_option,  // InterpolationMissingOptionError
    depth,           // InterpolationDepthError
    too_large,       // references that multiply past what the run can hold or finish
};

const char *interpolation_error_class(InterpolationError error);

// What get() reads at a "%" of a value: "%%", a reference "%(name)s", a "%"
// followed by neither, or a "%(" not closed by ")s" (an empty name included).
struct PercentPart {
    enum class Kind : uint8_t { escape, reference, lone, bad_reference } kind;
    size_t end = 0;  // escape and reference: where the text after it starts
    TextView name;   // reference: the name as written
};

PercentPart percent_part(TextView text, size_t percent);

// Where a value's expansion fails.
struct Mistake {
    const IniOption *at = nullptr;  // the option whose value holds the mistake
    uint32_t offset = 0;            // where in that value it starts
    uint32_t name_length = 0;       // missing_option: the name as written after "%("
    bool bad_reference = false;     // syntax: "%(" not closed by ")s"
    bool by_references = false;     // too_large: by the references followed
};

// Kept for every request field of a file: small, its rarer parts apart.
struct Interpolated {
    InterpolationError error = InterpolationError::none;
    bool whole = true;    // `value` is the whole value, not only its start
    char32_t last = 0;    // the value's last character; 0 when it is empty
    uint64_t length = 0;  // the value's length in characters
    TextView value;       // the value (an error's is empty)
    std::unique_ptr<char32_t[]> own;  // holds `value` unless it is an option's own text
    std::unique_ptr<Mistake> where;   // where an error lies

    const Mistake &mistake() const {
        static const Mistake none;
        return where ? *where : none;
    }
    // syntax: the value holding the mistake, from its "%" on.
    TextView rest() const;
    // missing_option: the name looked up, lowercased.
    Text missing() const;
};

// The values as read in one section (its options and [DEFAULT]'s), each
// option's expansion worked out once and reused wherever it is referred to.
// One at a time for a file: it keeps its summaries' places in the options.
class Interpolator {
public:
    // `kept`: how many characters' work of values the file may still keep
    // whole, shared by the file's interpolators; a value past it keeps only
    // its first characters.
    Interpolator(const IniFile &file, const IniSection &section, uint64_t &kept);
    ~Interpolator();

    Interpolated get(const IniOption &option);
    // Kept whole if that takes at most `most` characters' work.
    Interpolated get_whole(const IniOption &option, uint64_t most);

private:
    struct State;
    std::unique_ptr<State> state_;
};

// What a file keeps whole of its values: as much again as the file, and a
// little more.
inline uint64_t kept_for_file(size_t size) { return (uint64_t{1} << 20) + uint64_t{size}; }

}  // namespace harborsweep::lint
