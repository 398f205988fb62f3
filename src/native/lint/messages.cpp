// Message pieces. Values quoted in a message are kept to one short line, so
// that a finding stays one line however long the value.
#include "lint/messages.hpp"

#include "lint/clean_reading.hpp"
#include "lint/near_names.hpp"

namespace harborsweep::lint {
namespace {

constexpr size_t kLongestQuoted = 60;

// The word of `text` around `offset` (no more of it than a message shows),
// every lone "%" in it doubled.
Text doubled_percents(TextView text, size_t offset) {
    constexpr size_t kAround = 64;
    size_t begin = offset, end = offset;
    while (begin > 0 && offset - begin < kAround && !is_space(text[begin - 1]))
        --begin;
    while (end < text.size() && end - offset < kAround && !is_space(text[end]))
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

Explanation explain_syntax(const Interpolated &value, const IniOption &owner,
                           const ReferableNames &names) {
    const Mistake &mistake = value.mistake();
    const std::string where =
        mistake.at == &owner ? ""
                             : " in " + quoted(mistake.at->name) + ", which this value refers to,";
    if (!mistake.bad_reference)
        return {"a lone `%`" + where, "InterpolationSyntaxError",
                "write " + quoted(doubled_percents(mistake.at->value, mistake.offset))};
    TextView written = written_reference(value.rest());
    Text name(written.substr(2));
    while (!name.empty() && (name.back() == U')' || name.back() == U's'))
        name.pop_back();
    const std::string what = "the unfinished reference " + quoted(written) + where;
    if (strip(name).empty())
        return {what, "InterpolationSyntaxError",
                "write the name of an option between `%(` and `)s`, or `%%` for a percent sign"};
    const std::string meant = quoted(U"%(" + name + U")s");
    if (!names.has(lower(name)))
        return {what, "InterpolationSyntaxError",
                "write " + meant + " and define " + quoted(name) +
                    " in this section or in [DEFAULT], or `%%` for a percent sign"};
    return {what, "InterpolationSyntaxError", "write " + meant + ", or `%%` for a percent sign"};
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

bool ReferableNames::has(TextView name) const { return file_.visible(section_, name) != nullptr; }

std::optional<Text> ReferableNames::near(TextView written, const Interpolated &value,
                                         const IniOption &owner) {
    if (!gathered_) {
        gathered_ = true;
        for (const IniOption &option : section_.options)
            names_.push_back(option.name);
        if (&section_ != &file_.defaults)
            for (const IniOption &option : file_.defaults.options)
                if (!section_.find(option.name))
                    names_.push_back(option.name);
        // Enough to compare each name letter by letter a few times: a few
        // searches through many names, or many through a few.
        budget_ = 4 * names_.size() + 4096;
    }
    const TextView at = value.mistake().at ? TextView(value.mistake().at->name) : TextView();
    std::optional<Text> near = near_name(written, names_, budget_, {owner.name, at});
    if (!near)
        return near;
    const IniOption *named = file_.visible(section_, *near);
    // A value that takes long to check is not suggested either.
    if (!reads_cleanly(file_, section_, *named, 4096))
        return std::nullopt;
    return near;
}

Explanation explain(const Interpolated &value, const IniOption &owner, ReferableNames &names) {
    switch (value.error) {
    case InterpolationError::syntax:
        return explain_syntax(value, owner, names);
    case InterpolationError::missing_option: {
        const Text missing = value.missing();
        std::string mend = "define " + quoted(missing) + " in this section or in [DEFAULT]";
        if (auto near = names.near(missing, value, owner))
            mend += ", or write " + quoted(U"%(" + *near + U")s");
        return {quoted(U"%(" + missing + U")s") +
                    ", which names no option of this section or of [DEFAULT],",
                "InterpolationMissingOptionError", mend};
    }
    case InterpolationError::depth:
        return {"references nested more than 10 deep (through " + quoted(value.mistake().at->name) +
                    "; does one refer back to itself?)",
                "InterpolationDepthError", "break the loop of references"};
    case InterpolationError::too_large:
        if (value.mistake().by_references)
            return {"references that multiply into more than 16 million lookups",
                    "a minute's work or more, if not MemoryError",
                    "refer to fewer values, or to values with fewer references"};
        return {"references that multiply into more than 4 thousand million characters",
                "MemoryError", "refer to fewer or shorter values"};
    case InterpolationError::none:
        break;
    }
    return {"", "", ""};
}

}  // namespace harborsweep::lint
