// Per-module state. The slots hold strong references that the module owns;
// this file is the only place that releases them.
#include "bridge/module_state.hpp"

namespace harborsweep {

ModuleState &module_state(PyObject *module) {
    return *static_cast<ModuleState *>(PyModule_GetState(module));
}

int traverse_module_state(PyObject *module, visitproc visit, void *arg) {
    ModuleState *state = static_cast<ModuleState *>(PyModule_GetState(module));
    if (state) {
        Py_VISIT(state->original_post);
        Py_VISIT(state->original_request);
        Py_VISIT(state->original_session);
        Py_VISIT(state->original_adapter);
        Py_VISIT(state->adapter_class);
        Py_VISIT(state->pprint_originals);
        Py_VISIT(state->connection_scope);
    }
    return 0;
}

int clear_module_state(PyObject *module) {
    ModuleState *state = static_cast<ModuleState *>(PyModule_GetState(module));
    if (state) {
        Py_CLEAR(state->original_post);
        Py_CLEAR(state->original_request);
        Py_CLEAR(state->original_session);
        Py_CLEAR(state->original_adapter);
        Py_CLEAR(state->adapter_class);
        Py_CLEAR(state->pprint_originals);
        Py_CLEAR(state->connection_scope);
    }
    return 0;
}

}  // namespace harborsweep
