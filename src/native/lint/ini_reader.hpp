// Reading a check file as configparser.ConfigParser() reads it.
#pragma once

#include <nanobind/nanobind.h>

#include <string>

#include "lint/file_decoding.hpp"
#include "lint/ini_file.hpp"

namespace harborsweep::lint {

IniFile read_ini(const std::string &bytes, const Decoding &decoding);

}  // namespace harborsweep::lint
