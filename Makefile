# Set-up and everyday commands; README.md describes them.
PYTHON ?= python3
VENV ?= .venv/$(shell $(PYTHON) -c 'import sys; print("py%d.%d" % sys.version_info[:2])')
BIN := $(VENV)/bin
PIP_INSTALL = -m pip install -q --disable-pip-version-check --no-build-isolation

# $(call venv_ready,DIR): a virtual environment in DIR holding what building
# the package needs, so that pip can build without isolation and CMake keeps
# its build directory (build/<wheel tag>) from one install to the next: an
# unchanged tree compiles nothing, an edited source file compiles alone.
# A failed creation leaves no half-made DIR.
define venv_ready
test -x $(1)/bin/python || $(PYTHON) -m venv $(1) || { rm -rf $(1); exit 1; }
$(1)/bin/python tools/build_requirements.py $(1)/.build-requirements
endef

.PHONY: install test demo bench

# A virtual environment per interpreter, with the package built from this
# tree and its test dependencies.
install:
	$(call venv_ready,$(VENV))
	$(BIN)/python $(PIP_INSTALL) ".[test]"

test: install
	$(BIN)/python -m pytest

# The example checks against a stand-in controller on 127.0.0.1.
demo: install
	$(BIN)/python tools/demo.py

bench: install
	for script in bench/bench_*.py; do $(BIN)/python $$script || exit 1; done
