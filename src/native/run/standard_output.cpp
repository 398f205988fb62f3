// Flushing standard output. Sent to a file or a pipe, standard output is
// block-buffered, and the run has no timeout: a run that is ended from
// outside (timeout, a cancelled CI job, SIGKILL) while it waits on the
// controller would otherwise take the results it had already printed with it.
#include "run/standard_output.hpp"

#include "bridge/module_globals.hpp"
#include "bridge/python_support.hpp"

namespace harborsweep {
namespace {

void flush_stream(nb::handle stream) {
    if (stream.is_none())
        return;
    nb::object flush = nb::steal(PyObject_GetAttrString(stream.ptr(), "flush"));
    if (!flush.is_valid()) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError))
            nb::raise_python_error();
        PyErr_Clear();
        return;
    }
    flush();
}

}  // namespace

void flush_standard_output(nb::handle module, nb::handle result_stream) {
    nb::object stdout_stream = global(module, "sys").attr("stdout");
    if (!result_stream.is_valid() || result_stream.is(stdout_stream))
        return flush_stream(stdout_stream);
    // The result first: when one stream fails, the other still gets its
    // flush, and the first error is the one that ends the run.
    try {
        flush_stream(result_stream);
    } catch (nb::python_error &) {
        ran_without_exception([&] { flush_stream(stdout_stream); });
        throw;
    }
    flush_stream(stdout_stream);
}

}  // namespace harborsweep
