// Private hooks: `_layout(value)` returns what the native engine writes for
// a value (its layout and the line end), or None when the engine leaves the
// value to pprint; `_write_result(value)` is what `main` does with a result.
// Neither is part of the module's interface.
#include "layout/layout_hooks.hpp"

#include "bridge/module_functions.hpp"
#include "bridge/python_support.hpp"
#include "layout/layout_plan.hpp"
#include "layout/layout_writer.hpp"
#include "layout/result_writer.hpp"

namespace harborsweep {
namespace {

nb::object layout_text(nb::handle value) {
    LayoutPlan plan;
    if (!plan_layout(value, plan))
        return nb::none();
    nb::list pieces;
    {
        OutputSink sink(pieces.attr("append"));
        write_layout(value, plan, sink);
        sink.ascii("\n");
        sink.finish();
    }
    return nb::str("").attr("join")(pieces);
}

PyObject *layout_entry(PyObject *, PyObject *value) {
    return run_guarded([&] { return layout_text(value); });
}

PyObject *write_result_entry(PyObject *module, PyObject *value) {
    return run_guarded([&] {
        write_result(module, value);
        return nb::none();
    });
}

PyMethodDef kHooks[] = {
    {"_layout", layout_entry, METH_O,
     "_layout($module, value, /)\n--\n\n"
     "Private: the native layout of `value` with its line end, or None when\n"
     "the value is left to pprint."},
    {"_write_result", write_result_entry, METH_O,
     "_write_result($module, value, /)\n--\n\n"
     "Private: write `value` as `main` writes each result."},
};

}  // namespace

void define_layout_hooks(nb::handle module) { define_functions(module, kHooks); }

}  // namespace harborsweep
