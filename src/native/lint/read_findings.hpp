// Findings of reading a check file: a file the run cannot open, a byte it
// cannot decode, and every line configparser refuses.
#pragma once

#include "lint/check_model.hpp"
#include "lint/findings.hpp"

namespace harborsweep::lint {

// Why a file cannot be read, as a message: what the run does, and the mend.
// `listed`: the run takes it from its directory, rather than through a
// reference.
std::string unreadable_message(const CheckModel &check, bool listed);

void find_in_reading(const CheckModel &check, const Decoding &decoding, Findings &findings);
void find_in_lines(const CheckModel &check, Findings &findings);

}  // namespace harborsweep::lint
