// Writing results: through the module's `pp`, looked up at call time.
#include "result_writer.hpp"

#include "module_globals.hpp"

namespace harborsweep {

void write_result(nb::handle module, nb::handle value) {
    global(module, "pp").attr("pprint")(value);
}

}  // namespace harborsweep
