// The plan of a run. The fields are the run's own: "CID" first, standing for
// the session id that each check's login brings, then the [quorvane]
// options and the [DEFAULT] ones after them, values interpolated. Where the
// run stops is worked out link by link, each check's answer kept, so that a
// long chain costs no stack and no more than its length.
#include "lint/check_plan.hpp"

#include <algorithm>
#include <unordered_map>

#include "lint/interrupts.hpp"

namespace harborsweep::lint {
namespace {

constexpr const char *kSessionId = "<session id>";

nb::object text_or_none(const std::optional<Interpolated> &value) {
    if (!value || value->error != InterpolationError::none)
        return nb::none();
    return to_python(value->value);
}

nb::list fields_of(const CheckModel &check, const nb::object &target) {
    nb::list fields;
    nb::dict cid;
    cid["name"] = "CID";
    cid["value"] = kSessionId;
    fields.append(cid);
    for (size_t i = 0; i < check.fields.size(); ++i) {
        const RequestField &field = check.fields[i];
        nb::dict entry;
        entry["name"] = to_python(field.option->name);
        if (field.value.error != InterpolationError::none) {
            entry["value"] = nb::none();
            entry["error"] = interpolation_error_class(field.value.error);
        } else if (field.value.whole) {
            entry["value"] = to_python(field.value.value);
        } else {  // too long to keep: its start, and how long it is
            entry["value"] = to_python(Text(field.value.value) + U"...");
            entry["length"] = field.value.length;
        }
        if (check.reference && check.reference->field == i)
            entry["expands_to"] = target;
        fields.append(entry);
    }
    return fields;
}

struct Codes {
    std::vector<std::string> errors, warnings;
};

// The codes found under each path, each once, in the codes' order.
std::unordered_map<std::string, Codes> codes_by_path(const std::vector<Finding> &findings) {
    std::unordered_map<std::string, Codes> codes;
    for (const Finding &finding : findings) {
        const CodeInfo code = info(finding.code);
        Codes &found = codes[finding.path];
        std::vector<std::string> &list =
            code.severity == Severity::error ? found.errors : found.warnings;
        if (std::find(list.begin(), list.end(), code.code) == list.end())
            list.push_back(code.code);
    }
    for (auto &[path, found] : codes) {
        std::sort(found.errors.begin(), found.errors.end());
        std::sort(found.warnings.begin(), found.warnings.end());
    }
    return codes;
}

nb::list code_list(const std::vector<std::string> &codes) {
    nb::list list;
    for (const std::string &code : codes)
        list.append(code);
    return list;
}

// Per path: where the run stops when it runs that check (the path's index),
// or -1 where it completes it. A check stops at itself when it has an error,
// else where the check it follows stops.
std::vector<long> stops(const LintRun &run, const std::unordered_map<std::string, Codes> &codes) {
    constexpr long kUnknown = -2, kWalking = -3;
    std::vector<long> stop(run.paths.size(), kUnknown);
    std::vector<size_t> chain;
    for (size_t start = 0; start < run.paths.size(); ++start) {
        chain.clear();
        long at = static_cast<long>(start), found = -1;
        while (at >= 0) {
            const size_t here = static_cast<size_t>(at);
            if (stop[here] != kUnknown) {
                found = stop[here] == kWalking ? at : stop[here];
                break;
            }
            const CheckPath &path = run.paths[here];
            const auto own = codes.find(path.path);
            if (!run.models[path.model].readable() ||
                (own != codes.end() && !own->second.errors.empty())) {
                found = at;
                break;
            }
            stop[here] = kWalking;
            chain.push_back(here);
            at = run.target[path.model];
        }
        if (found >= 0 && stop[static_cast<size_t>(found)] == kUnknown)
            stop[static_cast<size_t>(found)] = found;
        for (size_t node : chain)
            stop[node] = found;
    }
    return stop;
}

nb::dict entry_of(const LintRun &run, size_t index, const Codes &codes, long stop,
                  std::vector<nb::object> &names) {
    const CheckPath &path = run.paths[index];
    const CheckModel &check = run.models[path.model];
    const long target = run.target[path.model];
    nb::dict entry;
    entry["path"] = names[index];
    entry["listed"] = path.listed;
    entry["readable"] = check.readable();
    entry["description"] = path.listed ? text_or_none(check.description) : nb::none();
    entry["fields"] =
        fields_of(check, target >= 0 ? names[static_cast<size_t>(target)] : nb::none());
    nb::list steps;
    for (const Text &step : check.filter_steps)
        steps.append(to_python(step));
    entry["filters"] = steps;
    nb::object follows = nb::none();
    if (target >= 0) {
        nb::dict link;
        link["field"] = to_python(check.fields[check.reference->field].option->name);
        link["check"] = names[static_cast<size_t>(target)];
        link["loops"] = run.loop[path.model] >= 0;
        follows = link;
    }
    entry["follows"] = follows;
    entry["errors"] = code_list(codes.errors);
    entry["warnings"] = code_list(codes.warnings);
    entry["stops_at"] = stop >= 0 ? names[static_cast<size_t>(stop)] : nb::none();
    return entry;
}

}  // namespace

nb::list plan_of(const LintRun &run, const std::vector<Finding> &findings) {
    const std::unordered_map<std::string, Codes> codes = codes_by_path(findings);
    const std::vector<long> stop = stops(run, codes);
    std::vector<nb::object> names(run.paths.size());
    for (size_t i = 0; i < run.paths.size(); ++i)
        names[i] = fs_text(run.paths[i].path);
    std::vector<size_t> planned = run.run_order;
    for (size_t i = 0; i < run.paths.size(); ++i)
        if (!run.paths[i].listed && run.paths[i].read && run.models[run.paths[i].model].readable())
            planned.push_back(i);
    const Codes none;
    nb::list plan;
    for (size_t index : planned) {
        check_interrupts();
        const auto own = codes.find(run.paths[index].path);
        plan.append(
            entry_of(run, index, own == codes.end() ? none : own->second, stop[index], names));
    }
    return plan;
}

}  // namespace harborsweep::lint
