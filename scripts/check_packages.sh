#!/usr/bin/env bash
# Builds the Debian packages with cpack (libquiblink2, libquiblink-dev, quiblink-tools),
# checks what each holds, installs them with dpkg -i, and runs `quiblink demo` from the
# installed tree: the build folder is removed first, so the installed tool can only find the
# installed simulator and library. Then the packages are removed again.
#
#   scripts/check_packages.sh          as root (CI), or with sudo
#
# Environment: QUIB_PKG_BUILD (build folder, default build-packages), JOBS (default 2).
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${QUIB_PKG_BUILD:-$ROOT/build-packages}
JOBS=${JOBS:-2}
say() { printf 'check_packages: %s\n' "$*"; }
die() {
  say "FAILED: $*"
  exit 1
}
run=()
[ "$(id -u)" -eq 0 ] || run=(sudo)
packages=(libquiblink2 libquiblink-dev quiblink-tools)

WORK=$(mktemp -d /tmp/quib-packages.XXXXXX)
LOG=$WORK/build.log
launcher=()
command -v ccache >/dev/null &&
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

say "building the packages in $BUILD"
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DQUIBLINK_TESTS=OFF -DQUIBLINK_BENCH=OFF -DQUIBLINK_DOCS=ON "${launcher[@]}" >"$LOG" 2>&1 ||
  { cat "$LOG"; die "configure"; }
cmake --build "$BUILD" -j"$JOBS" >>"$LOG" 2>&1 ||
  { tail -40 "$LOG"; die "build"; }
(cd "$BUILD" && cpack -G DEB) >>"$LOG" 2>&1 ||
  { tail -40 "$LOG"; die "cpack"; }

cleanup() {
  "${run[@]}" dpkg --purge "${packages[@]}" >/dev/null 2>&1 || true
  rm -rf "$WORK"
}
trap cleanup EXIT
debs=()
for package in "${packages[@]}"; do
  deb=$(ls "$BUILD"/packages/"${package}"_*.deb 2>/dev/null | head -1)
  [ -f "$deb" ] || die "no package $package"
  cp "$deb" "$WORK/"
  debs+=("$WORK/$(basename "$deb")")
done

# What each package must hold (paths under /usr).
expect() {  # package, path patterns...
  local deb=$1
  shift
  local listing
  listing=$(dpkg-deb -c "$WORK/${deb}"_*.deb | awk '{print $6}')
  for pattern in "$@"; do
    grep -qE "$pattern" <<<"$listing" || die "$deb holds no $pattern"
  done
}
expect libquiblink2 '/usr/lib/.*libquiblink\.so\.2$' '/usr/lib/.*libquiblink\.so\.2\.'
expect libquiblink-dev '/usr/include/quiblink/quiblink\.h$' '/usr/include/quiblink/quiblink_codes\.h$' \
  '/usr/include/quiblink/quiblink_version\.h$' '/usr/lib/.*libquiblink\.so$' \
  '/usr/lib/.*pkgconfig/quiblink\.pc$' '/usr/lib/.*cmake/quiblink/quiblinkConfig\.cmake$'
expect quiblink-tools '/usr/bin/quiblink$' '/usr/bin/quiblink-sim$'
# The reference is built where doxygen and help2man are (scripts/deps.sh installs them).
if command -v doxygen >/dev/null && command -v help2man >/dev/null; then
  expect libquiblink-dev '/usr/share/man/man3/XQUIB_GetProjInfo\.3' '/usr/share/doc/.*/html/index\.html$'
  expect quiblink-tools '/usr/share/man/man1/quiblink\.1' '/usr/share/man/man1/quiblink-sim\.1'
fi
dpkg-deb -f "$WORK"/libquiblink-dev_*.deb Depends | grep -q libquiblink2 ||
  die "libquiblink-dev does not depend on libquiblink2"

# The build tree goes before the demo, so nothing can be found there.
rm -rf "$BUILD"
say "installing ${packages[*]}"
"${run[@]}" dpkg -i "${debs[@]}" >"$WORK/dpkg.log" 2>&1 || { cat "$WORK/dpkg.log"; die "dpkg -i"; }
[ "$(command -v quiblink)" = /usr/bin/quiblink ] || die "quiblink is not /usr/bin/quiblink"
say "running the installed quiblink demo"
(cd "$WORK" && quiblink demo) >"$WORK/demo.log" 2>&1 || { cat "$WORK/demo.log"; die "quiblink demo"; }
tail -3 "$WORK/demo.log"
if command -v man >/dev/null && dpkg -L libquiblink-dev | grep -q man3; then
  man -w 3 XQUIB_GetProjInfo >/dev/null || die "man 3 XQUIB_GetProjInfo finds no page"
  man -P cat 3 XQUIB_GetProjInfo 2>/dev/null | grep -q RC_BAD_PROJECT_INFO ||
    die "man 3 XQUIB_GetProjInfo does not show the reference"
  say "man 3 XQUIB_GetProjInfo: the reference"
fi
say "all passed"
