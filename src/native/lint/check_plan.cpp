// The plan of a run. The fields are the run's own: "CID" first, standing for
// the session id that each check's login brings, then the [quorvane]
// options and the [DEFAULT] ones after them, values interpolated. A chain is
// listed link by link, without recursion, so a long one costs no stack.
#include "lint/check_plan.hpp"

#include <unordered_set>

namespace harborsweep::lint {
namespace {

constexpr const char *kSessionId = "<session id>";

nb::object text_or_none(const std::optional<Interpolated> &value) {
    if (!value || value->error != InterpolationError::none)
        return nb::none();
    return to_python(value->value);
}

nb::list fields_of(const CheckModel &check) {
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
            entry["expands_to"] = fs_text(check.reference->target);
        fields.append(entry);
    }
    return fields;
}

nb::list chain_of(const LintRun &run, size_t start) {
    nb::list chain;
    std::unordered_set<size_t> seen{start};
    for (size_t at = start; run.checks[at].reference;) {
        const CheckModel &check = run.checks[at];
        nb::dict link;
        link["field"] = to_python(check.fields[check.reference->field].option->name);
        link["check"] = fs_text(check.reference->target);
        chain.append(link);
        const long next = run.follows[at];
        if (next < 0)
            break;
        if (!seen.insert(static_cast<size_t>(next)).second) {
            link["loops"] = true;
            break;
        }
        at = static_cast<size_t>(next);
    }
    return chain;
}

}  // namespace

nb::str fs_text(const std::string &fs_path) {
    PyObject *text =
        PyUnicode_DecodeFSDefaultAndSize(fs_path.data(), static_cast<Py_ssize_t>(fs_path.size()));
    if (!text)
        nb::raise_python_error();
    return nb::steal<nb::str>(text);
}

nb::list plan_of(const LintRun &run) {
    nb::list plan;
    for (size_t index : run.run_order) {
        const CheckModel &check = run.checks[index];
        nb::dict entry;
        entry["path"] = fs_text(check.path);
        entry["readable"] = check.readable();
        entry["description"] = text_or_none(check.description);
        entry["fields"] = fields_of(check);
        nb::list steps;
        for (const Text &step : check.filter_steps)
            steps.append(to_python(step));
        entry["filters"] = steps;
        entry["chain"] = chain_of(run, index);
        plan.append(entry);
    }
    return plan;
}

}  // namespace harborsweep::lint
