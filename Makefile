# make demo   install what is missing, build the module alone (quietly: the
#             build's output goes to build/module-build.log and is shown
#             only when it fails), run the example
# make test   install what is missing, build, run every test
# make build  build the engine, the Python module and the C++ tests
# make module build the Python module alone, quietly, as make demo does
# make wheel  build a wheel of the module into dist/ (pip wheel .)
# make bench  build in Release and time tabulon against sqlite3, DuckDB, pandas
#             and polars (bench/compare.py; results in bench/results)
# SANITIZE=1  build and test with AddressSanitizer and UBSan
# TSAN=1      build and test with ThreadSanitizer (build-tsan)
# make test-tsan  build with ThreadSanitizer, run the C++ tests and the
#             Python tests of loads and of threads under it
# make fuzz   install clang if missing, build the libFuzzer targets, run each
#             for FUZZ_SECONDS (default 60) from its checked-in corpus

PYTHON ?= python3
JOBS ?= 2
# What the module needs, and what the C++ tests need besides.
APT_PACKAGES := g++ make zlib1g-dev
TEST_APT_PACKAGES := libgtest-dev
PIP_PACKAGES := pytest scikit-build-core nanobind cmake ninja mypy

ifeq ($(SANITIZE),1)
BUILD_DIR ?= build-asan
CMAKE_FLAGS := -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTABULON_SANITIZE=ON
SANITIZER_RUNTIME := $(shell g++ -print-file-name=libasan.so) $(shell g++ -print-file-name=libubsan.so) $(shell g++ -print-file-name=libstdc++.so)
PYTEST_ENV := LD_PRELOAD="$(SANITIZER_RUNTIME)" ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
CTEST_ENV := ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
else ifeq ($(TSAN),1)
# The runtime is preloaded into the uninstrumented interpreter, so that it
# sees every lock and thread of the process from the start; into the
# interpreter's own executable, since a shell (a pyenv shim is one) crashes
# under it. The first report fails the run. CPython needs no suppressions:
# none of its code is instrumented, and its locks (the GIL among them) are
# pthread calls the runtime intercepts, so they order our threads' accesses
# as they should. polars crashes while it is imported under this runtime:
# its tests are skipped. Every step runs several times slower under it,
# so the tests' bounds on how soon Ctrl-C ends a load are ten times
# looser (TABULON_SLOWDOWN).
BUILD_DIR ?= build-tsan
CMAKE_FLAGS := -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTABULON_TSAN=ON
TSAN_OPTIONS_ALL := halt_on_error=1:second_deadlock_stack=1
PYTEST_PYTHON := $(shell $(PYTHON) -c "import sys; print(sys.executable)")
PYTEST_ENV := LD_PRELOAD="$(shell g++ -print-file-name=libtsan.so)" TSAN_OPTIONS=$(TSAN_OPTIONS_ALL) \
  TABULON_UNLOADABLE_PEERS=polars TABULON_SLOWDOWN=10
# The first report ends the process; pytest must not hold its standard error
# then, or the report is lost with it.
PYTEST_FLAGS := --capture=sys
CTEST_ENV := TSAN_OPTIONS=$(TSAN_OPTIONS_ALL)
else
BUILD_DIR ?= build
CMAKE_FLAGS := -DCMAKE_BUILD_TYPE=Release
PYTEST_ENV :=
CTEST_ENV :=
endif

PYTEST_PYTHON ?= $(PYTHON)
PYTEST_FLAGS ?=

FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := fuzz_commands fuzz_csv fuzz_config
FUZZ_APT_PACKAGES := clang libclang-rt-14-dev zlib1g-dev

.PHONY: all deps test-deps build module test test-cpp test-python test-peers test-tsan test-threaded demo bench install wheel clean fuzz-deps fuzz-build fuzz

all: build

# Installs with apt those of the packages $(1) that are missing.
apt_install = missing=""; for p in $(1); do dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing >/dev/null; \
	fi

deps:
	@$(call apt_install,$(APT_PACKAGES))
	@$(PYTHON) -c "import pytest, scikit_build_core, nanobind, mypy" 2>/dev/null && command -v cmake >/dev/null && command -v ninja >/dev/null || \
	  $(PYTHON) -m pip install -q $(PIP_PACKAGES)

test-deps: deps
	@$(call apt_install,$(TEST_APT_PACKAGES))

build: test-deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja $(CMAKE_FLAGS) -DTABULON_BUILD_TESTS=ON \
	  -DPython_EXECUTABLE=$$(command -v $(PYTHON)) >/dev/null
	@cmake --build $(BUILD_DIR) -j $(JOBS)

# The module alone, its C++ tests left as the build tree has them (none in a
# fresh one).
module: deps
	@mkdir -p $(BUILD_DIR)
	@echo "building the tabulon module (log: $(BUILD_DIR)/module-build.log)"
	@{ cmake -S . -B $(BUILD_DIR) -G Ninja $(CMAKE_FLAGS) -DPython_EXECUTABLE=$$(command -v $(PYTHON)) && \
	   cmake --build $(BUILD_DIR) -j $(JOBS) --target tabulon; } > $(BUILD_DIR)/module-build.log 2>&1 || \
	  { cat $(BUILD_DIR)/module-build.log; echo "the build failed: its output is above and in $(BUILD_DIR)/module-build.log"; exit 1; }

test-cpp: build
	@cd $(BUILD_DIR) && $(CTEST_ENV) ctest -j $(JOBS) --output-on-failure

test-python: build test-peers
	@$(PYTEST_ENV) PYTHONPATH=$(CURDIR)/$(BUILD_DIR) $(PYTEST_PYTHON) -m pytest -q $(PYTEST_FLAGS) tests/python

test: test-cpp test-python

# The tests where loads and threads meet, which make test-tsan runs under
# ThreadSanitizer: the C++ tests but those of queries, Arrow export, parsing
# and one exhaustive single-threaded renumbering, and the Python tests of
# loads (whole or undone, interrupted) and of threads sharing
# a database while it loads; not those of queries and conversions, nor the test
# of running out of memory, whose limit the runtime's own allocator cannot
# keep to, nor Ctrl-C in a sleeping Python producer, a signal the runtime
# may hold back until the producer wakes, after the load; nor a result's
# way through pandas, whose conversion runs on pyarrow's own threads, which
# the runtime cannot follow (it reports their reference counts as races).
THREADED_CTEST_SKIPPED_SUITES := CombinedBooleanExpressionTest ConditionBlockTest FieldComparatorTest \
  IndexSetTest JoinFactoryTest JoinedSetTest QuerySetTest ResultSetTest SimpleConditionTest TableIndexNullTest \
  TableIndexTest TableIndexThroughParserTest TableSetTest ArrowBlockPool ArrowExportTest ParserKit Tokenizer StringFormat
space := $(subst ,, )
THREADED_CTEST_EXCLUDE := (^|/)($(subst $(space),|,$(strip $(THREADED_CTEST_SKIPPED_SUITES))))\.|^ColumnMap\.EveryArrivalOrderFillsEveryNumber$$
THREADED_PYTHON_TESTS := test_tables.py test_missing_values.py test_interrupts.py test_threads.py test_arrow_load.py
THREADED_PYTHON_SKIPPED := agree_with_sqlite every_way_out memory_exhaustion queries_and_reads stream_read \
  other_threads two_threads signal_handler_calling distributed_example \
  slow_python_producer pandas

test-threaded: build test-peers
	@cd $(BUILD_DIR) && $(CTEST_ENV) ctest -j $(JOBS) --output-on-failure -E '$(THREADED_CTEST_EXCLUDE)'
	@$(PYTEST_ENV) PYTHONPATH=$(CURDIR)/$(BUILD_DIR) $(PYTEST_PYTHON) -m pytest -q $(PYTEST_FLAGS) \
	  -k "not ($(subst $(space), or ,$(strip $(THREADED_PYTHON_SKIPPED))))" $(addprefix tests/python/,$(THREADED_PYTHON_TESTS))

test-tsan:
	@$(MAKE) --no-print-directory TSAN=1 test-threaded

demo: module
	@cd examples && PYTHONPATH=$(CURDIR)/$(BUILD_DIR) $(PYTHON) demo.py

# The libraries results are handed to, for the Python tests that read
# results through them and load tables from them, and Dask, for the test of
# examples/distributed.py. Each is installed if it can be; a test needing one
# that could not be installed is skipped (.ci/run sets
# TABULON_REQUIRE_PEERS, which makes it fail instead).
TEST_PEERS := pyarrow polars pandas duckdb dask distributed

test-peers:
	@for p in $(TEST_PEERS); do \
	  $(PYTHON) -c "import $$p" 2>/dev/null || $(PYTHON) -m pip install -q $$p || \
	    echo "warning: $$p could not be installed; the tests that need it are skipped"; \
	done

# The peers of the benchmark.
BENCH_PIP_PACKAGES := duckdb polars pandas pyarrow matplotlib

bench: build
	@$(PYTHON) -c "import duckdb, polars, pandas, pyarrow, matplotlib" 2>/dev/null || \
	  $(PYTHON) -m pip install -q $(BENCH_PIP_PACKAGES)
	@PYTHONPATH=$(CURDIR)/$(BUILD_DIR) $(PYTHON) bench/compare.py --scratch $(CURDIR)/$(BUILD_DIR)/bench-data

install:
	$(PYTHON) -m pip install .

wheel:
	$(PYTHON) -m pip wheel --no-deps -w dist .

fuzz-deps:
	@$(call apt_install,$(FUZZ_APT_PACKAGES))
	@command -v cmake >/dev/null && command -v ninja >/dev/null || $(PYTHON) -m pip install -q cmake ninja

fuzz-build: fuzz-deps
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DTABULON_FUZZ=ON >/dev/null
	@cmake --build $(FUZZ_DIR) -j $(JOBS)

# Each target starts from its checked-in corpus; what it adds goes to a
# scratch directory, crashes to $(FUZZ_DIR)/artifacts. Paths are absolute
# because the targets change their working directory.
fuzz: fuzz-build
	@mkdir -p $(FUZZ_DIR)/artifacts
	@for t in $(FUZZ_TARGETS); do \
	  work=$$(mktemp -d); \
	  dict=""; if [ -f tests/fuzz/$$t.dict ]; then dict="-dict=$(CURDIR)/tests/fuzz/$$t.dict"; fi; \
	  echo "fuzzing $$t for $(FUZZ_SECONDS)s"; \
	  if ! $(FUZZ_DIR)/$$t -max_total_time=$(FUZZ_SECONDS) -timeout=20 -rss_limit_mb=2048 $$dict \
	      -artifact_prefix=$(CURDIR)/$(FUZZ_DIR)/artifacts/$$t- $$work $(CURDIR)/tests/fuzz/corpus/$$t \
	      > $(FUZZ_DIR)/$$t.log 2>&1; then \
	    tail -n 60 $(FUZZ_DIR)/$$t.log; rm -rf $$work; exit 1; \
	  fi; \
	  grep -E '^#[0-9]+[[:space:]]+DONE' $(FUZZ_DIR)/$$t.log || true; \
	  rm -rf $$work; \
	done

clean:
	rm -rf build build-asan build-tsan $(FUZZ_DIR) dist wheelhouse
