# Set-up and everyday commands; README.md describes them.
PYTHON ?= python3
VENV ?= .venv/$(shell $(PYTHON) -c 'import sys; print("py%d.%d" % sys.version_info[:2])')
BIN := $(VENV)/bin

.PHONY: install test demo bench format format-check

# A virtual environment per interpreter, with the package built from this
# tree and its test dependencies.
install:
	test -x $(BIN)/python || $(PYTHON) -m venv $(VENV)
	$(BIN)/python -m pip install -q --disable-pip-version-check ".[test]"

test: install
	$(BIN)/python -m pytest

# The example checks against a stand-in controller on 127.0.0.1.
demo: install
	$(BIN)/python tools/demo.py

bench: install
	for script in bench/bench_*.py; do $(BIN)/python $$script || exit 1; done

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
	$(PYTHON) -m venv $(dir $(@D))
	$(dir $@)python -m pip install -q --disable-pip-version-check clang-format==$(CLANG_FORMAT_VERSION)

format: $(CLANG_FORMAT)
	$(CLANG_FORMAT) -i $(CXX_SOURCES)

format-check: $(CLANG_FORMAT)
	$(CLANG_FORMAT) --dry-run -Werror $(CXX_SOURCES)
