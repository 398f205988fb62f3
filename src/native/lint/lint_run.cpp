// The linter's run: the paths' check files in the run's order, then every
// file a reference leads to (read with the configuration directory of the
// check that refers to it, as the run's nested calls are), then the loops.
// Each file is read once, keyed by its real path, as the run tells files
// apart when it refuses a loop.
#include "lint/lint_run.hpp"

#include "lint/check_findings.hpp"
#include "lint/directory_listing.hpp"
#include "lint/file_decoding.hpp"
#include "lint/messages.hpp"
#include "lint/near_names.hpp"
#include "lint/read_findings.hpp"
#include "lint/reference_loops.hpp"

namespace harborsweep::lint {
namespace {

bool ends_with_bytes(const std::string &text, std::string_view end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string lowered(std::string text) {
    for (char &c : text)
        if (c >= 'A' && c <= 'Z')
            c += 'a' - 'A';
    return text;
}

std::string directory_of(const std::string &path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return "";
    return slash == 0 ? "/" : path.substr(0, slash);
}

class Linter {
public:
    LintRun run;

    void lint_path(const std::string &path) {
        if (!is_directory(path)) {
            add_check(path, directory_of(path), true);
            return;
        }
        bool any = false;
        // The real path of an entry that is no link is the directory's, joined
        // with its name: one realpath() for the directory, not one per file.
        const std::string real_directory = real_path(path);
        for (const DirectoryEntry &entry : list_directory(path)) {
            if (ends_with_bytes(entry.name, ".cfg")) {
                any = true;
                const std::string real = entry.plain ? join_path(real_directory, entry.name) : "";
                add_check(join_path(path, entry.name), path, true, real);
            } else {
                note_skipped(path, entry.name);
            }
        }
        if (!any)
            run.findings.add(path, 0, 0, Code::no_checks,
                             "no check files here (names ending in `.cfg`): the run logs in, "
                             "runs nothing and ends with status 0");
    }

    void follow_references() {
        for (size_t i = 0; i < run.checks.size(); ++i) {
            if (!run.checks[i].reference)
                continue;
            const std::string target = run.checks[i].reference->target;
            const std::string config_dir = run.checks[i].config_dir;
            long next = static_cast<long>(add_check(target, config_dir, false, real_path(target)));
            if (!run.checks[static_cast<size_t>(next)].readable()) {
                report_unreadable_target(i, static_cast<size_t>(next));
                next = -1;
            }
            run.follows[i] = next;
        }
    }

    void report_skipped() {
        for (const auto &[path, meant] : skipped_)
            if (read_.find(real_path(path)) == read_.end())
                run.findings.add(path, 0, 0, Code::skipped_name,
                                 "never run: the run takes only names ending in `.cfg` (in "
                                 "lower case); rename it " +
                                     quoted(path_text(meant)));
    }

private:
    // `real`: the file's real path where the caller knows it.
    size_t add_check(const std::string &path, const std::string &config_dir, bool listed,
                     const std::string &real = "") {
        const std::string key = real.empty() ? real_path(path) : real;
        auto known = read_.find(key);
        size_t index;
        if (known != read_.end()) {
            index = known->second;
        } else {
            index = run.checks.size();
            run.checks.push_back(model_check(path, config_dir, run.decoding));
            run.follows.push_back(-1);
            read_.emplace(key, index);
            examine(run.checks.back(), listed);
        }
        if (listed)
            run.run_order.push_back(index);
        return index;
    }

    void examine(const CheckModel &check, bool listed) {
        if (check.readable())
            find_in_check(check, listed, run.decoding, run.findings);
        else if (listed)
            run.findings.add(check.path, 0, 0, Code::unreadable, unreadable_message(check, true));
    }

    // A name the run passes over, though it looks meant as a check file;
    // said once the references are followed, unless one of them reads it.
    void note_skipped(const std::string &directory, const std::string &name) {
        const std::string folded = lowered(name);
        std::string stem;
        for (std::string_view ending : {".cfg", ".conf", ".ini"})
            if (ends_with_bytes(folded, ending) && name.size() > ending.size())
                stem = name.substr(0, name.size() - ending.size());
        if (!stem.empty())
            skipped_.push_back({join_path(directory, name), stem + ".cfg"});
    }

    void report_unreadable_target(size_t referring, size_t target) {
        const CheckModel &check = run.checks[referring];
        const CheckModel &missing = run.checks[target];
        const RequestField &field = check.fields[check.reference->field];
        if (check.reference->name.empty())
            return;  // reported as an empty reference
        std::string message =
            quoted(field.value.value) + " refers to " + display_path(missing.path) + ", which ";
        if (missing.read_failure && missing.read_failure->python_class == "FileNotFoundError") {
            message += "does not exist: the run ends with FileNotFoundError";
            const std::string where = directory_of(missing.path);
            std::vector<Text> names;
            for (const DirectoryEntry &entry : list_directory_quietly(where.empty() ? "." : where))
                names.push_back(path_text(entry.name));
            const size_t slash = missing.path.rfind('/');
            const Text wanted = path_text(
                slash == std::string::npos ? missing.path : missing.path.substr(slash + 1));
            if (auto near = near_name(wanted, names))
                message += "; did you mean " + quoted(*near) + "?";
            else
                message += "; name an existing check file";
        } else {
            message += unreadable_message(missing, false);
        }
        findings_at_field(check, field, Code::missing_check, std::move(message));
    }

    void findings_at_field(const CheckModel &check, const RequestField &field, Code code,
                           std::string message) {
        run.findings.add(check.path, field.option->line, field.option->value_column, code,
                         std::move(message));
    }

    std::unordered_map<std::string, size_t> read_;
    std::vector<std::pair<std::string, std::string>> skipped_;  // path, the name meant
};

}  // namespace

LintRun lint_paths(const std::vector<std::string> &paths) {
    Linter linter;
    linter.run.decoding = decoding_of_open();
    for (const std::string &path : paths)
        linter.lint_path(path);
    linter.follow_references();
    find_filters_sent(linter.run.checks, linter.run.follows, linter.run.findings);
    linter.report_skipped();
    find_reference_loops(linter.run.checks, linter.run.follows, linter.run.findings);
    return std::move(linter.run);
}

}  // namespace harborsweep::lint
