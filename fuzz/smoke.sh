#!/usr/bin/env bash
# Builds the fuzz targets with clang in the given build folder and runs each
# for a short while on its seed corpus.
#   fuzz/smoke.sh BUILD_DIR [SECONDS]   (default 20 seconds per target; the
#   FITS target, whose library decodes the most of a hostile file, at least 60)
# A finding stops the script with the target's report and a non-zero exit.
# The mutations start from a fixed seed (FUZZ_SEED, default 1), so that a
# run is repeatable and CI judges the change, not the draw; longer runs
# with other seeds are for hunting (FUZZ_SEED=0 draws one).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${1:?usage: fuzz/smoke.sh BUILD_DIR [SECONDS]}
seconds=${2:-20}
jobs=${JOBS:-$(nproc)}

# cfitsio is built from its source package with the address sanitizer where
# `apt-get source` can fetch it (a deb-src line for the archive; it may fail
# on the packaging part and still leave the upstream tarball, which is what
# is built), so that memory faults inside the library are seen too. Without
# it, or with FUZZ_CFITSIO_SOURCE=0, the FITS target links the system library.
cfitsio_src="$build/cfitsio-source"
cfitsio_arg=-DVINSK_FUZZ_CFITSIO_SOURCE=
if [ "${FUZZ_CFITSIO_SOURCE:-1}" != 0 ]; then
  if [ ! -f "$cfitsio_src/fitsio.h" ]; then
    mkdir -p "$build/cfitsio-fetch"
    (cd "$build/cfitsio-fetch" && timeout 300 apt-get source --download-only cfitsio >/dev/null 2>&1) || true
    orig=$(ls "$build"/cfitsio-fetch/cfitsio_*.orig.tar.* 2>/dev/null | head -n 1 || true)
    if [ -n "$orig" ]; then
      rm -rf "$cfitsio_src" && mkdir -p "$cfitsio_src"
      tar -xf "$orig" -C "$cfitsio_src" --strip-components=1 || rm -rf "$cfitsio_src"
    fi
  fi
  if [ -f "$cfitsio_src/fitsio.h" ]; then
    cfitsio_arg="-DVINSK_FUZZ_CFITSIO_SOURCE=$cfitsio_src"
    echo "fuzz_fits: cfitsio built with the address sanitizer from its source package"
  else
    echo "fuzz_fits: cfitsio's source package could not be fetched (no deb-src line?): the system library is linked, uninstrumented"
  fi
fi

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVINSK_BUILD_FUZZ=ON -DVINSK_BUILD_GUI=OFF -DVINSK_BUILD_TESTS=OFF -DVINSK_BUILD_BENCH=OFF "$cfitsio_arg"
cmake --build "$build" --target vinsk_fuzz -j "$jobs"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
work="$build/fuzz-work"
for corpus in "$here"/corpus/*/; do
  target=$(basename "$corpus")
  exe="$build/fuzz/fuzz_$target"
  [ -x "$exe" ] || { echo "missing fuzz target $exe" >&2; exit 1; }
  # New inputs go to a scratch folder; the seed corpus stays as committed.
  rm -rf "$work/$target"
  mkdir -p "$work/$target"
  run=$seconds
  if [ "$target" = fits ] && [ "$run" -lt 60 ]; then run=60; fi
  echo "== fuzz_$target (${run} s)"
  log="$work/$target.log"
  status=0
  "$exe" -seed="${FUZZ_SEED:-1}" -max_total_time="$run" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
    -artifact_prefix="$work/$target/" -print_final_stats=1 "$work/$target" "$corpus" >"$log" 2>&1 || status=$?
  grep -E '^(stat::peak_rss_mb|Done )' "$log" || true
  if [ "$status" -ne 0 ]; then
    tail -n 60 "$log" >&2
    echo "fuzz_$target found a fault (exit $status); the input is in $work/$target/" >&2
    exit "$status"
  fi
done
echo "fuzz smoke passed"
