// The linter's run: the paths' check files in the run's order, then every
// file a reference leads to (read with the configuration directory of the
// check that refers to it, as the run's nested calls are), then the loops
// and which paths the run opens, then the findings under each such path.
// Each file is read once per configuration directory, keyed by its real
// path; each path the run opens it by is reported on.
#include "lint/lint_run.hpp"

#include <unordered_map>
#include <unordered_set>

#include "lint/check_findings.hpp"
#include "lint/directory_listing.hpp"
#include "lint/interrupts.hpp"
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

// The files of a directory a missing reference may have meant, listed once
// however many references miss there: its files, not its directories.
struct NearFiles {
    std::vector<Text> names;
    std::vector<std::string> reals;
    NearNameIndex index;  // of `names`
    // Names a near name is still looked for among, over all the references
    // that miss here: a directory of thousands of names and thousands of
    // references must not take their product in time.
    size_t budget = 200'000;
};

class Linter {
public:
    LintRun run;

    explicit Linter(const std::optional<std::string> &config_dir) : config_dir_(config_dir) {}

    void lint_path(const std::string &path) {
        check_interrupts();
        if (!is_directory(path)) {
            add_path(path, config_dir_ ? *config_dir_ : directory_of(path), true);
            return;
        }
        run.order.push_back(path);
        // The real path of an entry that is no link is the directory's, joined
        // with its name: one realpath() for the directory, not one per file.
        const std::string real_directory = real_path(path);
        const std::vector<DirectoryEntry> entries = list_directory(path);
        std::vector<const DirectoryEntry *> skipped;
        bool any = false;
        for (const DirectoryEntry &entry : entries) {
            check_interrupts();
            if (ends_with_bytes(entry.name, ".cfg")) {
                any = true;
                const std::string real = entry.plain ? join_path(real_directory, entry.name) : "";
                add_path(join_path(path, entry.name), path, true, real);
            } else if (!entry.directory) {
                skipped.push_back(&entry);
            }
        }
        note_skipped(path, entries, skipped);
        if (!any)
            run.findings.add(path, 0, 0, Code::no_checks,
                             "no check files here (names ending in `.cfg`): the run logs in, "
                             "runs nothing and ends with status 0");
    }

    void follow_references() {
        for (size_t model = 0; model < run.models.size(); ++model) {
            check_interrupts();
            if (!run.models[model].reference)
                continue;
            const std::string target = run.models[model].reference->target;
            const std::string config_dir = run.models[model].config_dir;
            const size_t path = add_path(target, config_dir, false);
            run.target[model] = static_cast<long>(path);
            const size_t next = run.paths[path].model;
            if (run.models[next].readable())
                run.follows[model] = static_cast<long>(next);
        }
    }

    // Each path the run opens, with the findings of its file, as the run
    // meets them through that path.
    void report() {
        const std::vector<long> followers = first_followers(run.follows);
        for (size_t path = 0; path < run.paths.size(); ++path) {
            check_interrupts();
            const CheckPath &at = run.paths[path];
            CheckModel &check = run.models[at.model];
            if (!at.read)
                continue;
            if (!check.readable()) {
                if (at.listed)
                    run.findings.add(at.path, 0, 0, Code::unreadable,
                                     unreadable_message(check, true));
                continue;
            }
            const std::string first = check.path;
            check.path = at.path;
            find_in_check(check, at.listed, run.decoding, run.findings);
            find_default_options_sent(check, run.models, followers[at.model], run.findings);
            if (run.target[at.model] >= 0 && run.follows[at.model] < 0)
                report_unreadable_target(at.model);
            if (run.loop[at.model] >= 0)
                report_loop(run, path);
            check.path = first;
        }
        report_skipped();
    }

private:
    // `real`: the file's real path where the caller knows it.
    size_t add_path(const std::string &path, const std::string &config_dir, bool listed,
                    const std::string &real = "") {
        auto [known, fresh] = paths_.try_emplace(path + '\0' + config_dir, run.paths.size());
        if (fresh) {
            const size_t model = add_model(real.empty() ? real_path(path) : real, path, config_dir);
            run.paths.push_back({path, model, false, false});
            run.order.push_back(path);
        }
        CheckPath &entry = run.paths[known->second];
        if (listed && !entry.listed) {
            entry.listed = true;
            run.run_order.push_back(known->second);
        }
        return known->second;
    }

    size_t add_model(const std::string &real, const std::string &path,
                     const std::string &config_dir) {
        auto [known, fresh] = models_.try_emplace(real + '\0' + config_dir, run.models.size());
        if (fresh) {
            run.models.push_back(model_check(path, config_dir, run.decoding));
            run.target.push_back(-1);
            run.follows.push_back(-1);
            reals_.push_back(real);
        }
        return known->second;
    }

    // Names the run passes over, though they look meant as check files;
    // said once the references are followed, unless one of them reads it.
    void note_skipped(const std::string &directory, const std::vector<DirectoryEntry> &entries,
                      const std::vector<const DirectoryEntry *> &skipped) {
        std::unordered_set<std::string> taken;
        for (const DirectoryEntry *entry : skipped) {
            const std::string folded = lowered(entry->name);
            std::string stem;
            for (std::string_view ending : {".cfg", ".conf", ".ini"})
                if (ends_with_bytes(folded, ending) && entry->name.size() > ending.size())
                    stem = entry->name.substr(0, entry->name.size() - ending.size());
            if (stem.empty())
                continue;
            if (taken.empty())
                for (const DirectoryEntry &other : entries)
                    taken.insert(other.name);
            skipped_.push_back(
                {join_path(directory, entry->name), stem + ".cfg", taken.count(stem + ".cfg") > 0});
        }
    }

    void report_skipped() {
        std::unordered_set<std::string> read;
        for (const CheckPath &path : run.paths)
            if (path.read)
                read.insert(reals_[path.model]);
        for (const Skipped &name : skipped_) {
            if (read.count(real_path(name.path)))
                continue;
            std::string message =
                "never run: the run takes only names ending in `.cfg` (in lower "
                "case); ";
            message += name.taken ? "give it a name ending in `.cfg` (" +
                                        quoted(path_text(name.meant)) + " is taken)"
                                  : "rename it " + quoted(path_text(name.meant));
            run.findings.add(name.path, 0, 0, Code::skipped_name, std::move(message));
        }
    }

    void report_unreadable_target(size_t referring) {
        const CheckModel &check = run.models[referring];
        const CheckPath &to = run.paths[static_cast<size_t>(run.target[referring])];
        const std::string &missing = to.path;
        const CheckModel &target = run.models[to.model];
        if (check.reference->name.empty())
            return;  // reported as an empty reference
        const RequestField &field = check.fields[check.reference->field];
        std::string message =
            quoted(field.value.value) + " refers to " + display_path(missing) + ", which ";
        if (target.read_failure && target.read_failure->python_class == "FileNotFoundError")
            message += "does not exist: the run ends with FileNotFoundError; " +
                       near_file(missing, reals_[referring]);
        else
            message += unreadable_message(target, false);
        run.findings.add(check.path, field.option->line, field.option->value_column,
                         Code::missing_check, std::move(message));
    }

    // What a missing file's name may have meant: a file beside it, never the
    // file that refers to it (that would be a loop).
    std::string near_file(const std::string &missing, const std::string &referring_real) {
        const std::string where = directory_of(missing);
        NearFiles &files = near_files(where.empty() ? "." : where);
        const size_t slash = missing.rfind('/');
        const Text wanted =
            path_text(slash == std::string::npos ? missing : missing.substr(slash + 1));
        if (const auto found = files.index.candidates(wanted, files.budget)) {
            std::vector<TextView> names;
            for (size_t i : *found)
                if (files.reals[i] != referring_real)
                    names.push_back(files.names[i]);
            size_t compared = names.size();
            if (auto near = near_name(wanted, names, compared))
                return "did you mean " + quoted(*near) + "?";
        }
        return "name an existing check file";
    }

    NearFiles &near_files(const std::string &directory) {
        auto [known, fresh] = near_files_.try_emplace(directory);
        if (fresh) {
            const std::string real_directory = real_path(directory);
            for (const DirectoryEntry &entry : list_directory_quietly(directory)) {
                if (entry.directory)
                    continue;
                known->second.names.push_back(path_text(entry.name));
                known->second.index.add(known->second.names.back());
                known->second.reals.push_back(entry.plain
                                                  ? join_path(real_directory, entry.name)
                                                  : real_path(join_path(directory, entry.name)));
            }
        }
        return known->second;
    }

    struct Skipped {
        std::string path, meant;
        bool taken;  // the name meant is another entry's already
    };

    std::optional<std::string> config_dir_;
    std::unordered_map<std::string, size_t> paths_;   // path and configuration directory
    std::unordered_map<std::string, size_t> models_;  // real path and configuration directory
    std::vector<std::string> reals_;                  // per model
    std::unordered_map<std::string, NearFiles> near_files_;
    std::vector<Skipped> skipped_;
};

}  // namespace

LintRun lint_paths(const std::vector<std::string> &paths,
                   const std::optional<std::string> &config_dir) {
    Linter linter(config_dir);
    linter.run.decoding = decoding_of_open();
    for (const std::string &path : paths)
        linter.lint_path(path);
    linter.follow_references();
    find_loops_and_reads(linter.run);
    linter.report();
    return std::move(linter.run);
}

}  // namespace harborsweep::lint
