// Flushing standard output. Sent to a file or a pipe, standard output is
// block-buffered, and the run has no timeout: a run that is ended from
// outside (timeout, a cancelled CI job, SIGKILL) while it waits on the
// controller would otherwise take the results it had already printed with it.
#include "run/standard_output.hpp"

#include "bridge/module_globals.hpp"

namespace harborsweep {

void flush_standard_output(nb::handle module) {
    nb::object stdout_stream = global(module, "sys").attr("stdout");
    if (stdout_stream.is_none())
        return;
    nb::object flush = nb::steal(PyObject_GetAttrString(stdout_stream.ptr(), "flush"));
    if (!flush.is_valid()) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError))
            nb::raise_python_error();
        PyErr_Clear();
        return;
    }
    flush();
}

}  // namespace harborsweep
