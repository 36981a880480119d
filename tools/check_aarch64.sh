#!/bin/sh
# Cross-compiles the extension modules for aarch64 and runs them under qemu-user: the bit corpus
# snapshot corpus with the classic family (tools/snapshot.py --results), compared outcome by outcome
# with this machine's (NaN signs counted apart), and a subset of the tests.
#   tools/check_aarch64.sh PYTHON WHEEL    an x86-64 CPython 3.11 and this package's x86-64 wheel for it
set -eu
cd "$(dirname "$0")/.."
PYTHON=$1
WHEEL=$2
OUT=$PWD/build/aarch64
SYSROOT=$OUT/sysroot
SITE=$OUT/site

tools/toolchains.sh aarch64

# numpy and the test tools from PyPI's aarch64 wheels for Debian's Python 3.11; the x86-64 side
# runs the same numpy release, so both sides call the same library.
if [ ! -f "$SITE/.numpy" ]; then
  rm -rf "$SITE" "$OUT/wheels"
  "$PYTHON" -m pip download -q --only-binary=:all: --platform manylinux2014_aarch64 --python-version 3.11 \
    --implementation cp --abi cp311 -d "$OUT/wheels" "numpy>=2" pytest hypothesis
  for wheel in "$OUT"/wheels/*.whl; do "$PYTHON" -m zipfile -e "$wheel" "$SITE"; done
  basename "$OUT"/wheels/numpy-*.whl | cut -d- -f2 > "$SITE/.numpy"
fi
NUMPY_VERSION=$(cat "$SITE/.numpy")
X86_PYTHON=$OUT/venv-x86_64/bin/python
if [ "$(cat "$OUT/venv-x86_64/.numpy" 2>/dev/null)" != "$NUMPY_VERSION" ]; then
  rm -rf "$OUT/venv-x86_64"
  "$PYTHON" -m venv "$OUT/venv-x86_64"
  "$X86_PYTHON" -m pip install -q "numpy==$NUMPY_VERSION"
  echo "$NUMPY_VERSION" > "$OUT/venv-x86_64/.numpy"
fi
"$X86_PYTHON" -m pip install -q --force-reinstall --no-deps "$WHEEL"

# The arm64 interpreter as a program of this machine: CMake queries it, the checks run in it.
PYTHON_ARM64=$OUT/python3.11
cat > "$PYTHON_ARM64" <<SCRIPT
#!/bin/sh
PYTHONPATH="$OUT/package:$SITE" exec qemu-aarch64-static -L "$SYSROOT" "$SYSROOT/usr/bin/python3.11" "\$@"
SCRIPT
chmod +x "$PYTHON_ARM64"

# Debian's Python.h includes its pyconfig.h from the multiarch directory, searched last.
cmake -S . -B "$OUT/cmake" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/tools/aarch64-toolchain.cmake" \
  -DPython_EXECUTABLE="$PYTHON_ARM64" -DPython_INCLUDE_DIR="$SYSROOT/usr/include/python3.11" \
  -DNUMPY_INCLUDE_DIR="$SITE/numpy/_core/include" -DCMAKE_CXX_FLAGS="-idirafter $SYSROOT/usr/include" >/dev/null
cmake --build "$OUT/cmake"
rm -rf "$OUT/package" && mkdir -p "$OUT/package"
cp -r velkized_ta "$OUT/package/"
find "$OUT/package" -name '*.so' -delete
cp "$OUT"/cmake/*.so "$OUT/package/velkized_ta/"
file "$OUT"/package/velkized_ta/velk_ta_funcs*.so

"$X86_PYTHON" tools/snapshot.py --results "$OUT/outcomes-x86_64.json.gz"
started=$(date +%s)
"$PYTHON_ARM64" tools/snapshot.py --results "$OUT/outcomes-aarch64.json.gz"
echo "aarch64 corpus under qemu: $(( $(date +%s) - started )) s"
"$X86_PYTHON" tools/snapshot.py --compare "$OUT/outcomes-x86_64.json.gz" "$OUT/outcomes-aarch64.json.gz"

# The exactness tests of the families, run on the cross-built modules. aarch64 has one build (no
# dispatch), and the test comparing x86-64's builds starts its interpreter anew, which qemu-user
# without binfmt cannot: it is left out.
cd "$OUT/package" && "$PYTHON_ARM64" -m pytest -q -p no:cacheprovider --rootdir="$OLDPWD" \
  -k "not test_every_build_agrees_bit_for_bit" \
  "$OLDPWD/tests/test_arithmetic_paths.py" "$OLDPWD/tests/test_sma.py" "$OLDPWD/tests/test_smoothing.py" \
  "$OLDPWD/tests/test_oscillators.py" "$OLDPWD/tests/test_directional.py" "$OLDPWD/tests/test_candles.py"
