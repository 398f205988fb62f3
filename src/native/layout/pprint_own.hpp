// Whether pprint, as it stands when a result is written, is still pprint's
// own in everything that it reads while it lays out dicts, lists, texts and
// scalars: the module's helpers, the printer class and its bases, and its
// table of methods by type. A caller's change to any of them is left to
// pprint itself to carry out.
#pragma once

#include <nanobind/nanobind.h>

namespace nb = nanobind;

namespace harborsweep {

// True when `pprint` is a module whose helpers are its own and
// `printer_type` a class whose methods and bases are pprint's PrettyPrinter's.
bool pprint_is_own(nb::handle pprint, nb::handle printer_type);

}  // namespace harborsweep
