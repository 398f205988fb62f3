// Findings in values: one that fails to interpolate (an error where the run
// reads it from [quorvane], a warning where it reads it quietly), filter
// steps and keys that are empty, output references that are not followed
// or are not references at all, comments written after a value, and
// fields sent under another name. A message, and
// any name it suggests, is built only for the findings given.
#include "lint/value_findings.hpp"

#include <utility>

#include "lint/interrupts.hpp"
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
    return value_position(option, value.mistake().at == &option ? value.mistake().offset : 0);
}

Code interpolation_code(const Interpolated &value) {
    switch (value.error) {
    case InterpolationError::syntax:
        return value.mistake().bad_reference ? Code::bad_reference : Code::lone_percent;
    case InterpolationError::missing_option:
        return Code::missing_reference;
    case InterpolationError::depth:
        return Code::reference_depth;
    default:
        return Code::expansion_too_large;
    }
}

const IniOption &default_option(const CheckModel &check, const char *name) {
    return *check.ini.visible(*check.default_section, from_ascii(name));
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
    const TextView value = check.filters->value;
    const bool as_written = value == TextView(option.value);
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

// Where a comment written after a value starts: a "#" or ";" after a blank
// (configparser takes none: it is part of the value).
size_t inline_comment(TextView value) {
    for (size_t i = 1; i < value.size(); ++i)
        if ((value[i] == U'#' || value[i] == U';') && is_space(value[i - 1]))
            return i;
    return TextView::npos;
}

void find_inline_comment(const CheckModel &check, const IniOption &option, const char *what,
                         Findings &findings) {
    const size_t at = inline_comment(option.value);
    if (at == TextView::npos || !findings.take(check.path, Code::inline_comment))
        return;
    const Position where = value_position(option, at);
    findings.put(check.path, where.first, where.second, Code::inline_comment,
                 quoted(TextView(option.value).substr(at)) + " is part of the value of " +
                     quoted(option.name) + " (" + what +
                     "): a comment after a value is not one; put it on a line of its own");
}

// "Output(x.cfg)", "output (x.cfg)", "output(x.cfg) and more": meant as a
// reference, sent as text.
bool meant_as_reference(TextView value) {
    size_t open = 6;
    if (value.size() < open || ascii_lower(value.substr(0, open)) != U"output")
        return false;
    while (open < value.size() && is_space(value[open]))
        ++open;
    return open < value.size() && value[open] == U'(';
}

// The mend keeps what stands between the brackets.
Text written_reference_meant(TextView value) {
    const size_t open = value.find(U'(');
    const size_t close = value.rfind(U')');
    const size_t end = close == TextView::npos || close < open ? value.size() : close;
    return U"output(" + Text(strip(value.substr(open + 1, end - open - 1))) + U")";
}

void find_in_reference(const CheckModel &check, const RequestField &field, Findings &findings) {
    const IniOption &option = *field.option;
    const Position at = value_position(option, 0);
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

void find_sent_name(const CheckModel &check, const RequestField &field, Findings &findings) {
    const IniOption &option = *field.option;
    // "Action" is the one field whose name is known: the run's lowercase one.
    if (option.name_folded && option.name != U"action" &&
        findings.take(check.path, Code::folded_name))
        findings.put(check.path, option.line, option.name_column, Code::folded_name,
                     "the name is written with capitals, but the run lowercases option names: "
                     "it is sent as the field " +
                         quoted(option.name) + "; write it " + quoted(option.name) +
                         " (no field with capitals can be sent)");
}

void find_in_field(const CheckModel &check, const RequestField &field, ReferableNames &names,
                   Findings &findings) {
    const IniOption &option = *field.option;
    if (field.value.error != InterpolationError::none) {
        const Code code = interpolation_code(field.value);
        if (!findings.take(check.path, code))
            return;
        const Explanation why = explain(field.value, option, names);
        const Position at = mistake_position(option, field.value);
        findings.put(check.path, at.first, at.second, code,
                     why.what + " ends the run with " + why.error + "; " + why.mend);
        return;
    }
    find_sent_name(check, field, findings);
    find_inline_comment(check, option, "a field of the request", findings);
    if (field.is_reference)
        return find_in_reference(check, field, findings);
    if (!meant_as_reference(field.value.value) || !findings.take(check.path, Code::near_output))
        return;
    const Position at = value_position(option, 0);
    const std::string text =
        field.value.whole ? quoted(field.value.value) : quoted(Text(field.value.value) + U"...");
    findings.put(check.path, at.first, at.second, Code::near_output,
                 text +
                     " is not an output reference, which starts with `output(` and ends with "
                     "`)` exactly: it is sent as plain text; write " +
                     quoted(written_reference_meant(field.value.value)));
}

}  // namespace

void find_in_description(const CheckModel &check, Findings &findings) {
    if (!check.description || check.description->error == InterpolationError::none ||
        !findings.take(check.path, Code::description_unreadable))
        return;
    const IniOption &option = default_option(check, "description");
    ReferableNames names(check.ini, *check.default_section);
    const Explanation why = explain(*check.description, option, names);
    const Position at = mistake_position(option, *check.description);
    findings.put(check.path, at.first, at.second, Code::description_unreadable,
                 "the description is not printed: " + why.what + " fails with " + why.error + "; " +
                     why.mend);
}

void find_in_filters(const CheckModel &check, Findings &findings) {
    if (!check.filters)
        return;
    const IniOption &option = default_option(check, "filters");
    if (check.filters->error != InterpolationError::none) {
        if (!findings.take(check.path, Code::filters_unreadable))
            return;
        ReferableNames names(check.ini, *check.default_section);
        const Explanation why = explain(*check.filters, option, names);
        const Position at = mistake_position(option, *check.filters);
        findings.put(check.path, at.first, at.second, Code::filters_unreadable,
                     "the filters are not applied, and the whole answer is printed: " + why.what +
                         " fails with " + why.error + "; " + why.mend);
        return;
    }
    find_inline_comment(check, option, "the filter path", findings);
    if (!check.filters->whole)
        return;
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
    if (!check.quorvane)
        return;
    ReferableNames names(check.ini, *check.quorvane);
    for (const RequestField &field : check.fields) {
        check_interrupts();
        find_in_field(check, field, names, findings);
    }
}

}  // namespace harborsweep::lint
