// Sending form POSTs through requests with one shared no-verification TLS
// context, so no connection loads the system's CA store.
#pragma once

#include <nanobind/nanobind.h>

namespace nb = nanobind;

namespace harborsweep {

// POSTs `fields` to `url` as `requests.post(url, data=fields, verify=False)`
// does and returns its response. When the module's `requests.post` is not
// requests' own function (a caller replaced it), that replacement is called
// instead, exactly so.
nb::object post_unverified(nb::handle module, nb::handle url, nb::handle fields);

}  // namespace harborsweep
