# Set-up and checks. A fresh machine needs only `make demo` and `make test`.
PYTHON ?= python3
VENV := .venv
VENV_NP1 := .venv-np1
VENV_BENCH := .venv-bench
BUILD_DIR := build/cmake
WHEEL_DIR := dist
PYTEST_ARGS ?= -q

.PHONY: all build demo test test-np2 test-np1 bench sanitize clean

all: test

# Main environment: current numpy 2.x, the build backend and the test tools.
$(VENV)/.ready: Makefile
	$(PYTHON) -m venv $(VENV)
	$(VENV)/bin/pip install -q --upgrade "scikit-build-core>=0.9" "numpy>=2" ninja pytest hypothesis
	touch $@

# Second environment for the numpy 1.x platform, fed with the same wheel.
$(VENV_NP1)/.ready: Makefile
	$(PYTHON) -m venv $(VENV_NP1)
	$(VENV_NP1)/bin/pip install -q "numpy==1.26.4" pytest hypothesis
	touch $@

# One wheel, built incrementally against numpy 2 headers; it runs under numpy 1.x and 2.x.
build: $(VENV)/.ready
	rm -rf $(WHEEL_DIR)
	$(VENV)/bin/pip wheel -q --no-build-isolation --no-deps -Cbuild-dir=$(BUILD_DIR) -w $(WHEEL_DIR) .
	$(VENV)/bin/pip install -q --force-reinstall --no-deps $(WHEEL_DIR)/*.whl

demo: build
	$(VENV)/bin/python examples/demo.py

test-np2: build
	$(VENV)/bin/pytest $(PYTEST_ARGS) tests

test-np1: build $(VENV_NP1)/.ready
	$(VENV_NP1)/bin/pip install -q --force-reinstall --no-deps $(WHEEL_DIR)/*.whl
	$(VENV_NP1)/bin/pytest $(PYTEST_ARGS) tests

test: test-np2 test-np1

# Benchmark environment: the peers from PyPI beside the wheel of `make build`. tulipy only
# ships a source distribution; when it does not build, the benchmark runs without it.
$(VENV_BENCH)/.ready: Makefile benchmarks/requirements.txt
	$(PYTHON) -m venv $(VENV_BENCH)
	$(VENV_BENCH)/bin/pip install -q -r benchmarks/requirements.txt
	-$(VENV_BENCH)/bin/pip install -q tulipy
	touch $@

# BENCH_QUICK=1 for a smoke run; writes benchmarks/RESULTS.md and benchmarks/ratios.png.
bench: build $(VENV_BENCH)/.ready
	$(VENV_BENCH)/bin/pip install -q --force-reinstall --no-deps $(WHEEL_DIR)/*.whl
	$(VENV_BENCH)/bin/python benchmarks/bench.py

clean:
	rm -rf build $(WHEEL_DIR) $(VENV) $(VENV_NP1) $(VENV_BENCH) $(VENV_SAN)

# The whole suite against a build instrumented with AddressSanitizer and UBSan.
# VELK_SANITIZE_RUN makes the generated and repeated-call tests run fewer cases.
VENV_SAN := .venv-sanitize
SAN_LEAK_OPTIONS = LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitizer-suppressions.txt:print_suppressions=0
SAN_RUNTIME = $(shell g++ -print-file-name=libasan.so) $(shell g++ -print-file-name=libubsan.so)

$(VENV_SAN)/.ready: Makefile
	$(PYTHON) -m venv $(VENV_SAN)
	$(VENV_SAN)/bin/pip install -q "scikit-build-core>=0.9" "numpy>=2" ninja pytest hypothesis
	touch $@

sanitize: $(VENV_SAN)/.ready
	rm -rf build/sanitize-dist
	$(VENV_SAN)/bin/pip wheel -q --no-build-isolation --no-deps -Cbuild-dir=build/sanitize \
	    -Ccmake.define.VELK_SANITIZE=ON -w build/sanitize-dist .
	$(VENV_SAN)/bin/pip install -q --force-reinstall --no-deps build/sanitize-dist/*.whl
	@# LeakSanitizer stops the world through ptrace, which some sandboxes forbid; probe it
	@# with an import and fall back to ASan and UBSan alone where it cannot run.
	cd build && leaks=1; \
	LD_PRELOAD="$(SAN_RUNTIME)" PYTHONMALLOC=malloc ASAN_OPTIONS=detect_leaks=1 $(SAN_LEAK_OPTIONS) \
	    $(CURDIR)/$(VENV_SAN)/bin/python -c "import velkized_ta.velk_ta_funcs" >/dev/null 2>&1 \
	    || { leaks=0; echo "sanitize: LeakSanitizer cannot run here; leak detection off"; }; \
	cd $(CURDIR) && VELK_SANITIZE_RUN=1 LD_PRELOAD="$(SAN_RUNTIME)" PYTHONMALLOC=malloc \
	ASAN_OPTIONS=detect_leaks=$$leaks:abort_on_error=1:strict_init_order=1 $(SAN_LEAK_OPTIONS) \
	UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	    $(VENV_SAN)/bin/pytest $(PYTEST_ARGS) -p no:cacheprovider tests
