// Loops of references. Each check follows at most one reference, so the
// checks and their references make chains that either end or run into a
// loop; each chain is walked once, without recursion, however long.
#include "lint/reference_loops.hpp"

#include "lint/messages.hpp"

namespace harborsweep::lint {
namespace {

enum class Visit : char { not_yet, on_chain, done };

void report_loop(const std::vector<CheckModel> &checks, const std::vector<size_t> &loop,
                 Findings &findings) {
    for (size_t k = 0; k < loop.size(); ++k) {
        std::string names;
        for (size_t step = 0; step <= loop.size(); ++step)
            names += (step ? " -> " : "") + base_name(checks[loop[(k + step) % loop.size()]].path);
        const CheckModel &check = checks[loop[k]];
        const IniOption &option = *check.fields[check.reference->field].option;
        findings.add(check.path, option.line, option.value_column, Code::reference_cycle,
                     "the output references loop: " + names +
                         ": the run stops with RecursionError when it comes back to a check "
                         "it is running; break the loop");
    }
}

}  // namespace

void find_reference_loops(const std::vector<CheckModel> &checks, const std::vector<long> &follows,
                          Findings &findings) {
    std::vector<Visit> visit(checks.size(), Visit::not_yet);
    std::vector<size_t> chain;
    for (size_t start = 0; start < checks.size(); ++start) {
        chain.clear();
        long at = static_cast<long>(start);
        while (at >= 0 && visit[static_cast<size_t>(at)] == Visit::not_yet) {
            visit[static_cast<size_t>(at)] = Visit::on_chain;
            chain.push_back(static_cast<size_t>(at));
            at = follows[static_cast<size_t>(at)];
        }
        if (at >= 0 && visit[static_cast<size_t>(at)] == Visit::on_chain) {
            size_t first = 0;
            while (chain[first] != static_cast<size_t>(at))
                ++first;
            report_loop(checks, std::vector<size_t>(chain.begin() + first, chain.end()), findings);
        }
        for (size_t node : chain)
            visit[node] = Visit::done;
    }
}

}  // namespace harborsweep::lint
