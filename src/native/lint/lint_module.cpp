// The linter's extension module, harborsweep._lint: the findings of check
// files and directories as Finding objects, the plan of a run, and the
// reader's view of one file for the tests that hold it to configparser. It
// is a module of its own, so that importing harborsweep.harborsweep never
// loads it.
#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/vector.h>

#include <algorithm>
#include <optional>
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
    bool summary = false;  // no finding, but how many of its code were left out
    size_t left_out = 0;

    nb::dict as_dict() const {
        nb::dict fields;
        fields["path"] = path;
        fields["line"] = line;
        fields["column"] = column;
        fields["code"] = code;
        fields["severity"] = severity;
        fields["message"] = message;
        fields["summary"] = summary;
        if (summary)
            fields["left_out"] = left_out;
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

std::optional<std::string> fs_path_or_none(nb::handle path) {
    if (path.is_none())
        return std::nullopt;
    return fs_paths(nb::make_tuple(path))[0];
}

// Findings of each file together, files in the order they were met, each
// file's from its top.
std::vector<Finding> sorted_findings(const LintRun &run) {
    std::vector<Finding> list = run.findings.all();
    std::unordered_map<std::string, size_t> rank;
    for (const std::string &path : run.order)
        rank.emplace(path, rank.size());
    for (const Finding &finding : list)
        rank.emplace(finding.path, rank.size());
    // A count of findings left out comes after those of its file.
    std::stable_sort(list.begin(), list.end(), [&](const Finding &a, const Finding &b) {
        const size_t ra = rank[a.path], rb = rank[b.path];
        if (ra != rb || a.summary != b.summary)
            return ra != rb ? ra < rb : b.summary;
        return a.line != b.line ? a.line < b.line : a.column < b.column;
    });
    return list;
}

std::vector<PyFinding> findings_of(const std::vector<Finding> &list) {
    std::vector<PyFinding> result;
    for (const Finding &finding : list) {
        const CodeInfo code = info(finding.code);
        result.push_back({fs_text(finding.path), position(finding.line), position(finding.column),
                          code.code, code.severity == Severity::error ? "error" : "warning",
                          finding.message, finding.summary, finding.left_out});
    }
    return result;
}

// The command's one call: the findings, the plan if asked for, and how many
// check files were read.
nb::tuple checked(nb::handle paths, nb::handle config_dir, bool with_plan) {
    const LintRun run = lint_paths(fs_paths(paths), fs_path_or_none(config_dir));
    const std::vector<Finding> findings = sorted_findings(run);
    nb::object plan = with_plan ? nb::object(plan_of(run, findings)) : nb::none();
    return nb::make_tuple(findings_of(findings), plan, run.files_read());
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
        .def_ro("summary", &PyFinding::summary)
        .def_ro("left_out", &PyFinding::left_out)
        .def("as_dict", &PyFinding::as_dict)
        .def("__repr__", [](const PyFinding &finding) {
            return nb::str("Finding({})").format(finding.as_dict());
        });
    m.def(
        "lint",
        [](nb::handle paths, nb::handle config_dir) {
            return nb::borrow<nb::list>(checked(paths, config_dir, false)[0]);
        },
        nb::arg("paths"), nb::arg("config_dir") = nb::none(),
        "The findings of check directories and check files.");
    m.def(
        "plan",
        [](nb::handle paths, nb::handle config_dir) {
            return nb::borrow<nb::list>(checked(paths, config_dir, true)[1]);
        },
        nb::arg("paths"), nb::arg("config_dir") = nb::none(),
        "What the run will send for each check, in its order.");
    m.def("check", &checked, nb::arg("paths"), nb::arg("config_dir") = nb::none(),
          nb::arg("plan") = false,
          "The findings, the plan (or None) and the number of check files read, from one "
          "reading.");
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
    m.attr("MOST_OF_ONE_CODE") = Findings::kMostOfOneCode;
    m.def("_read_ini", &reader_view, nb::arg("path"), nb::arg("encoding") = nb::none());
}
