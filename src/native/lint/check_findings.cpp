// Findings of one check file: its reading, then its sections (one the run
// needs and lacks, one whose name is a near miss, options it passes over),
// then the values the run reads (value_findings).
#include "lint/check_findings.hpp"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "lint/interrupts.hpp"
#include "lint/messages.hpp"
#include "lint/near_names.hpp"
#include "lint/read_findings.hpp"
#include "lint/value_findings.hpp"

namespace harborsweep::lint {
namespace {

const Text kDefault = from_ascii("default"), kQuorvane = from_ascii("quorvane");

void find_in_sections(const CheckModel &check, Findings &findings) {
    bool quorvane_reported = false;
    for (const IniSection &section : check.ini.sections) {
        check_interrupts();
        if (section.name == kDefault || section.name == kQuorvane)
            continue;
        const std::optional<Text> near = near_name(section.name, {kDefault, kQuorvane});
        if (!near)
            continue;
        const std::string meant = quoted(U"[" + *near + U"]");
        const std::string written = quoted(U"[" + section.name + U"]");
        if (*near == kQuorvane && !check.quorvane && !quorvane_reported) {
            quorvane_reported = true;
            findings.add(check.path, section.line, section.column, Code::no_quorvane,
                         "the run reads " + meant + ", not " + written +
                             " (section names are exact): it ends with NoSectionError; rename "
                             "this one " +
                             meant);
            continue;
        }
        findings.add(check.path, section.line, section.column, Code::near_section,
                     written + " is not read by the run, which reads " + meant +
                         " (section names are exact), so " +
                         (*near == kDefault ? "its description and filters are not used"
                                            : "its options are not sent") +
                         "; rename it " + meant);
    }
    if (!check.quorvane && !quorvane_reported)
        findings.add(check.path, 0, 0, Code::no_quorvane,
                     "no `[quorvane]` section: the run ends with NoSectionError at this check; "
                     "add `[quorvane]` with the fields of the request");
}

void find_missing_action(const CheckModel &check, Findings &findings) {
    if (!check.quorvane)
        return;
    std::vector<TextView> names;
    for (const RequestField &field : check.fields) {
        if (field.option->name == U"action")
            return;
        names.push_back(field.option->name);
    }
    if (!findings.take(check.path, Code::no_action))
        return;
    size_t budget = names.size();
    const std::optional<Text> near = near_name(U"action", names, budget);
    const IniOption *written = nullptr;
    for (const RequestField &field : check.fields)
        if (near && field.option->name == *near)
            written = field.option;
    if (!written) {
        findings.put(check.path, check.quorvane->line, check.quorvane->column, Code::no_action,
                     "`[quorvane]` has no `action`, so the request names no operation for the "
                     "controller; add `action = ...`");
        return;
    }
    findings.put(check.path, written->line, written->name_column, Code::no_action,
                 "`[quorvane]` has no `action`, so the request names no operation for the "
                 "controller, and sends " +
                     quoted(written->name) + " instead: did you mean `action`?");
}

// The options of [default] that a value of [default] or [DEFAULT] refers
// to ("%(name)s", the name up to the first ")", as get() reads it). Each
// "%(" shares the first ")" after it with the "%(" before it, until it is
// passed, so each value is scanned once; no name longer than the longest
// option's (and a few hundred letters) is built.
std::unordered_set<const IniOption *> referred_options(const CheckModel &check) {
    std::unordered_set<const IniOption *> referred;
    const IniSection &section = *check.default_section;
    size_t longest = 0;
    for (const IniOption &option : section.options)
        longest = std::max(longest, option.name.size());
    longest = std::min<size_t>(longest, 256);
    auto scan = [&](const IniSection &values) {
        for (const IniOption &option : values.options) {
            check_interrupts();
            const TextView value = option.value;
            size_t close = 0;
            for (size_t at = value.find(U"%("); at != TextView::npos;
                 at = value.find(U"%(", at + 2)) {
                if (close < at + 2)
                    close = value.find(U')', at + 2);
                if (close == TextView::npos)
                    break;
                if (close - at - 2 <= longest)
                    if (const IniOption *named =
                            section.find(lower(value.substr(at + 2, close - at - 2))))
                        referred.insert(named);
            }
        }
    };
    scan(section);
    scan(check.ini.defaults);
    return referred;
}

const std::vector<Text> kReadFromDefault{from_ascii("description"), from_ascii("filters")};

// [DEFAULT] holds what every section sees: its options go out with every
// request, a description among them, unless [quorvane] has its own.
void find_defaults_sent(const CheckModel &check, Findings &findings) {
    for (const RequestField &field : check.fields)
        if (field.from_defaults && (field.option->name == kReadFromDefault[0] ||
                                    field.option->name == kReadFromDefault[1]))
            findings.add(check.path, field.option->line, field.option->name_column,
                         Code::defaults_in_every_request,
                         quoted(field.option->name) +
                             " in `[DEFAULT]` is also sent to the controller as a field of the "
                             "request; move it to `[default]`");
}

// Lines indented under an option that read as a line of their own: the run
// adds them to the value above, and a reader of the file would not.
void find_continued_lines(const CheckModel &check, Findings &findings) {
    for (const IniContinuation &line : check.ini.continuations) {
        if (!findings.take(check.path, Code::continued_line))
            continue;
        const std::string what = line.header ? "section header " + quoted(line.written)
                                             : "option " + quoted(line.written);
        findings.put(check.path, line.line, line.column, Code::continued_line,
                     "this indented line continues the value of " + quoted(line.option) +
                         " (line " + std::to_string(line.option_line) + "), so the " + what +
                         " is read as part of that value, not as " +
                         (line.header ? "a section" : "an option") +
                         " of its own; remove the indent");
    }
    for (size_t i = 0; i < check.ini.more_continuations; ++i)
        findings.take(check.path, Code::continued_line);
}

void find_unread_defaults(const CheckModel &check, Findings &findings) {
    if (!check.default_section)
        return;
    const std::vector<Text> &read = kReadFromDefault;
    const std::unordered_set<const IniOption *> referred = referred_options(check);
    for (const IniOption &option : check.default_section->options) {
        check_interrupts();
        if (option.name.empty() || option.name == read[0] || option.name == read[1] ||
            referred.count(&option))
            continue;
        if (!findings.take(check.path, Code::unread_default_option))
            continue;
        const std::optional<Text> near = near_name(option.name, read);
        findings.put(check.path, option.line, option.name_column, Code::unread_default_option,
                     quoted(option.name) +
                         " in `[default]` is not read by the run, which reads `description` and "
                         "`filters` there; " +
                         (near ? "did you mean " + quoted(*near) + "?"
                               : "remove it, or ignore HS304 to keep it as a note"));
    }
}

}  // namespace

void find_in_check(const CheckModel &check, bool listed, const Decoding &decoding,
                   Findings &findings) {
    find_in_reading(check, decoding, findings);
    find_in_lines(check, findings);
    find_continued_lines(check, findings);
    find_in_sections(check, findings);
    find_missing_action(check, findings);
    find_unread_defaults(check, findings);
    find_defaults_sent(check, findings);
    if (listed)
        find_in_description(check, findings);
    find_in_filters(check, findings);
    find_in_fields(check, findings);
}

std::vector<long> first_followers(const std::vector<long> &follows) {
    std::vector<long> followers(follows.size(), -1);
    for (size_t i = 0; i < follows.size(); ++i)
        if (follows[i] >= 0 && followers[static_cast<size_t>(follows[i])] < 0)
            followers[static_cast<size_t>(follows[i])] = static_cast<long>(i);
    return followers;
}

// `description` written in [quorvane]: sent, and printed only if [default]
// has one too.
void find_description_sent(const CheckModel &check, const RequestField &field, Findings &findings) {
    if (field.value.error != InterpolationError::none ||
        !findings.take(check.path, Code::default_option_sent))
        return;
    findings.put(check.path, field.option->line, field.option->name_column,
                 Code::default_option_sent,
                 std::string("`description` in `[quorvane]` is sent to the controller as a field "
                             "of the request") +
                     (check.description ? "" : ", and the run prints no description") +
                     "; move it to `[default]`");
}

void find_default_options_sent(const CheckModel &check, const std::vector<CheckModel> &checks,
                               long follower, Findings &findings) {
    for (const RequestField &field : check.fields) {
        if (field.from_defaults)
            continue;
        if (field.option->name == kReadFromDefault[0])
            find_description_sent(check, field, findings);
        if (field.option->name != kReadFromDefault[1] ||
            !findings.take(check.path, Code::default_option_sent))
            continue;
        const bool applied = check.filters.has_value();
        std::string message =
            "`filters` in `[quorvane]` is sent to the controller as a field of the request, "
            "not applied";
        message += applied ? " (the filters of `[default]` are)" : ": the whole answer is printed";
        if (!applied && follower >= 0) {
            const CheckModel &next = checks[static_cast<size_t>(follower)];
            message += ", and " + display_path(next.path) + " runs its " +
                       quoted(next.fields[next.reference->field].option->name) +
                       " over the elements of that whole answer";
        }
        findings.put(check.path, field.option->line, field.option->name_column,
                     Code::default_option_sent, message + "; move it to `[default]`");
    }
}

}  // namespace harborsweep::lint
