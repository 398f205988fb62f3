// Storage whose items never move once added, for a check file's sections,
// options and option names, which values and findings point into: blocks
// that double in size up to a limit, so that a short list holds little
// room spare and a long one copies nothing as it grows.
#pragma once

#include <bit>
#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

#include "lint/unicode_text.hpp"

namespace harborsweep::lint {

template <typename T>
class StableList {
public:
    template <typename List, typename Item>
    class Iterator {
    public:
        Iterator(List *list, size_t at) : list_(list), at_(at) {}
        Item &operator*() const { return (*list_)[at_]; }
        Item *operator->() const { return &(*list_)[at_]; }
        Iterator &operator++() {
            ++at_;
            return *this;
        }
        bool operator!=(const Iterator &other) const { return at_ != other.at_; }
        bool operator==(const Iterator &other) const { return at_ == other.at_; }

    private:
        List *list_;
        size_t at_;
    };

    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

    T &operator[](size_t i) {
        const auto [block, offset] = place(i);
        return blocks_[block][offset];
    }
    const T &operator[](size_t i) const {
        const auto [block, offset] = place(i);
        return blocks_[block][offset];
    }
    T &back() { return (*this)[size_ - 1]; }
    const T &back() const { return (*this)[size_ - 1]; }

    void push_back(T item) {
        const size_t block = place(size_).first;
        if (block == blocks_.size()) {
            blocks_.emplace_back();
            blocks_.back().reserve(block < kDoublings ? kFirst << block : kLargest);
        }
        blocks_[block].push_back(std::move(item));
        ++size_;
    }

    Iterator<StableList, T> begin() { return {this, 0}; }
    Iterator<StableList, T> end() { return {this, size_}; }
    Iterator<const StableList, const T> begin() const { return {this, 0}; }
    Iterator<const StableList, const T> end() const { return {this, size_}; }

private:
    static constexpr size_t kFirst = 4, kDoublings = 9, kLargest = kFirst << (kDoublings - 1);
    static constexpr size_t kDoubled = kFirst * ((size_t{1} << kDoublings) - 1);

    static std::pair<size_t, size_t> place(size_t i) {
        if (i < kDoubled) {
            const size_t block = std::bit_width(i / kFirst + 1) - 1;
            return {block, i - kFirst * ((size_t{1} << block) - 1)};
        }
        return {kDoublings + (i - kDoubled) / kLargest, (i - kDoubled) % kLargest};
    }

    std::vector<std::vector<T>> blocks_;  // each reserved to its size, never grown past it
    size_t size_ = 0;
};

// Texts kept for the file's life, each a view that stays put.
class TextStore {
public:
    TextView keep(TextView text) {
        if (text.empty())
            return TextView();
        if (blocks_.empty() || used_ + text.size() > room_) {
            room_ = std::max(text.size(), blocks_.empty() ? kFirst : std::min(room_ * 2, kLargest));
            blocks_.emplace_back(new char32_t[room_]);
            used_ = 0;
        }
        char32_t *at = blocks_.back().get() + used_;
        std::copy(text.begin(), text.end(), at);
        used_ += text.size();
        return TextView(at, text.size());
    }

    // `text` (kept here) with `more` after it: in place when it is the last
    // text kept and the block has room, else copied to a block with room
    // for as much again, so that a text grown line by line is copied a
    // bounded number of times.
    void extend(TextView &text, TextView more) {
        if (more.empty())
            return;
        if (!blocks_.empty() && !text.empty() &&
            text.data() + text.size() == blocks_.back().get() + used_ &&
            used_ + more.size() <= room_) {
            std::copy(more.begin(), more.end(), blocks_.back().get() + used_);
            used_ += more.size();
            text = TextView(text.data(), text.size() + more.size());
            return;
        }
        const size_t size = text.size() + more.size();
        room_ = std::max(2 * size, blocks_.empty() ? kFirst : std::min(room_ * 2, kLargest));
        blocks_.emplace_back(new char32_t[room_]);
        char32_t *at = blocks_.back().get();
        std::copy(text.begin(), text.end(), at);
        std::copy(more.begin(), more.end(), at + text.size());
        used_ = size;
        text = TextView(at, size);
    }

private:
    static constexpr size_t kFirst = 64, kLargest = 16384;
    std::vector<std::unique_ptr<char32_t[]>> blocks_;
    size_t used_ = 0, room_ = 0;
};

}  // namespace harborsweep::lint
