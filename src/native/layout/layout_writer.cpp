// The layout pass. Each container either fits its room and goes on one line
// (and so does everything inside it), or is broken one item per line with
// its items one column in. Like the plan, it walks an explicit stack, and it
// holds strong references to whatever it is writing: a flush calls the
// stream's write(), where a signal handler, a finalizer or the stream's codec
// may run Python code.
#include "layout/layout_writer.hpp"

#include "bridge/python_support.hpp"
#include "layout/literals.hpp"
#include "layout/page.hpp"
#include "layout/text_layout.hpp"
#include "layout/text_literal.hpp"

namespace harborsweep {
namespace {

[[noreturn]] void raise_changed() {
    PyErr_SetString(PyExc_RuntimeError, "result changed while it was being written");
    nb::raise_python_error();
}

struct LayoutFrame {
    nb::object container;
    bool is_dict;
    bool flat;
    Py_ssize_t size;
    Py_ssize_t next;
    std::size_t entries_base;  // dict: its keys and values in key order
    std::int64_t indent;       // column of the items
    std::int64_t allowance;    // what follows the closing bracket
};

class LayoutWriter {
public:
    LayoutWriter(const LayoutPlan &plan, OutputSink &sink) : plan_(plan), sink_(sink) {}

    void run(nb::handle value) {
        place(value, 0, 0, false, true);
        while (!stack_.empty())
            step();
        if (next_width_ != plan_.widths.size() || next_order_ != plan_.order_starts.size())
            raise_changed();
    }

private:
    void step();
    void close();
    void place(nb::handle value, std::int64_t indent, std::int64_t allowance, bool flat,
               bool whole);
    void open(nb::handle container, bool is_dict, Py_ssize_t size, std::int64_t indent,
              std::int64_t allowance, bool flat);
    void push_entries(nb::handle dict, Py_ssize_t size);

    const LayoutPlan &plan_;
    OutputSink &sink_;
    std::size_t next_width_ = 0;
    std::size_t next_order_ = 0;
    std::vector<LayoutFrame, RawAllocator<LayoutFrame>> stack_;
    ObjectStack entries_;
    ObjectStack scratch_;
};

void LayoutWriter::step() {
    LayoutFrame &frame = stack_.back();
    if (frame.next >= frame.size)
        return close();
    Py_ssize_t index = frame.next++;
    bool last = frame.next == frame.size;
    bool flat = frame.flat;
    std::int64_t indent = frame.indent;
    std::int64_t allowance = last ? frame.allowance + 1 : 1;
    if (flat) {
        if (index > 0)
            sink_.ascii(", ");
    } else if (index > 0) {
        sink_.ascii(",");
        sink_.line_break(static_cast<std::size_t>(indent));
    }
    nb::object item;
    if (frame.is_dict) {
        std::size_t at = frame.entries_base + 2 * static_cast<std::size_t>(index);
        if (!PyUnicode_CheckExact(entries_[at].ptr()))
            raise_changed();
        std::uint64_t key_length = write_text_literal(sink_, entries_[at]);
        sink_.ascii(": ");
        indent += static_cast<std::int64_t>(key_length) + 2;
        item = entries_[at + 1];
    } else {
        if (index >= PyList_GET_SIZE(frame.container.ptr()))
            raise_changed();
        item = nb::borrow(PyList_GET_ITEM(frame.container.ptr(), index));
    }
    place(item, indent, allowance, flat, false);  // may grow the stack
}

void LayoutWriter::close() {
    LayoutFrame &frame = stack_.back();
    sink_.ascii(frame.is_dict ? "}" : "]");
    entries_.resize(frame.entries_base);
    stack_.pop_back();
}

void LayoutWriter::place(nb::handle value, std::int64_t indent, std::int64_t allowance, bool flat,
                         bool whole) {
    ValueKind kind = kind_of(value);
    switch (kind) {
    case ValueKind::list:
    case ValueKind::dict: {
        bool is_dict = kind == ValueKind::dict;
        Py_ssize_t size = is_dict ? PyDict_GET_SIZE(value.ptr()) : PyList_GET_SIZE(value.ptr());
        if (size == 0)  // written whole even where it does not fit
            sink_.ascii(is_dict ? "{}" : "[]");
        else
            open(value, is_dict, size, indent, allowance, flat);
        return;
    }
    case ValueKind::text:
        if (flat)
            write_text_literal(sink_, value);
        else
            write_text(sink_, value, indent, allowance, whole);
        return;
    case ValueKind::other:
        sink_.literal(literal_of(value));  // only after the result changed
        return;
    default:
        write_literal(sink_, value, kind);
        return;
    }
}

void LayoutWriter::open(nb::handle container, bool is_dict, Py_ssize_t size, std::int64_t indent,
                        std::int64_t allowance, bool flat) {
    if (next_width_ >= plan_.widths.size())
        raise_changed();
    std::int64_t width = plan_.widths[next_width_++];
    bool fits = flat || width <= kPageWidth - indent - allowance;
    stack_.push_back(LayoutFrame{nb::borrow(container), is_dict, fits, size, 0, entries_.size(),
                                 indent + 1, allowance});
    sink_.ascii(is_dict ? "{" : "[");
    if (is_dict)
        push_entries(container, size);
}

// The dict's keys and values in the key order that the plan found.
void LayoutWriter::push_entries(nb::handle dict, Py_ssize_t size) {
    scratch_.clear();
    collect_entries(dict, scratch_);
    std::size_t count = scratch_.size() / 2;
    if (count != static_cast<std::size_t>(size))
        raise_changed();
    if (count < 2) {
        entries_.push_back(std::move(scratch_[0]));
        entries_.push_back(std::move(scratch_[1]));
        scratch_.clear();
        return;
    }
    if (next_order_ >= plan_.order_starts.size())
        raise_changed();
    std::size_t start = plan_.order_starts[next_order_++];
    if (plan_.orders.size() - start < count)
        raise_changed();
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t at = plan_.orders[start + i];
        if (at >= count || !scratch_[2 * at].is_valid())
            raise_changed();
        entries_.push_back(std::move(scratch_[2 * at]));
        entries_.push_back(std::move(scratch_[2 * at + 1]));
    }
    scratch_.clear();
}

}  // namespace

void write_layout(nb::handle value, const LayoutPlan &plan, OutputSink &sink) {
    LayoutWriter(plan, sink).run(value);
}

}  // namespace harborsweep
