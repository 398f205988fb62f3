// The planning pass: an explicit stack instead of recursion, so no nesting
// depth can exhaust the C stack. It runs no Python code and creates no object
// that the garbage collector tracks, so nothing can change the value while it
// runs: the containers on its path are held, their items only borrowed.
#include "layout/layout_plan.hpp"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "layout/key_order.hpp"
#include "layout/literals.hpp"
#include "layout/text_literal.hpp"

namespace harborsweep {
namespace {

std::uint64_t capped_sum(std::uint64_t a, std::uint64_t b) {
    return std::min(a + std::min(b, kLengthCap), kLengthCap);
}

struct PlanFrame {
    nb::object container;
    bool is_dict;
    Py_ssize_t size;
    Py_ssize_t next;
    std::size_t values_base;  // dict: where its values begin on the value stack
    std::size_t width_slot;
    std::uint64_t length;     // capped
};

class Planner {
public:
    explicit Planner(LayoutPlan &plan) : plan_(plan) {}
    bool run(nb::handle value);

private:
    bool visit(nb::handle value, bool measure, std::uint64_t &length);
    bool open_container(nb::handle container, bool is_dict, Py_ssize_t size);
    bool open_dict(PlanFrame &frame);
    void close_container();

    LayoutPlan &plan_;
    std::vector<PlanFrame, RawAllocator<PlanFrame>> stack_;
    std::vector<nb::handle, RawAllocator<nb::handle>>
        values_;  // of the dicts on the path, in key order
    std::vector<nb::handle, RawAllocator<nb::handle>> entries_;  // one dict's keys and values
    std::unordered_set<PyObject *> open_;  // containers on the path
    KeyOrders key_orders_;
};

bool Planner::run(nb::handle value) {
    std::uint64_t length = 0;
    if (!visit(value, false, length))
        return false;
    while (!stack_.empty()) {
        PlanFrame &frame = stack_.back();
        if (frame.next >= frame.size) {
            close_container();
            continue;
        }
        Py_ssize_t index = frame.next++;
        bool measure = frame.length < kLengthCap;
        nb::handle item;
        if (frame.is_dict) {
            item = values_[frame.values_base + static_cast<std::size_t>(index)];
        } else {
            if (index >= PyList_GET_SIZE(frame.container.ptr()))
                return false;
            item = PyList_GET_ITEM(frame.container.ptr(), index);
        }
        std::uint64_t item_length = 0;
        std::size_t depth_before = stack_.size();
        if (!visit(item, measure, item_length))
            return false;
        if (stack_.size() == depth_before) {  // a scalar or a text
            PlanFrame &owner = stack_.back();
            owner.length = capped_sum(owner.length, item_length);
        }
    }
    return true;
}

// A scalar or text yields its length (when `measure`, or when measuring is
// the only way to learn whether it can be written); a non-empty container
// opens a frame and adds its length when it closes.
bool Planner::visit(nb::handle value, bool measure, std::uint64_t &length) {
    ValueKind kind = kind_of(value);
    switch (kind) {
    case ValueKind::text:
        ensure_ready(value);
        plan_.ascii = plan_.ascii && PyUnicode_IS_ASCII(value.ptr());
        // A literal is at least its text and two quotes long.
        if (measure)
            length = static_cast<std::uint64_t>(PyUnicode_GET_LENGTH(value.ptr())) + 2 >= kLengthCap
                         ? kLengthCap
                         : text_literal_length(value);
        return true;
    case ValueKind::list:
    case ValueKind::dict: {
        bool is_dict = kind == ValueKind::dict;
        Py_ssize_t size = is_dict ? PyDict_GET_SIZE(value.ptr()) : PyList_GET_SIZE(value.ptr());
        if (size == 0) {
            length = 2;
            return true;
        }
        return open_container(value, is_dict, size);
    }
    case ValueKind::integer:
        return scalar_literal_length(value, kind, length);
    case ValueKind::other:
        return false;
    default:
        if (measure)
            return scalar_literal_length(value, kind, length);
        return true;
    }
}

bool Planner::open_container(nb::handle container, bool is_dict, Py_ssize_t size) {
    if (static_cast<std::uint64_t>(size) > UINT32_MAX)
        return false;
    if (!open_.insert(container.ptr()).second)
        return false;  // the container holds itself
    std::size_t slot = plan_.widths.size();
    plan_.widths.push_back(0);
    // Brackets and the ", " between items.
    std::uint64_t frame_length =
        std::min<std::uint64_t>(2 + 2 * (static_cast<std::uint64_t>(size) - 1), kLengthCap);
    stack_.push_back(
        PlanFrame{nb::borrow(container), is_dict, size, 0, values_.size(), slot, frame_length});
    plan_.depth = std::max(plan_.depth, stack_.size());
    return !is_dict || open_dict(stack_.back());
}

// Checks the keys, adds their literals to the dict's length, and puts the
// values on the value stack in ascending key order.
bool Planner::open_dict(PlanFrame &frame) {
    entries_.clear();
    Py_ssize_t position = 0;
    PyObject *key = nullptr;
    PyObject *value = nullptr;
    while (PyDict_Next(frame.container.ptr(), &position, &key, &value)) {
        entries_.push_back(key);
        entries_.push_back(value);
    }
    std::size_t count = entries_.size() / 2;
    if (count != static_cast<std::size_t>(frame.size))
        return false;
    KeySet *keys = key_orders_.find(entries_.data(), count);
    if (!keys)
        return false;
    plan_.ascii = plan_.ascii && keys->ascii;
    frame.length = capped_sum(frame.length, keys->length);
    if (count > 1) {  // a single entry needs no order
        if (keys->planned == KeySet::kNotPlanned) {
            keys->planned = plan_.orders.size();
            plan_.orders.insert(plan_.orders.end(), keys->order.begin(), keys->order.end());
        }
        if (keys->planned > UINT32_MAX)
            return false;
        plan_.order_starts.push_back(static_cast<std::uint32_t>(keys->planned));
    }
    for (std::uint32_t at : keys->order)
        values_.push_back(entries_[2 * at + 1]);
    entries_.clear();
    return true;
}

void Planner::close_container() {
    PlanFrame &frame = stack_.back();
    std::uint64_t length = frame.length;
    plan_.widths[frame.width_slot] = static_cast<std::uint8_t>(length);
    open_.erase(frame.container.ptr());
    values_.resize(frame.values_base);
    stack_.pop_back();
    if (!stack_.empty()) {
        PlanFrame &owner = stack_.back();
        owner.length = capped_sum(owner.length, length);
    }
}

}  // namespace

void collect_entries(nb::handle dict, ObjectStack &entries) {
    Py_ssize_t position = 0;
    PyObject *key = nullptr;
    PyObject *value = nullptr;
    while (PyDict_Next(dict.ptr(), &position, &key, &value)) {
        entries.push_back(nb::borrow(key));
        entries.push_back(nb::borrow(value));
    }
}

bool plan_layout(nb::handle value, LayoutPlan &plan) { return Planner(plan).run(value); }

}  // namespace harborsweep
