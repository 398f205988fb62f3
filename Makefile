# Set-up and everyday commands; README.md describes them.
PYTHON ?= python3
# What the package supports; `make test-all` runs the suite on each one found.
SUPPORTED_PYTHONS := python3.10 python3.11 python3.12 python3.13

PYENV_VERSIONS := $(or $(PYENV_ROOT),$(HOME)/.pyenv)/versions

# The interpreter PYTHON names, on PATH or in pyenv's versions folder
# (tools/find_python). Looked up once, and only when a recipe needs it: make
# expands a whole recipe before running its first line, so an unknown PYTHON
# stops the run before anything is created.
FOUND_PYTHON = $(eval FOUND_PYTHON := $$(shell tools/find_python '$(PYTHON)'))$(or $(FOUND_PYTHON),$(error PYTHON=$(PYTHON): no such interpreter on PATH or in $(PYENV_VERSIONS)))
PY_TAG = $(eval PY_TAG := $$(shell '$$(FOUND_PYTHON)' -c 'import sys; print("py%d.%d" % sys.version_info[:2])'))$(PY_TAG)

VENV ?= .venv/$(PY_TAG)
BIN = $(VENV)/bin
PIP_INSTALL = -m pip install -q --disable-pip-version-check --no-build-isolation

# $(call venv_ready,DIR): a virtual environment in DIR holding what building
# the package needs, so that pip can build without isolation and CMake keeps
# its build directory (build/<wheel tag>) from one install to the next: an
# unchanged tree compiles nothing, an edited source file compiles alone.
# A failed creation leaves no half-made DIR.
define venv_ready
test -x $(1)/bin/python || $(FOUND_PYTHON) -m venv $(1) || { rm -rf $(1); exit 1; }
$(1)/bin/python tools/build_requirements.py $(1)/.build-requirements
endef

.PHONY: install test test-all demo bench

# A virtual environment per interpreter, with the package built from this
# tree and its test dependencies.
install:
	$(call venv_ready,$(VENV))
	$(BIN)/python $(PIP_INSTALL) ".[test]"

test: install
	$(BIN)/python -m pytest

# `make test` with every supported interpreter that the machine has.
test-all:
	@status=0; ran=0; \
	for name in $(SUPPORTED_PYTHONS); do \
	    found=$$(tools/find_python $$name) || { echo "=== $$name: not found on PATH or in $(PYENV_VERSIONS), skipped"; continue; }; \
	    echo "=== make test PYTHON=$$found"; ran=$$((ran + 1)); \
	    $(MAKE) --no-print-directory test PYTHON=$$found || { echo "=== FAILED with $$name"; status=1; }; \
	done; \
	if [ $$ran = 0 ]; then echo "=== none of $(SUPPORTED_PYTHONS) found"; exit 1; fi; \
	exit $$status

# The example checks against a stand-in controller on 127.0.0.1.
demo: install
	$(BIN)/python tools/demo.py

bench: install
	for script in bench/bench_*.py; do $(BIN)/python $$script || exit 1; done
