#!/usr/bin/env bash
# Installs the Debian 12 packages that building, testing and benchmarking
# need. Does nothing when they are all present already.
set -euo pipefail

PACKAGES=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-svg-dev libqcustomplot-dev
  libjpeg-dev libpng-dev libtiff-dev zlib1g-dev libgraphicsmagick1-dev libcfitsio-dev libraw-dev liblcms2-dev
  libgtest-dev googletest libbenchmark-dev libfftw3-dev nlohmann-json3-dev
  libindi-dev indi-bin indi-eqmod
  xvfb xauth fonts-dejavu-core locales
)
# Extra packages some steps ask for: "fuzz", "verify" (independent file readers
# and reference tools used by tests and benchmarks), "package" (building the
# Debian package and checking what it installs).
for extra in "$@"; do
  case "$extra" in
    fuzz) PACKAGES+=(clang libclang-rt-14-dev) ;;
    verify) PACKAGES+=(libjpeg-turbo-progs libtiff-tools netpbm imagemagick emf2svg librsvg2-bin libwmf-bin fonts-urw-base35) ;;
    package) PACKAGES+=(dpkg-dev file lintian desktop-file-utils appstream man-db groff-base binutils) ;;
    *) echo "deps.sh: unknown extra '$extra'" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get -o DPkg::Lock::Timeout=600 install -y --no-install-recommends "${missing[@]}"
fi

# The tests read settings files under a comma locale too.
if ! locale -a 2>/dev/null | grep -qix 'de_DE\.utf-\?8'; then
  echo "Generating the de_DE.UTF-8 locale"
  $SUDO sed -i 's/^# *\(de_DE\.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^de_DE\.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen
fi
