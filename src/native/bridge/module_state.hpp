// Per-module state: what the module remembers for the process beyond its
// public attributes. Owned by the module object; the interpreter's garbage
// collector sees it through traverse/clear.
#pragma once

#include <Python.h>

namespace harborsweep {

struct ModuleState {
    PyObject *original_post;   // requests.api.post, requests' own function
    PyObject *adapter_class;   // the no-verification HTTPS adapter, made lazily
    PyObject *pprint_originals;  // what pprint defined for its layout (pprint_originals)
};

ModuleState &module_state(PyObject *module);

int traverse_module_state(PyObject *module, visitproc visit, void *arg);
int clear_module_state(PyObject *module);

}  // namespace harborsweep
