// Functions of the module. Each is a builtin function whose self is the
// module and whose __module__ is the module's name, as a C extension's own
// functions are, so pickling, help() and inspect see ordinary functions.
#include "bridge/module_functions.hpp"

namespace harborsweep {

void define_functions(nb::handle module, std::span<PyMethodDef> definitions) {
    nb::object module_name = nb::borrow(module).attr("__name__");
    for (PyMethodDef &definition : definitions) {
        nb::object function =
            nb::steal(PyCFunction_NewEx(&definition, module.ptr(), module_name.ptr()));
        if (!function.is_valid())
            nb::raise_python_error();
        nb::setattr(module, definition.ml_name, function);
    }
}

}  // namespace harborsweep
