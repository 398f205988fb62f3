// Closeness of names: equal ignoring case and surrounding blanks; else an
// edit distance (a swap of two neighbours counting as one edit) of 1, or 2
// for names of six letters or more; else one a beginning of the other of at
// least four letters. Names are compared folded as they stand, without
// copies, and only those of a length that could be close.
#include "lint/near_names.hpp"

#include <algorithm>
#include <array>

namespace harborsweep::lint {
namespace {

constexpr size_t kLongestCompared = 64;
constexpr size_t kMostEdits = 2;

char32_t fold(char32_t c) { return c >= U'A' && c <= U'Z' ? c + (U'a' - U'A') : c; }

bool same(TextView a, TextView b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (fold(a[i]) != fold(b[i]))
            return false;
    return true;
}

// Optimal string alignment distance, or kMostEdits + 1 for any larger:
// rows of at most kLongestCompared + 1 cells, given up on once a whole row
// is past the limit.
size_t distance(TextView a, TextView b) {
    std::array<size_t, kLongestCompared + 1> before{}, previous{}, current{};
    for (size_t j = 0; j <= b.size(); ++j)
        previous[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        current[0] = i;
        size_t least = current[0];
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t cost = fold(a[i - 1]) == fold(b[j - 1]) ? 0 : 1;
            current[j] = std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + cost});
            if (i > 1 && j > 1 && fold(a[i - 1]) == fold(b[j - 2]) &&
                fold(a[i - 2]) == fold(b[j - 1]))
                current[j] = std::min(current[j], before[j - 2] + 1);
            least = std::min(least, current[j]);
        }
        if (least > kMostEdits)
            return kMostEdits + 1;
        before = previous;
        previous = current;
    }
    return previous[b.size()];
}

// An edit changes the count of at most two letters by one each (a swap
// none), so letters counted apart (in 64 bins) that differ by more than
// twice `most` put the names more than `most` edits apart.
bool counts_far_apart(TextView a, TextView b, size_t most) {
    std::array<int, 64> counts{};
    for (char32_t c : a)
        ++counts[fold(c) & 63];
    for (char32_t c : b)
        --counts[fold(c) & 63];
    size_t apart = 0;
    for (int count : counts)
        apart += static_cast<size_t>(count < 0 ? -count : count);
    return apart > 2 * most;
}

bool begins(TextView large, TextView small) {
    return small.size() >= 4 && large.size() > small.size() &&
           same(large.substr(0, small.size()), small);
}

// Lower is closer; nullopt for not close.
std::optional<size_t> closeness(TextView written, TextView candidate) {
    if (same(written, candidate))
        return 0;
    const size_t shorter = std::min(written.size(), candidate.size());
    const size_t longer = std::max(written.size(), candidate.size());
    const size_t most = shorter >= 6 ? 2 : 1;
    if (longer - shorter <= most && !counts_far_apart(written, candidate, most)) {
        const size_t edits = distance(written, candidate);
        if (edits <= most)
            return edits;
    }
    if (begins(written, candidate) || begins(candidate, written))
        return 3;
    return std::nullopt;
}

}  // namespace

// As closeness() folds and compares them: a name of four letters or more
// may begin another, and one within kMostEdits of its length may be a few
// edits from it.
constexpr size_t kBeginning = 4;

void NearNameIndex::add(TextView name) {
    const Text folded = ascii_lower(strip(name));
    const size_t position = lengths_.size();
    lengths_.push_back(folded.size());
    by_length_[folded.size()].push_back(position);
    if (folded.size() >= kBeginning)
        by_start_[folded.substr(0, kBeginning)].push_back(position);
}

std::optional<std::vector<size_t>> NearNameIndex::candidates(TextView written,
                                                             size_t &budget) const {
    const Text key = ascii_lower(strip(written));
    const size_t low = key.size() > kMostEdits ? key.size() - kMostEdits : 0;
    const size_t high = key.size() + kMostEdits;
    auto bucket = [](const auto &buckets, const auto &key) -> const std::vector<size_t> * {
        const auto found = buckets.find(key);
        return found == buckets.end() ? nullptr : &found->second;
    };
    const std::vector<size_t> *start =
        key.size() >= kBeginning ? bucket(by_start_, key.substr(0, kBeginning)) : nullptr;
    size_t count = start ? start->size() : 0;
    for (size_t length = low; length <= high; ++length)
        if (const std::vector<size_t> *same = bucket(by_length_, length))
            count += same->size();
    if (count > budget)
        return std::nullopt;
    budget -= count;
    std::vector<size_t> found;
    for (size_t length = low; length <= high; ++length)
        if (const std::vector<size_t> *same = bucket(by_length_, length))
            found.insert(found.end(), same->begin(), same->end());
    if (start)  // those not among the lengths already taken
        for (size_t position : *start)
            if (lengths_[position] < low || lengths_[position] > high)
                found.push_back(position);
    std::sort(found.begin(), found.end());  // in the list's order, as a search by scan meets them
    return found;
}

std::optional<Text> near_name(TextView written, const std::vector<TextView> &candidates,
                              size_t &budget, std::initializer_list<TextView> unwanted) {
    const TextView key = strip(written);
    if (key.size() > kLongestCompared)
        return std::nullopt;
    std::optional<TextView> best;
    size_t best_score = 0;
    for (const TextView candidate : candidates) {
        if (candidate == written ||
            std::find(unwanted.begin(), unwanted.end(), candidate) != unwanted.end())
            continue;
        const TextView name = strip(candidate);
        if (name.size() > kLongestCompared)
            continue;
        if (budget == 0)
            return std::nullopt;
        --budget;
        const std::optional<size_t> score = closeness(key, name);
        if (score && (!best || *score < best_score)) {
            best = candidate;
            best_score = *score;
        }
    }
    return best ? std::optional<Text>(Text(*best)) : std::nullopt;
}

std::optional<Text> near_name(TextView written, const std::vector<Text> &candidates) {
    std::vector<TextView> views(candidates.begin(), candidates.end());
    size_t budget = views.size();
    return near_name(written, views, budget);
}

}  // namespace harborsweep::lint
