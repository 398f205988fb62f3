// Loops of references. Each file follows at most one reference, so files and
// their references make chains that either end or run into a loop; each
// chain is walked once, without recursion, however long. A loop's paths:
// from a file on it the run opens the next one's by the path that file's
// reference gives, around to the one it started from, which it refuses.
#include "lint/reference_loops.hpp"

#include "lint/interrupts.hpp"
#include "lint/messages.hpp"

namespace harborsweep::lint {
namespace {

enum class Visit : char { not_yet, on_chain, done };

// Fills run.loop and run.loops from run.follows.
void find_loops(LintRun &run) {
    const size_t count = run.models.size();
    run.loop.assign(count, -1);
    std::vector<Visit> visit(count, Visit::not_yet);
    std::vector<size_t> chain;
    for (size_t start = 0; start < count; ++start) {
        check_interrupts();
        chain.clear();
        long at = static_cast<long>(start);
        while (at >= 0 && visit[static_cast<size_t>(at)] == Visit::not_yet) {
            visit[static_cast<size_t>(at)] = Visit::on_chain;
            chain.push_back(static_cast<size_t>(at));
            at = run.follows[static_cast<size_t>(at)];
        }
        if (at >= 0 && visit[static_cast<size_t>(at)] == Visit::on_chain) {
            size_t first = 0;
            while (chain[first] != static_cast<size_t>(at))
                ++first;
            const long id = static_cast<long>(run.loops.size());
            run.loops.emplace_back(chain.begin() + static_cast<long>(first), chain.end());
            for (size_t model : run.loops.back())
                run.loop[model] = id;
        }
        for (size_t node : chain)
            visit[node] = Visit::done;
    }
}

void mark(LintRun &run, size_t path, std::vector<size_t> &work) {
    if (!run.paths[path].read) {
        run.paths[path].read = true;
        work.push_back(path);
    }
}

}  // namespace

void find_loops_and_reads(LintRun &run) {
    find_loops(run);
    // First everything short of a loop's own references: a chain that enters
    // a loop opens the file it enters by.
    std::vector<size_t> work;
    for (size_t path : run.run_order)
        mark(run, path, work);
    while (!work.empty()) {
        const size_t model = run.paths[work.back()].model;
        work.pop_back();
        const long target = run.target[model];
        if (target >= 0 && run.loop[model] < 0)
            mark(run, static_cast<size_t>(target), work);
    }
    // Then each loop's own references. Entered at one file only, the chain
    // goes round and stops short of opening that file again; entered at two
    // or more, each reference of the loop is followed from one of them.
    std::vector<long> entered(run.loops.size(), -1);  // one file entered at; -2 for several
    for (const CheckPath &path : run.paths) {
        const long loop = run.loop[path.model];
        if (!path.read || loop < 0)
            continue;
        long &at = entered[static_cast<size_t>(loop)];
        at = at == -1 || at == static_cast<long>(path.model) ? static_cast<long>(path.model) : -2;
    }
    for (size_t loop = 0; loop < run.loops.size(); ++loop) {
        if (entered[loop] == -1)
            continue;
        for (size_t model : run.loops[loop]) {
            const size_t target = static_cast<size_t>(run.target[model]);
            if (entered[loop] == -2 || static_cast<long>(run.paths[target].model) != entered[loop])
                run.paths[target].read = true;
        }
    }
}

void report_loop(LintRun &run, size_t path) {
    constexpr size_t kFirstNamed = 5, kLastNamed = 3;
    const CheckPath &from = run.paths[path];
    const std::vector<size_t> &loop = run.loops[static_cast<size_t>(run.loop[from.model])];
    size_t start = 0;
    while (loop[start] != from.model)
        ++start;
    // The paths from this one round to the one that would open it again.
    auto step = [&](size_t k) {
        return base_name(
            run.paths[static_cast<size_t>(run.target[loop[(start + k) % loop.size()]])].path);
    };
    std::string names = base_name(from.path);
    for (size_t k = 0; k < loop.size(); ++k) {
        if (loop.size() > kFirstNamed + kLastNamed && k == kFirstNamed) {
            names +=
                " -> ... (" + std::to_string(loop.size() - kFirstNamed - kLastNamed) + " more)";
            k = loop.size() - kLastNamed;
        }
        names += " -> " + step(k);
    }
    const CheckModel &check = run.models[from.model];
    const IniOption &option = *check.fields[check.reference->field].option;
    run.findings.add(from.path, option.line, option.value_column, Code::reference_cycle,
                     "the output references loop: " + names +
                         ": the run stops with RecursionError when it comes back to a check "
                         "it is running; break the loop");
}

}  // namespace harborsweep::lint
