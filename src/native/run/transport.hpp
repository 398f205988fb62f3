// Sending form POSTs through requests on the connections of the running
// call, with one shared no-verification TLS context, so no connection loads
// the system's CA store.
#pragma once

#include <nanobind/nanobind.h>

namespace nb = nanobind;

namespace harborsweep {

// POSTs `fields` to `url` as `requests.post(url, data=fields, verify=False)`
// does and returns its response. While requests.post and what it builds a
// request with are requests' own, the request goes out on a connection kept
// for the running call (see connection_scope.hpp); when a caller has
// replaced one of them, requests.post is called instead, exactly so.
nb::object post_unverified(nb::handle module, nb::handle url, nb::handle fields);

}  // namespace harborsweep
