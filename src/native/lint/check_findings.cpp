// Findings of one check file: its reading, then its sections (one the run
// needs and lacks, one whose name is a near miss, options it passes over),
// then the values the run reads (value_findings).
#include "lint/check_findings.hpp"

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
    for (const RequestField &field : check.fields)
        if (field.option->name == U"action")
            return;
    findings.add(check.path, check.quorvane->line, check.quorvane->column, Code::no_action,
                 "`[quorvane]` has no `action`, so the request names no operation for the "
                 "controller; add `action = ...`");
}

// Names that values of [default] and [DEFAULT] refer to: "%(name)s".
std::vector<Text> referred_names(const CheckModel &check) {
    std::vector<Text> names;
    auto scan = [&](const IniSection &section) {
        for (const IniOption &option : section.options) {
            const Text &value = option.value;
            // Each "%(" ends at the first ")s" after it, which serves the
            // next "%(" too until it is passed: the value is scanned once.
            size_t close = 0;
            for (size_t at = value.find(U"%("); at != Text::npos; at = value.find(U"%(", at + 2)) {
                if (close < at + 2)
                    close = value.find(U")s", at + 2);
                if (close == Text::npos)
                    break;
                names.push_back(lower(TextView(value).substr(at + 2, close - at - 2)));
            }
        }
    };
    scan(*check.default_section);
    scan(check.ini.defaults);
    return names;
}

const std::vector<Text> kReadFromDefault{from_ascii("description"), from_ascii("filters")};

// [DEFAULT] holds what every section sees: its options go out with every
// request, a description among them.
void find_defaults_sent(const CheckModel &check, Findings &findings) {
    for (const Text &name : kReadFromDefault)
        if (const IniOption *option = check.ini.defaults.find(name))
            findings.add(check.path, option->line, option->name_column,
                         Code::defaults_in_every_request,
                         quoted(name) +
                             " in `[DEFAULT]` is also sent to the controller as a field of the "
                             "request; move it to `[default]`");
}

void find_unread_defaults(const CheckModel &check, Findings &findings) {
    if (!check.default_section)
        return;
    const std::vector<Text> &read = kReadFromDefault;
    const std::vector<Text> referred = referred_names(check);
    for (const IniOption &option : check.default_section->options) {
        if (option.name.empty() || option.name == read[0] || option.name == read[1])
            continue;
        bool used = false;
        for (const Text &name : referred)
            used = used || name == option.name;
        if (used)
            continue;
        const std::optional<Text> near = near_name(option.name, read);
        findings.add(check.path, option.line, option.name_column, Code::unread_default_option,
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
    find_in_sections(check, findings);
    find_missing_action(check, findings);
    find_unread_defaults(check, findings);
    find_defaults_sent(check, findings);
    if (listed)
        find_in_description(check, findings);
    find_in_filters(check, findings);
    find_in_fields(check, findings);
}

}  // namespace harborsweep::lint
