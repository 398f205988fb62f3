// The linter's extension module, harborsweep._lint: the findings of check
// files and directories as Finding objects, the plan of a run, and the
// reader's view of one file for the tests that hold it to configparser. It
// is a module of its own, so that importing harborsweep.harborsweep never
// loads it.
#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/vector.h>

#include <algorithm>
#include <unordered_map>

#include "lint/check_plan.hpp"
#include "lint/lint_run.hpp"
#include "lint/reader_view.hpp"

namespace nb = nanobind;
using namespace harborsweep::lint;

namespace {

struct PyFinding {
    nb::object path, line, column;
    std::string code, severity, message;

    nb::dict as_dict() const {
        nb::dict fields;
        fields["path"] = path;
        fields["line"] = line;
        fields["column"] = column;
        fields["code"] = code;
        fields["severity"] = severity;
        fields["message"] = message;
        return fields;
    }
};

nb::object position(size_t value) { return value ? nb::object(nb::int_(value)) : nb::none(); }

std::vector<std::string> fs_paths(nb::handle paths) {
    nb::object fsencode = nb::module_::import_("os").attr("fsencode");
    std::vector<std::string> result;
    for (nb::handle path : paths) {
        nb::bytes encoded = nb::cast<nb::bytes>(fsencode(path));
        result.emplace_back(encoded.c_str(), encoded.size());
    }
    return result;
}

// Findings of each file together, files in the order they were met, each
// file's from its top.
std::vector<PyFinding> findings_of(const LintRun &run) {
    std::vector<Finding> list = run.findings.all();
    std::unordered_map<std::string, size_t> rank;
    for (const Finding &finding : list)
        rank.emplace(finding.path, rank.size());
    // A count of findings left out comes after those of its file.
    std::stable_sort(list.begin(), list.end(), [&](const Finding &a, const Finding &b) {
        const size_t ra = rank[a.path], rb = rank[b.path];
        if (ra != rb || a.summary != b.summary)
            return ra != rb ? ra < rb : b.summary;
        return a.line != b.line ? a.line < b.line : a.column < b.column;
    });
    std::vector<PyFinding> result;
    for (const Finding &finding : list) {
        const CodeInfo code = info(finding.code);
        result.push_back({fs_text(finding.path), position(finding.line), position(finding.column),
                          code.code, code.severity == Severity::error ? "error" : "warning",
                          finding.message});
    }
    return result;
}

}  // namespace

NB_MODULE(_lint, m) {
    m.doc() = "The core of harborsweep-lint: findings and plans of check directories.";
    nb::class_<PyFinding>(m, "Finding", "One mistake in a check file or directory.")
        .def_ro("path", &PyFinding::path)
        .def_ro("line", &PyFinding::line)
        .def_ro("column", &PyFinding::column)
        .def_ro("code", &PyFinding::code)
        .def_ro("severity", &PyFinding::severity)
        .def_ro("message", &PyFinding::message)
        .def("as_dict", &PyFinding::as_dict)
        .def("__repr__", [](const PyFinding &finding) {
            return nb::str("Finding({})").format(finding.as_dict());
        });
    m.def(
        "lint", [](nb::handle paths) { return findings_of(lint_paths(fs_paths(paths))); },
        nb::arg("paths"), "The findings of check directories and check files.");
    m.def(
        "plan", [](nb::handle paths) { return plan_of(lint_paths(fs_paths(paths))); },
        nb::arg("paths"), "What the run will send for each check, in its order.");
    m.def(
        "lint_and_plan",
        [](nb::handle paths) {
            const LintRun run = lint_paths(fs_paths(paths));
            return nb::make_tuple(findings_of(run), plan_of(run));
        },
        nb::arg("paths"), "Both of the above from one reading.");
    m.def(
        "codes",
        [] {
            nb::list codes;
            for (const CodeInfo &code : all_codes())
                codes.append(nb::make_tuple(
                    code.code, code.severity == Severity::error ? "error" : "warning"));
            return codes;
        },
        "Every code the linter gives, with its severity.");
    m.def("_read_ini", &reader_view, nb::arg("path"), nb::arg("encoding") = nb::none());
}
