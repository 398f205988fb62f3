// Message pieces. Values quoted in a message are kept to one short line, so
// that a finding stays one line however long the value.
#include "lint/messages.hpp"

#include "lint/near_names.hpp"

namespace harborsweep::lint {
namespace {

constexpr size_t kLongestQuoted = 60;

// The word of `text` around `offset`, every lone "%" in it doubled.
Text doubled_percents(TextView text, size_t offset) {
    size_t begin = offset, end = offset;
    while (begin > 0 && !is_space(text[begin - 1]))
        --begin;
    while (end < text.size() && !is_space(text[end]))
        ++end;
    Text word;
    for (size_t i = begin; i < end; ++i) {
        word += text[i];
        if (text[i] != U'%')
            continue;
        if (i + 1 < end && (text[i + 1] == U'%' || text[i + 1] == U'('))
            word += text[++i];
        else
            word += U'%';
    }
    return word;
}

// The reference as written, up to the first blank or ")" and "s".
TextView written_reference(TextView rest) {
    size_t end = 2;
    while (end < rest.size() && !is_space(rest[end]) && end < 40) {
        if (rest[end] == U')') {
            ++end;
            break;
        }
        ++end;
    }
    return rest.substr(0, std::min(end, rest.size()));
}

std::vector<Text> option_names(const IniFile &file) {
    std::vector<Text> names;
    for (const IniSection &section : file.sections)
        for (const IniOption &option : section.options)
            names.push_back(option.name);
    for (const IniOption &option : file.defaults.options)
        names.push_back(option.name);
    return names;
}

Explanation explain_syntax(const Interpolated &value, const Text &owner) {
    const std::string where =
        value.at == owner ? "" : " in " + quoted(value.at) + ", which this value refers to,";
    if (!value.bad_reference)
        return {"a lone `%`" + where, "InterpolationSyntaxError",
                "write " + quoted(doubled_percents(value.at_value, value.offset))};
    TextView written = written_reference(value.rest);
    Text name(written.substr(2));
    while (!name.empty() && (name.back() == U')' || name.back() == U's'))
        name.pop_back();
    return {"the unfinished reference " + quoted(written) + where, "InterpolationSyntaxError",
            "write " + quoted(U"%(" + name + U")s") + ", or `%%` for a percent sign"};
}

}  // namespace

std::string quoted(TextView text) {
    std::string out = "`";
    size_t shown = 0;
    for (char32_t c : text) {
        if (++shown > kLongestQuoted) {
            out += "...";
            break;
        }
        if (c == U'\n')
            out += "\\n";
        else if (c == U'`')
            out += "'";
        else
            out += to_utf8(TextView(&c, 1));
    }
    return out + "`";
}

std::string quoted(std::string_view ascii) { return quoted(from_ascii(ascii)); }

Explanation explain(const Interpolated &value, const Text &owner, const IniFile &file) {
    switch (value.error) {
    case InterpolationError::syntax:
        return explain_syntax(value, owner);
    case InterpolationError::missing_option: {
        std::string mend = "define " + quoted(value.missing) + " in this section or in [DEFAULT]";
        if (auto near = near_name(value.missing, option_names(file)))
            mend += ", or write " + quoted(U"%(" + *near + U")s");
        return {quoted(U"%(" + value.missing + U")s") +
                    ", which names no option of this section or of [DEFAULT],",
                "InterpolationMissingOptionError", mend};
    }
    case InterpolationError::depth:
        return {"references nested more than 10 deep (through " + quoted(value.at) +
                    "; does one refer back to itself?)",
                "InterpolationDepthError", "break the loop of references"};
    case InterpolationError::too_large:
        return {"references that multiply into more than 16 million characters", "MemoryError",
                "refer to fewer or shorter values"};
    case InterpolationError::none:
        break;
    }
    return {"", "", ""};
}

}  // namespace harborsweep::lint
