// Findings in the values the run reads: the description, the filter path,
// and the request fields with their output references.
#pragma once

#include "lint/check_model.hpp"
#include "lint/findings.hpp"

namespace harborsweep::lint {

void find_in_description(const CheckModel &check, Findings &findings);
void find_in_filters(const CheckModel &check, Findings &findings);
void find_in_fields(const CheckModel &check, Findings &findings);

}  // namespace harborsweep::lint
