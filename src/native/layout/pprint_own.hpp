// Whether pprint, as it stands when a result is written, is still pprint's
// own in everything that it reads while it lays out dicts, lists, texts and
// scalars: the module's helpers, the printer class and its bases, and its
// table of methods by type. A caller's change to any of them is left to
// pprint itself to carry out.
#pragma once

#include <nanobind/nanobind.h>

namespace nb = nanobind;

namespace harborsweep {

// What pprint defined for its layout, taken when the module starts: the
// functions of its printer class, of `_safe_key` and its helpers, each with
// its code, and the builtins that they name, each with its value. A function
// that only claims one of pprint's names is not among them.
nb::object pprint_originals(nb::handle pprint);

// True when `pprint` is a module whose helpers are its own and
// `printer_type` a class whose methods and bases are pprint's PrettyPrinter's,
// each function one of `originals` (what pprint_originals took) still running
// its code, and the builtins they name unchanged.
bool pprint_is_own(nb::handle pprint, nb::handle printer_type, nb::handle originals);

}  // namespace harborsweep
