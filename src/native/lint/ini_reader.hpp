// Reading a check file's lines as configparser.ConfigParser() reads them.
#pragma once

#include "lint/decoded_text.hpp"
#include "lint/ini_file.hpp"

namespace harborsweep::lint {

IniFile read_ini(const SourceText &source);

}  // namespace harborsweep::lint
