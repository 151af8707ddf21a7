#!/usr/bin/env bash
# Builds the Debian packages with cpack (libquiblink2, libquiblink-dev, quiblink-tools),
# checks what each holds, installs them with dpkg -i, and runs `quiblink demo` from the
# installed tree: the build folder is removed first, so the installed tool can only find the
# installed simulator and library. A program is compiled with the installed pkg-config file,
# and the manual pages are opened with man. Then the packages are removed again.
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
# The fleet's nightly units, shipped disabled, and its guide.
expect quiblink-tools '/usr/lib/systemd/system/quiblink-fleet\.service$' \
  '/usr/lib/systemd/system/quiblink-fleet\.timer$' '/usr/share/doc/quiblink-tools/fleet\.md$'
for package in "${packages[@]}"; do
  expect "$package" "/usr/share/doc/$package/copyright\$" "/usr/share/doc/$package/changelog\\.gz\$"
done
# A page of its own for every export, and the overview.
for name in $(sed -n 's/^[[:space:]]*_\([A-Za-z0-9_]*\)@[0-9]*[[:space:]]*=.*$/\1/p' \
  "$ROOT/src/exports/quiblink.def"); do
  expect libquiblink-dev "/usr/share/man/man3/$name\\.3"
done
expect libquiblink-dev '/usr/share/man/man7/quiblink\.7'
# The HTML reference and the tools' pages are built where doxygen and help2man are
# (scripts/deps.sh installs them).
if command -v doxygen >/dev/null && command -v help2man >/dev/null; then
  expect libquiblink-dev '/usr/share/doc/.*/html/index\.html$'
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
# The fleet's units as installed: systemd reads them, and they point at the installed tool.
if command -v systemd-analyze >/dev/null; then
  systemd-analyze verify /usr/lib/systemd/system/quiblink-fleet.service \
    /usr/lib/systemd/system/quiblink-fleet.timer >"$WORK/units.log" 2>&1 ||
    { cat "$WORK/units.log"; die "the fleet's systemd units"; }
  say "the fleet's systemd units verify"
fi
for package in "${packages[@]}"; do
  [ "$(zcat "/usr/share/doc/$package/changelog.gz" | head -1)" = "# Changelog" ] ||
    die "/usr/share/doc/$package/changelog.gz is not the changelog"
done
# The pkg-config file: paths from ${prefix}, and a program built with it runs.
pc=$(pkg-config --variable=pcfiledir quiblink)/quiblink.pc
[ "$(pkg-config --variable=prefix quiblink)" = /usr ] || die "quiblink.pc: prefix is not /usr"
grep -qx 'includedir=${prefix}/include' "$pc" || die "quiblink.pc: includedir is not \${prefix}-based"
grep -q '^libdir=${prefix}/lib' "$pc" || die "quiblink.pc: libdir is not \${prefix}-based"
cc "$ROOT/examples/version.c" -o "$WORK/version" $(pkg-config --cflags --libs quiblink) ||
  die "a program does not build with pkg-config"
[ "$("$WORK/version")" = "QUIBLINK version 211" ] || die "the program built with pkg-config"
say "pkg-config: a program builds and runs against the installed library"
if command -v man >/dev/null; then
  man -P cat 3 XQUIB_GetKEWType 2>/dev/null | grep -A1 '^NAME' |
    grep -q 'XQUIB_GetKEWType - query the type of a graphic terminal' ||
    die "man 3 XQUIB_GetKEWType does not open the function's own page"
  man -P cat 3 XQUIB_GetProjInfo 2>/dev/null | grep -q RC_BAD_PROJECT_INFO ||
    die "man 3 XQUIB_GetProjInfo does not list its result codes"
  man -P cat 7 quiblink 2>/dev/null | grep -q 'RESULT CODES' || die "man 7 quiblink"
  say "man 3 XQUIB_GetKEWType, man 7 quiblink: the pages"
fi
say "all passed"
