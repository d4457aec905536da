# make demo   install what is missing, build, run the example
# make test   install what is missing, build, run every test
# make build  build the engine, the Python module and the C++ tests
# make bench  build in Release and time tabulon against sqlite3, DuckDB, pandas
#             and polars (bench/compare.py; results in bench/results)
# SANITIZE=1  build and test with AddressSanitizer and UBSan

PYTHON ?= python3
JOBS ?= 2
APT_PACKAGES := g++ make libboost-python-dev libgtest-dev
PIP_PACKAGES := pytest scikit-build-core cmake ninja

ifeq ($(SANITIZE),1)
BUILD_DIR ?= build-asan
CMAKE_FLAGS := -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTABULON_SANITIZE=ON
SANITIZER_RUNTIME := $(shell g++ -print-file-name=libasan.so) $(shell g++ -print-file-name=libubsan.so) $(shell g++ -print-file-name=libstdc++.so)
PYTEST_ENV := LD_PRELOAD="$(SANITIZER_RUNTIME)" ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
else
BUILD_DIR ?= build
CMAKE_FLAGS := -DCMAKE_BUILD_TYPE=Release
PYTEST_ENV :=
endif

.PHONY: all deps build test test-cpp test-python demo bench install clean

all: build

deps:
	@missing=""; for p in $(APT_PACKAGES); do dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing >/dev/null; \
	fi
	@$(PYTHON) -c "import pytest, scikit_build_core" 2>/dev/null && command -v cmake >/dev/null && command -v ninja >/dev/null || \
	  $(PYTHON) -m pip install -q $(PIP_PACKAGES)

build: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja $(CMAKE_FLAGS) -DTABULON_BUILD_TESTS=ON \
	  -DPython3_EXECUTABLE=$$(command -v $(PYTHON)) >/dev/null
	@cmake --build $(BUILD_DIR) -j $(JOBS)

test-cpp: build
	@cd $(BUILD_DIR) && ctest -j $(JOBS) --output-on-failure

test-python: build
	@$(PYTEST_ENV) PYTHONPATH=$(CURDIR)/$(BUILD_DIR) $(PYTHON) -m pytest -q tests/python

test: test-cpp test-python

demo: build
	@cd examples && PYTHONPATH=$(CURDIR)/$(BUILD_DIR) $(PYTHON) demo.py

# The peers are needed by the benchmark only, never by the tests.
BENCH_PIP_PACKAGES := duckdb polars pandas matplotlib

bench: build
	@$(PYTHON) -c "import duckdb, polars, pandas, matplotlib" 2>/dev/null || \
	  $(PYTHON) -m pip install -q $(BENCH_PIP_PACKAGES)
	@PYTHONPATH=$(CURDIR)/$(BUILD_DIR) $(PYTHON) bench/compare.py --scratch $(CURDIR)/$(BUILD_DIR)/bench-data

install: deps
	$(PYTHON) -m pip install .

clean:
	rm -rf build build-asan
