// Per-module state: what the module remembers for the process beyond its
// public attributes. Owned by the module object; the interpreter's garbage
// collector sees it through traverse/clear.
#pragma once

#include <Python.h>

namespace harborsweep {

struct ModuleState {
    // requests' own objects as the import found them, so that a caller's
    // replacement of one, made after the import, is recognised.
    PyObject *original_post;     // requests.api.post
    PyObject *original_request;  // requests.api.request, which post calls
    PyObject *original_session;  // requests.sessions.Session, which request makes
    PyObject *original_adapter;  // requests.sessions.HTTPAdapter, which a session mounts
    PyObject *adapter_class;     // the no-verification HTTPS adapter, made lazily
    PyObject *connection_scope;  // context variable: what the open call keeps
    PyObject *pprint_originals;  // what pprint defined for its layout (pprint_originals)
};

ModuleState &module_state(PyObject *module);

int traverse_module_state(PyObject *module, visitproc visit, void *arg);
int clear_module_state(PyObject *module);

}  // namespace harborsweep
