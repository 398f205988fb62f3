// Findings in values: one that fails to interpolate (an error where the run
// reads it from [quorvane], a warning where it reads it quietly), filter
// steps and keys that are empty, and output references that are not
// followed or are not references at all.
#include "lint/value_findings.hpp"

#include <utility>

#include "lint/messages.hpp"

namespace harborsweep::lint {
namespace {

using Position = std::pair<size_t, size_t>;

// Where the character at `offset` of an option's value was written: exact
// on the value's first line, the value's start further on.
Position value_position(const IniOption &option, size_t offset) {
    return {option.line, option.value_column + (offset > option.first_line_end ? 0 : offset)};
}

Position mistake_position(const IniOption &option, const Interpolated &value) {
    return value_position(option, value.at == option.name ? value.offset : 0);
}

Code interpolation_code(const Interpolated &value) {
    switch (value.error) {
    case InterpolationError::syntax:
        return value.bad_reference ? Code::bad_reference : Code::lone_percent;
    case InterpolationError::missing_option:
        return Code::missing_reference;
    case InterpolationError::depth:
        return Code::reference_depth;
    default:
        return Code::expansion_too_large;
    }
}

const IniOption &default_option(const CheckModel &check, const char *name) {
    const Text key = from_ascii(name);
    const IniOption *option = check.default_section->find(key);
    return option ? *option : *check.ini.defaults.find(key);
}

// A step of several keys ("a&b") with one of them empty ("a&", "a&&b").
bool has_empty_key(TextView step) {
    if (step.find(U'&') == TextView::npos)
        return false;
    for (size_t from = 0;;) {
        const size_t amp = step.find(U'&', from);
        if (strip(step.substr(from, amp == TextView::npos ? TextView::npos : amp - from)).empty())
            return true;
        if (amp == TextView::npos)
            return false;
        from = amp + 1;
    }
}

void find_empty_keys(const CheckModel &check, const IniOption &option, Findings &findings) {
    const Text &value = check.filters->value;
    const bool as_written = value == option.value;
    size_t start = 0;
    for (const Text &step : check.filter_steps) {
        const size_t at = as_written && !step.empty() ? value.find(step, start) : Text::npos;
        if (at != Text::npos)
            start = at + step.size();
        if (!has_empty_key(step) || !findings.take(check.path, Code::empty_filter_key))
            continue;
        const Position where = value_position(option, at == Text::npos ? 0 : at);
        findings.put(check.path, where.first, where.second, Code::empty_filter_key,
                     "the step " + quoted(step) +
                         " has an empty key: it is a step of several keys, one of them the "
                         "member named ''; remove the stray `&`");
    }
}

// "Output(x.cfg)", "output (x.cfg)", "output(x.cfg) and more": meant as a
// reference, sent as text. The mend keeps what stands between the brackets.
std::optional<Text> meant_reference(TextView value) {
    const Text folded = ascii_lower(value.substr(0, std::min<size_t>(value.size(), 64)));
    if (!starts_with(folded, "output"))
        return std::nullopt;
    size_t open = 6;
    while (open < folded.size() && is_space(folded[open]))
        ++open;
    if (open >= folded.size() || folded[open] != U'(')
        return std::nullopt;
    const size_t close = value.rfind(U')');
    const size_t end = close == TextView::npos || close < open ? value.size() : close;
    return U"output(" + Text(strip(value.substr(open + 1, end - open - 1))) + U")";
}

void find_in_field(const CheckModel &check, const RequestField &field, Findings &findings) {
    const IniOption &option = *field.option;
    if (field.value.unchecked)
        return;
    if (field.value.error != InterpolationError::none) {
        const Explanation why = explain(field.value, option.name, check.ini);
        const Position at = mistake_position(option, field.value);
        findings.add(check.path, at.first, at.second, interpolation_code(field.value),
                     why.what + " ends the run with " + why.error + "; " + why.mend);
        return;
    }
    const Position at = value_position(option, 0);
    if (!field.is_reference) {
        if (auto meant = meant_reference(field.value.value))
            findings.add(check.path, at.first, at.second, Code::near_output,
                         quoted(field.value.value) +
                             " is not an output reference, which starts with `output(` and "
                             "ends with `)` exactly: it is sent as plain text; write " +
                             quoted(*meant));
        return;
    }
    const OutputReference &followed = *check.reference;
    const RequestField &last = check.fields[followed.field];
    if (&field != &last) {
        findings.add(check.path, at.first, at.second, Code::ignored_output,
                     "only the last output reference of a check is followed (" +
                         quoted(last.option->name) + ", line " + std::to_string(last.option->line) +
                         "): " + quoted(option.name) + " is sent as the text " +
                         quoted(field.value.value) + "; give each reference a check of its own");
    } else if (followed.name.empty()) {
        findings.add(check.path, at.first, at.second, Code::empty_output_name,
                     "`output()` names no check file: the run opens the configuration "
                     "directory itself and ends with an error; name the check file to follow");
    }
}

}  // namespace

void find_in_description(const CheckModel &check, Findings &findings) {
    if (!check.description || check.description->error == InterpolationError::none ||
        check.description->unchecked)
        return;
    const IniOption &option = default_option(check, "description");
    const Explanation why = explain(*check.description, option.name, check.ini);
    const Position at = mistake_position(option, *check.description);
    findings.add(check.path, at.first, at.second, Code::description_unreadable,
                 "the description is not printed: " + why.what + " fails with " + why.error + "; " +
                     why.mend);
}

void find_in_filters(const CheckModel &check, Findings &findings) {
    if (!check.filters)
        return;
    const IniOption &option = default_option(check, "filters");
    if (check.filters->unchecked)
        return;
    if (check.filters->error != InterpolationError::none) {
        const Explanation why = explain(*check.filters, option.name, check.ini);
        const Position at = mistake_position(option, *check.filters);
        findings.add(check.path, at.first, at.second, Code::filters_unreadable,
                     "the filters are not applied, and the whole answer is printed: " + why.what +
                         " fails with " + why.error + "; " + why.mend);
        return;
    }
    const Position at = value_position(option, 0);
    if (check.filter_steps.size() == 1 && check.filter_steps[0].empty()) {
        findings.add(check.path, at.first, at.second, Code::empty_filter_step,
                     "`filters` is empty: the run applies one empty step, which looks up the "
                     "member named ''; remove the option to print the whole answer");
        return;
    }
    for (size_t i = 0; i < check.filter_steps.size(); ++i)
        if (check.filter_steps[i].empty() && findings.take(check.path, Code::empty_filter_step))
            findings.put(check.path, at.first, at.second, Code::empty_filter_step,
                         "filter step " + std::to_string(i + 1) +
                             " is empty (two commas, or one at an end): it looks up the member "
                             "named ''; remove the extra comma");
    find_empty_keys(check, option, findings);
}

void find_in_fields(const CheckModel &check, Findings &findings) {
    for (const RequestField &field : check.fields)
        find_in_field(check, field, findings);
}

}  // namespace harborsweep::lint
