# The release build's toolchain: zig, through the wrappers beside this file,
# building for the target that ZIG_TARGET names (tools/build_wheel.py sets
# it, with ZIG). A target of another architecture than the machine's is a
# cross build, which CMake must be told of: it then neither runs what it
# compiles nor looks for the host's libraries.
set(CMAKE_CXX_COMPILER ${CMAKE_CURRENT_LIST_DIR}/c++)
set(CMAKE_AR ${CMAKE_CURRENT_LIST_DIR}/ar)
set(CMAKE_RANLIB ${CMAKE_CURRENT_LIST_DIR}/ranlib)
if(NOT "$ENV{ZIG_TARGET}" MATCHES "^([a-z0-9_]+)-linux-")
  message(FATAL_ERROR "ZIG_TARGET='$ENV{ZIG_TARGET}': expected ARCH-linux-gnu.MAJOR.MINOR")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL CMAKE_HOST_SYSTEM_PROCESSOR)
  set(CMAKE_SYSTEM_NAME Linux)
  set(CMAKE_SYSTEM_PROCESSOR ${CMAKE_MATCH_1})
endif()
# zig's linker strips the module; the install step's strip is then a no-op
# rather than the host's strip, which need not read the target's binaries.
set(CMAKE_MODULE_LINKER_FLAGS_INIT -s)
set(CMAKE_STRIP true)
