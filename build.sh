#!/usr/bin/env bash
# One entry point for building Vinsk on Debian 12.
#   ./build.sh run    install what is missing, build, start the window
#   ./build.sh test   install what is missing, build, run every test
#   ./build.sh bench  install what is missing, build, run the benchmarks
#   ./build.sh package  build the Debian package vinsk_<version>_<arch>.deb
# BUILD_DIR (default build) and JOBS (default: all cores) may be set. Each
# command sets the options it needs, so they can share one build folder;
# package builds in its own, PACKAGE_DIR (default build-package), with
# Debian's hardening flags.
set -euo pipefail
cd "$(dirname "$0")"

cmd=${1:-}
BUILD_DIR=${BUILD_DIR:-build}
JOBS=${JOBS:-$(nproc)}

configure_and_build() {
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
  cmake --build "$BUILD_DIR" -j "$JOBS"
}

case "$cmd" in
  run)
    scripts/deps.sh
    configure_and_build -DVINSK_BUILD_TESTS=OFF -DVINSK_BUILD_BENCH=OFF
    if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
      echo "No display: starting under a virtual display (xvfb-run)."
      exec xvfb-run -a -s "-screen 0 1024x768x24" "$BUILD_DIR/app/vinsk"
    fi
    exec "$BUILD_DIR/app/vinsk"
    ;;
  test)
    scripts/deps.sh verify
    configure_and_build -DVINSK_BUILD_TESTS=ON -DVINSK_BUILD_BENCH=ON
    ctest --test-dir "$BUILD_DIR" --output-on-failure --no-tests=error -j "$JOBS"
    ;;
  bench)
    scripts/deps.sh verify
    configure_and_build -DVINSK_BUILD_TESTS=OFF -DVINSK_BUILD_BENCH=ON
    for b in "$BUILD_DIR"/bench/*/bench_*; do
      [ -x "$b" ] && "$b"
    done
    ;;
  package)
    scripts/deps.sh package
    BUILD_DIR=${PACKAGE_DIR:-build-package}
    # The compiler and linker flags Debian builds its packages with.
    export DEB_BUILD_MAINT_OPTIONS=hardening=+all
    configure_and_build -DVINSK_BUILD_TESTS=OFF -DVINSK_BUILD_BENCH=OFF \
      -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
      -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)"
    (cd "$BUILD_DIR" && cpack -G DEB)
    ;;
  *)
    echo "usage: ./build.sh run|test|bench|package" >&2
    exit 2
    ;;
esac
