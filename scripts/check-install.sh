#!/usr/bin/env bash
# Checks what a user gets from installing Vinsk: builds the Debian package
# (./build.sh package), installs the same build into a staging folder, and
# checks the file list, the menu entry, the metainfo, the manual pages, the
# package and its lintian report, and that the installed vinsk-cli measures
# what the build folder's does. Stops at the first failure.
#   scripts/check-install.sh          the checks above
#   scripts/check-install.sh --apt    also installs the package with apt-get,
#                                     starts both programs from PATH and
#                                     removes the package again
set -euo pipefail
cd "$(dirname "$0")/.."
SRC=$(pwd)
PKG_DIR=${PACKAGE_DIR:-build-package}
TEST_BUILD=${BUILD_DIR:-build}
WITH_APT=0
[ "${1:-}" = "--apt" ] && WITH_APT=1

fail() { echo "check-install: $*" >&2; exit 1; }
step() { echo "== $*"; }

step "Package build"
./build.sh package
version=$(sed -n 's/^project(Vinsk VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || fail "no version in CMakeLists.txt"
arch=$(dpkg --print-architecture)
deb=$PKG_DIR/vinsk_${version}_${arch}.deb
[ -f "$deb" ] || fail "$deb was not built"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
stage=$work/stage

step "Install into a DESTDIR"
DESTDIR=$stage cmake --install "$PKG_DIR" --prefix /usr >/dev/null
(cd "$stage" && find . -type f | sed 's|^\./||' | sort) >"$work/installed"
cat "$work/installed"
cat >"$work/expected" <<'EOF'
usr/bin/vinsk
usr/bin/vinsk-cli
usr/share/applications/org.vinsk.Vinsk.desktop
usr/share/doc/vinsk/LICENSE
usr/share/doc/vinsk/README.md
usr/share/doc/vinsk/changelog.gz
usr/share/doc/vinsk/copyright
usr/share/icons/hicolor/128x128/apps/org.vinsk.Vinsk.png
usr/share/icons/hicolor/256x256/apps/org.vinsk.Vinsk.png
usr/share/icons/hicolor/48x48/apps/org.vinsk.Vinsk.png
usr/share/icons/hicolor/scalable/apps/org.vinsk.Vinsk.svg
usr/share/man/man1/vinsk-cli.1.gz
usr/share/man/man1/vinsk.1.gz
usr/share/metainfo/org.vinsk.Vinsk.metainfo.xml
EOF
diff -u "$work/expected" "$work/installed" || fail "the installed files differ from the expected list"

step "Nothing installed refers to the source or build folder"
for f in "$stage"/usr/bin/*; do
  if readelf -d "$f" | grep -E 'R(UN)?PATH'; then fail "$f has a run path"; fi
done
if grep -rlF -e "$SRC" -e "$(realpath "$PKG_DIR")" "$stage"; then
  fail "installed files name the source or build folder"
fi
for s in 48 128 256; do
  file "$stage/usr/share/icons/hicolor/${s}x$s/apps/org.vinsk.Vinsk.png" | grep -q "PNG image data, $s x $s," \
    || fail "the ${s}x$s icon is not a $s px PNG"
done

step "desktop-file-validate"
# It exits 0 on warnings and hints: any output fails.
desktop-file-validate "$stage/usr/share/applications/org.vinsk.Vinsk.desktop" >"$work/desktop.out" 2>&1 \
  || { cat "$work/desktop.out"; fail "desktop-file-validate refuses the menu entry"; }
if [ -s "$work/desktop.out" ]; then cat "$work/desktop.out"; fail "desktop-file-validate warns"; fi
grep -qx 'Exec=vinsk' "$stage/usr/share/applications/org.vinsk.Vinsk.desktop" || fail "Exec is not plain vinsk"

step "appstreamcli validate"
appstreamcli validate --no-net "$stage/usr/share/metainfo/org.vinsk.Vinsk.metainfo.xml"

step "Manual pages"
# man exits 0 even when troff warns: any output on standard error fails.
for page in "$stage"/usr/share/man/man1/*.1.gz; do
  MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings -E UTF-8 -l "$page" >"$work/page.txt" 2>"$work/page.err" \
    || fail "man cannot render $page"
  if [ -s "$work/page.err" ]; then cat "$work/page.err" >&2; fail "man warns on $page"; fi
  [ -s "$work/page.txt" ] || fail "$page renders empty"
  echo "$(basename "$page"): $(wc -l <"$work/page.txt") lines"
done

step "dpkg-deb"
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"
[ "$(dpkg-deb -f "$deb" Package)" = vinsk ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version is not $version"
[ "$(dpkg-deb -f "$deb" Section)" = science ] || fail "section is not science"
dpkg-deb -f "$deb" Depends | grep -q libqt6widgets6 || fail "no shared-library dependencies"
dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sed 's|^\./||' | sort >"$work/packaged"
diff -u "$work/expected" "$work/packaged" || fail "the package holds other files than the install"

step "lintian"
lintian --fail-on error,warning --display-info "$deb"

step "One version everywhere"
cli_version=$("$stage/usr/bin/vinsk-cli" --version)
[ "$cli_version" = "vinsk-cli $version" ] || fail "vinsk-cli --version says '$cli_version'"
grep -q "<release version=\"$version\" date=\"[0-9-]*\"" "$stage/usr/share/metainfo/org.vinsk.Vinsk.metainfo.xml" \
  || fail "the metainfo's release is not $version"
zcat "$stage/usr/share/doc/vinsk/changelog.gz" | head -1 | grep -qF "vinsk ($version)" \
  || fail "the changelog's last entry is not $version"
for page in "$stage"/usr/share/man/man1/*.1.gz; do
  zcat "$page" | grep -q "^\.TH .*\"Vinsk $version\"" || fail "$(basename "$page") is not of version $version"
done

step "The installed vinsk-cli measures as the build folder's"
sample=(--image samples/trail.png --dark samples/trail-dark.png --flat samples/trail-flat.png
        --settings samples/trail.ini --start 40,180 --stop 520,150 --inline 279,153)
run_cli() { LC_ALL=C "$1" "${sample[@]}" --figure spectrum --csv "$2" >"$3"; }
run_cli "$stage/usr/bin/vinsk-cli" "$work/installed.csv" "$work/installed.out"
cat "$work/installed.out"
[ -s "$work/installed.csv" ] || fail "the installed vinsk-cli wrote no CSV"
for built in "$PKG_DIR/bin/vinsk-cli" "$TEST_BUILD/bin/vinsk-cli"; do
  [ -x "$built" ] || continue
  run_cli "$built" "$work/built.csv" "$work/built.out"
  cmp "$work/installed.out" "$work/built.out" || fail "statistics differ from $built"
  cmp "$work/installed.csv" "$work/built.csv" || fail "CSV differs from $built"
  echo "same as $built"
done

step "The installed window program starts"
# Still running after two seconds is a start; timeout then ends it (124).
rc=0
QT_QPA_PLATFORM=offscreen timeout 2 "$stage/usr/bin/vinsk" || rc=$?
[ "$rc" -eq 124 ] || fail "vinsk ended by itself with status $rc"

if [ "$WITH_APT" -eq 1 ]; then
  step "apt-get install ./$(basename "$deb")"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  dpkg-query -W -f='${Status}' vinsk 2>/dev/null | grep -q "install ok installed" \
    && fail "vinsk is installed already; remove it first"
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get -o DPkg::Lock::Timeout=600 install -y "$(realpath "$deb")"
  trap 'DEBIAN_FRONTEND=noninteractive $SUDO apt-get -o DPkg::Lock::Timeout=600 remove -y vinsk >/dev/null; rm -rf "$work"' EXIT
  [ "$(command -v vinsk-cli)" = /usr/bin/vinsk-cli ] || fail "vinsk-cli is not on PATH"
  [ "$(vinsk-cli --version)" = "vinsk-cli $version" ] || fail "vinsk-cli from PATH"
  rc=0
  QT_QPA_PLATFORM=offscreen timeout 2 vinsk || rc=$?
  [ "$rc" -eq 124 ] || fail "vinsk from PATH ended with status $rc"
  [ -f /usr/share/applications/org.vinsk.Vinsk.desktop ] || fail "no menu entry"
  echo "installed, started from PATH; removing again"
fi
echo "check-install: all checks passed"
