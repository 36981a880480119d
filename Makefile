# Set-up and checks. A fresh machine needs only `make demo` and `make test`.
PYTHON ?= python3
VENV := .venv
VENV_BENCH := .venv-bench
VENV_DOCS := .venv-docs
BUILD_DIR := build/cmake
WHEEL_DIR := dist
PYTEST_ARGS ?= -q

.PHONY: all build demo test test-default bench docs sanitize clean

all: test

# Environment of `make demo`, `make bench` and `make docs`: numpy 2.x, the build backend, matplotlib.
$(VENV)/.ready: Makefile
	$(PYTHON) -m venv $(VENV)
	$(VENV)/bin/pip install -q --upgrade "scikit-build-core>=0.9" "numpy>=2" ninja pytest hypothesis matplotlib
	touch $@

# One wheel, built incrementally against numpy 2 headers; it runs under numpy 1.x and 2.x.
build: $(VENV)/.ready
	rm -rf $(WHEEL_DIR)
	$(VENV)/bin/pip wheel -q --no-build-isolation --no-deps -Cbuild-dir=$(BUILD_DIR) -w $(WHEEL_DIR) .
	$(VENV)/bin/pip install -q --force-reinstall --no-deps $(WHEEL_DIR)/*.whl

# Prints every indicator's last value on the sample bars and writes demo.png.
demo: build
	$(VENV)/bin/python examples/demo.py --chart demo.png

# Every CPython from 3.9 found through pyenv or on the PATH, each with the newest numpy 2.x
# it takes and, up to 3.12, with numpy 1.26; environments in .venv-matrix, builds in build/matrix.
test:
	$(PYTHON) tools/test_matrix.py --python $(PYTHON) -- $(PYTEST_ARGS)

# The quick check while developing: the default interpreter alone, under numpy 2.x and 1.26.
test-default:
	$(PYTHON) tools/test_matrix.py --python $(PYTHON) --default-only -- $(PYTEST_ARGS)

# Benchmark environment: the peers from PyPI beside the wheel of `make build`. tulipy only
# ships a source distribution; when it does not build, the benchmark runs without it.
$(VENV_BENCH)/.ready: Makefile benchmarks/requirements.txt
	$(PYTHON) -m venv $(VENV_BENCH)
	$(VENV_BENCH)/bin/pip install -q -r benchmarks/requirements.txt
	-$(VENV_BENCH)/bin/pip install -q tulipy
	touch $@

# BENCH_QUICK=1 for a smoke run; writes benchmarks/RESULTS.md, ratios.png and CLASSIC.md.
bench: build $(VENV_BENCH)/.ready
	$(VENV_BENCH)/bin/pip install -q --force-reinstall --no-deps $(WHEEL_DIR)/*.whl
	$(VENV_BENCH)/bin/python benchmarks/bench.py
	$(VENV_BENCH)/bin/python benchmarks/many_series.py $(if $(BENCH_QUICK),--quick)
	STREAM_QUICK=$(BENCH_QUICK) $(VENV_BENCH)/bin/python benchmarks/stream_bench.py
	$(VENV_BENCH)/bin/python benchmarks/classic_bench.py $(if $(BENCH_QUICK),--quick)

# The documentation site, built from docs/ into site/ with the wheel of `make build`; the indicator
# charts are drawn during the build. Warnings fail it.
$(VENV_DOCS)/.ready: Makefile docs/requirements.txt
	$(PYTHON) -m venv $(VENV_DOCS)
	$(VENV_DOCS)/bin/pip install -q -r docs/requirements.txt
	touch $@

docs: build $(VENV_DOCS)/.ready
	$(VENV_DOCS)/bin/pip install -q --force-reinstall --no-deps $(WHEEL_DIR)/*.whl
	MPLBACKEND=Agg NO_MKDOCS_2_WARNING=1 $(VENV_DOCS)/bin/mkdocs build --strict --clean --site-dir site

# .venv-np1 is left by earlier versions of this Makefile.
clean:
	rm -rf build $(WHEEL_DIR) $(VENV) .venv-matrix $(VENV_BENCH) $(VENV_SAN) $(VENV_DOCS) .venv-np1 site demo.png

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
