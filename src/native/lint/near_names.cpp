// Closeness of names: equal ignoring case and surrounding blanks; else an
// edit distance (a swap of two neighbours counting as one edit) of 1, or 2
// for names of six letters or more; else one a beginning of the other of at
// least four letters.
#include "lint/near_names.hpp"

#include <algorithm>

namespace harborsweep::lint {
namespace {

constexpr size_t kLongestCompared = 64;

Text folded(TextView text) { return ascii_lower(strip(text)); }

// Optimal string alignment distance.
size_t distance(const Text &a, const Text &b) {
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i)
        d[i][0] = i;
    for (size_t j = 0; j <= b.size(); ++j)
        d[0][j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[a.size()][b.size()];
}

// Lower is closer; nullopt for not close.
std::optional<size_t> closeness(const Text &written, const Text &candidate) {
    if (written == candidate)
        return 0;
    const size_t shorter = std::min(written.size(), candidate.size());
    const size_t edits = distance(written, candidate);
    if (edits <= (shorter >= 6 ? 2 : 1))
        return edits;
    const Text &small = written.size() < candidate.size() ? written : candidate;
    const Text &large = written.size() < candidate.size() ? candidate : written;
    if (small.size() >= 4 && large.compare(0, small.size(), small) == 0)
        return 3;
    return std::nullopt;
}

}  // namespace

std::optional<Text> near_name(TextView written, const std::vector<Text> &candidates) {
    if (written.size() > kLongestCompared)
        return std::nullopt;
    const Text key = folded(written);
    std::optional<Text> best;
    size_t best_score = 0;
    for (const Text &candidate : candidates) {
        if (candidate == written || candidate.size() > kLongestCompared)
            continue;
        const std::optional<size_t> score = closeness(key, folded(candidate));
        if (score && (!best || *score < best_score)) {
            best = candidate;
            best_score = *score;
        }
    }
    return best;
}

}  // namespace harborsweep::lint
