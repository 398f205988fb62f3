# Cross-compiles the extension for 64-bit ARM Linux on any Linux host with
# zig (ZIG in the environment names the command, such as
# "python -m ziglang"). zig brings its own glibc stubs and libc++: the
# target's glibc version caps the symbol versions the extension may need
# (2.17, what manylinux2014 promises), and libc++ is linked in statically,
# so the wheel needs no C++ runtime on the target.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER ${CMAKE_CURRENT_LIST_DIR}/zig-cc)
set(CMAKE_CXX_COMPILER ${CMAKE_CURRENT_LIST_DIR}/zig-c++)
set(CMAKE_C_COMPILER_TARGET aarch64-linux-gnu.2.17)
set(CMAKE_CXX_COMPILER_TARGET aarch64-linux-gnu.2.17)
set(CMAKE_AR ${CMAKE_CURRENT_LIST_DIR}/zig-ar)
set(CMAKE_RANLIB ${CMAKE_CURRENT_LIST_DIR}/zig-ranlib)
# CMake would scan C++20 sources for modules with a clang-scan-deps that
# zig does not ship; the sources use none.
set(CMAKE_CXX_SCAN_FOR_MODULES OFF)
# Stripped by the linker, and nothing exported but the module's entry
# point: the statically linked libc++ must not leak into the interpreter's
# symbol namespace. The install step's strip is a no-op, since the host's
# strip may not read an ARM binary.
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-s -Wl,--version-script=${CMAKE_CURRENT_LIST_DIR}/exports.map")
set(CMAKE_STRIP true)
