# Set-up and checks. A fresh machine needs only `make demo` and `make test`.
PYTHON ?= python3
VENV := .venv
VENV_BENCH := .venv-bench
VENV_DOCS := .venv-docs
BUILD_DIR := build/cmake
WHEEL_DIR := build/dev-dist
PYTEST_ARGS ?= -q

.PHONY: all build demo test test-default wheels test-clang check-aarch64 bench docs sanitize clean snapshot mutants

all: test

# Environment of `make demo`, `make bench` and `make docs`: numpy 2.x, the build backend, matplotlib,
# and pandas (the `velkized_ta[pandas]` extra) for the README's examples.
$(VENV)/.ready: Makefile
	$(PYTHON) -m venv $(VENV)
	$(VENV)/bin/pip install -q --upgrade "scikit-build-core>=0.11" "numpy>=2" ninja pytest hypothesis matplotlib pandas
	touch $@

# One wheel for development, built incrementally against numpy 2 headers; it runs under numpy 1.x
# and 2.x. The wheels to hand out come from `make wheels`.
build: $(VENV)/.ready
	rm -rf $(WHEEL_DIR)
	$(VENV)/bin/pip wheel -q --no-build-isolation --no-deps -Cbuild-dir=$(BUILD_DIR) -w $(WHEEL_DIR) .
	$(VENV)/bin/pip install -q --force-reinstall --no-deps $(WHEEL_DIR)/*.whl

# Prints every indicator's last value on the sample bars and writes demo.png.
demo: build
	$(VENV)/bin/python examples/demo.py --chart demo.png

# Every CPython from 3.9 found through pyenv or on the PATH, each with the newest numpy 2.x
# it takes and, up to 3.12, with numpy 1.26, testing the wheels of `make wheels` (built or
# brought up to date first) and the sdist; environments in .venv-matrix, builds in build/matrix.
test:
	$(PYTHON) tools/test_matrix.py --python $(PYTHON) -- $(PYTEST_ARGS)

# One manylinux wheel per CPython from 3.9 on this machine, repaired by auditwheel (which prints
# the policy each meets), and the sdist, in dist/.
wheels:
	$(PYTHON) tools/test_matrix.py --python $(PYTHON) --wheels-only

# The quick check while developing: the default interpreter alone, under numpy 2.x and 1.26.
test-default:
	$(PYTHON) tools/test_matrix.py --python $(PYTHON) --default-only -- $(PYTEST_ARGS)

# Re-records the frozen module's bit snapshot (tests/snapshot/frozen.json.gz) from the installed
# build. Only for a deliberate change of its outputs: REASON is stored in the file and goes into
# the commit message.
snapshot: build
	@test -n "$(REASON)" || { echo 'make snapshot needs REASON="why the frozen outputs change"'; exit 2; }
	$(VENV)/bin/python tools/snapshot.py --write --reason "$(REASON)"

# Plants each mutant of tools/mutants.py in a scratch worktree under build/mutants, rebuilds and
# runs the tests; prints the first test that caught each one, or "survived". Not part of CI.
mutants: $(VENV)/.ready
	$(VENV)/bin/python tools/mutants.py $(MUTANTS_ARGS)

# The suite against a build by clang 16 (Debian's, installed when missing; clang 14 lacks C++20's
# capture of structured bindings), after checking that neither build leaves a classic function on
# 4- or 8-wide lanes out of line (tools/check_lane_calls.py: the AVX2 lanes never run here), then the outcomes of
# the snapshot corpus with the classic family (tools/snapshot.py --results) from it, also on the
# portable FMA and narrow vector paths, against the GCC build of `make build`: a difference of
# value, NaN position, outcome or error fails; the sign of a NaN made from two NaNs is the
# compiler's operand order on x86-64, and is counted apart.
VENV_CLANG := .venv-clang
CLANG_CXX := clang++-16

$(VENV_CLANG)/.ready: Makefile
	$(PYTHON) -m venv $(VENV_CLANG)
	$(VENV_CLANG)/bin/pip install -q "scikit-build-core>=0.11" "numpy>=2" ninja pytest hypothesis
	touch $@

test-clang: build $(VENV_CLANG)/.ready
	tools/toolchains.sh clang
	rm -rf build/clang-dist
	$(VENV_CLANG)/bin/pip wheel -q --no-build-isolation --no-deps -Cbuild-dir=build/clang \
	    -Ccmake.define.CMAKE_CXX_COMPILER=$(CLANG_CXX) -w build/clang-dist .
	$(VENV_CLANG)/bin/pip install -q --force-reinstall --no-deps build/clang-dist/*.whl
	$(VENV)/bin/python tools/check_lane_calls.py build/cmake/_classic*.so build/clang/_classic*.so
	$(VENV_CLANG)/bin/pytest $(PYTEST_ARGS) -p no:cacheprovider tests
	$(VENV)/bin/python tools/snapshot.py --results build/outcomes-gcc.json.gz
	$(VENV_CLANG)/bin/python tools/snapshot.py --results build/outcomes-clang.json.gz
	VELKIZED_TA_PORTABLE_FMA=1 $(VENV_CLANG)/bin/python tools/snapshot.py --results build/outcomes-clang-portable.json.gz
	VELKIZED_TA_NARROW_VECTORS=1 $(VENV_CLANG)/bin/python tools/snapshot.py --results build/outcomes-clang-narrow.json.gz
	$(VENV)/bin/python tools/snapshot.py --compare build/outcomes-gcc.json.gz build/outcomes-clang.json.gz
	$(VENV)/bin/python tools/snapshot.py --compare build/outcomes-gcc.json.gz build/outcomes-clang-portable.json.gz
	$(VENV)/bin/python tools/snapshot.py --compare build/outcomes-gcc.json.gz build/outcomes-clang-narrow.json.gz

# Cross-compiles for aarch64 (Debian's cross compiler, installed when missing, with qemu-user and
# an arm64 Debian root with Python 3.11 in build/aarch64) and compares the snapshot corpus with the
# classic family (tools/snapshot.py --results) there, under
# qemu, with the GCC build of `make build`; then runs the exactness tests under qemu. Too slow for CI.
check-aarch64: build
	tools/check_aarch64.sh $(PYTHON) $(WHEEL_DIR)/*.whl

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
	rm -rf build dist $(VENV) .venv-matrix $(VENV_BENCH) $(VENV_SAN) $(VENV_DOCS) $(VENV_CLANG) .venv-np1 site demo.png

# The whole suite against a build instrumented with AddressSanitizer and UBSan.
# VELK_SANITIZE_RUN makes the generated and repeated-call tests run fewer cases.
VENV_SAN := .venv-sanitize
SAN_LEAK_OPTIONS = LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitizer-suppressions.txt:print_suppressions=0
SAN_RUNTIME = $(shell g++ -print-file-name=libasan.so) $(shell g++ -print-file-name=libubsan.so)

$(VENV_SAN)/.ready: Makefile
	$(PYTHON) -m venv $(VENV_SAN)
	$(VENV_SAN)/bin/pip install -q "scikit-build-core>=0.11" "numpy>=2" ninja pytest hypothesis
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
