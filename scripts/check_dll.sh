#!/usr/bin/env bash
# Cross-builds quiblink.dll (32-bit) and quiblink64.dll (64-bit) with their
# import libraries and Windows test programs, checks both DLLs' export and
# import tables, makes the Windows zip ($BUILD/quiblink-VERSION-windows.zip)
# and lists it, and runs the test programs under headless wine against
# terminal simulators on pseudo-terminals that wine sees as COM ports, and
# through ser2net on 127.0.0.1 in front of one (rfc2217:// and tcp://): the
# 64-bit set in a 64-bit prefix on every machine, the 32-bit set in a 32-bit
# prefix where the machine can run 32-bit programs.
#
#   scripts/check_dll.sh            install what is missing, build, check
#
# Environment:
#   QUIB_WIN32_BUILD  build folder (default: build-win32 in the source tree)
#   QUIB_SIM          a quiblink-sim binary to use instead of building one
#   QUIB_NO_INSTALL=1 do not install packages
#   QUIB_FORCE_32BIT_SKIP=1  behave as on a machine that cannot run 32-bit code
#   QUIB_NET_BENCH=1  also measure a 64 KiB write and ReadAll through rfc2217://
#                     against the direct line (64-bit, about 90 s more)
#   JOBS              parallel build jobs (default 2)
#
# On a machine whose kernel runs 64-bit user code only, wine's 32-bit loader
# cannot start: the script still builds the 32-bit DLL and its tests and
# checks its tables, says that it skipped the 32-bit wine runs, and runs the
# 64-bit ones.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${QUIB_WIN32_BUILD:-$ROOT/build-win32}
JOBS=${JOBS:-2}
START=$(date +%s)

say() { printf 'check_dll: %s\n' "$*"; }
die() {
  say "FAILED: $*"
  exit 1
}

# ---- Can this machine run 32-bit x86 code? -----------------------------------

# Wine's 32-bit loader is a 32-bit Linux program, and some kernels run 64-bit
# user code only. A tiny 32-bit program that exits with 42 tells the two apart
# before any wine prefix is made: such a kernel refuses it with "Exec format
# error" (status 126 from the shell).
can_run_32bit() {
  local dir
  dir=$(mktemp -d /tmp/quib-probe32.XXXXXX)
  printf '.globl _start\n_start:\n  movl $1, %%eax\n  movl $42, %%ebx\n  int $0x80\n' >"$dir/probe.s"
  as --32 -o "$dir/probe.o" "$dir/probe.s" && ld -m elf_i386 -o "$dir/probe" "$dir/probe.o" ||
    { rm -rf "$dir"; die "cannot build the 32-bit probe (binutils)"; }
  local status=0
  # Through bash, not straight from timeout: execvp would hand a binary the
  # kernel refuses to /bin/sh as a script.
  timeout 10 bash -c '"$1"' probe "$dir/probe" 2>"$dir/err" || status=$?
  local err
  err=$(cat "$dir/err")
  rm -rf "$dir"
  case $status in
  42) return 0 ;;
  126) grep -q 'Exec format error' <<<"$err" && return 1 ;;&
  *) die "the 32-bit probe ended with status $status: $err" ;;
  esac
}

RUN32=1
if [ "${QUIB_FORCE_32BIT_SKIP:-0}" = 1 ] || ! can_run_32bit; then RUN32=0; fi

# ---- Packages ---------------------------------------------------------------

install_packages() {
  local need=()
  command -v i686-w64-mingw32-g++-win32 >/dev/null || need+=(g++-mingw-w64-i686)
  command -v x86_64-w64-mingw32-g++-win32 >/dev/null || need+=(g++-mingw-w64-x86-64)
  [ -x /usr/lib/wine/wine64 ] || need+=(wine64)
  command -v wineserver >/dev/null || need+=(wine)
  if [ "$RUN32" = 1 ]; then
    dpkg -s wine32:i386 >/dev/null 2>&1 || need+=(wine32:i386)
  fi
  # The MSVC import libraries and their link check.
  command -v llvm-dlltool >/dev/null && command -v llvm-readobj >/dev/null || need+=(llvm)
  command -v lld-link >/dev/null || need+=(lld)
  command -v clang >/dev/null || need+=(clang)
  command -v cmake >/dev/null || need+=(cmake)
  command -v ser2net >/dev/null || [ -x /usr/sbin/ser2net ] || need+=(ser2net)
  command -v python3 >/dev/null || need+=(python3)
  [ ${#need[@]} -eq 0 ] && return
  [ "${QUIB_NO_INSTALL:-0}" = 1 ] && die "missing packages: ${need[*]}"
  say "installing ${need[*]}"
  if [ "$RUN32" = 1 ]; then
    dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  fi
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}" \
    >"$BUILD/apt.log" 2>&1 || {
    tail -20 "$BUILD/apt.log"
    die "apt-get install"
  }
}

mkdir -p "$BUILD"
install_packages

# ---- Builds -----------------------------------------------------------------

SIM=${QUIB_SIM:-}
if [ ! -x "$SIM" ]; then
  say "building quiblink-sim (native)"
  cmake -S "$ROOT" -B "$BUILD/native" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUIBLINK_TESTS=OFF \
    -DQUIBLINK_BENCH=OFF >"$BUILD/native-configure.log" 2>&1 ||
    { cat "$BUILD/native-configure.log"; die "native configure"; }
  cmake --build "$BUILD/native" --target quiblink-sim -j"$JOBS" >"$BUILD/native-build.log" 2>&1 ||
    { tail -40 "$BUILD/native-build.log"; die "native build"; }
  SIM=$(find "$BUILD/native" -name quiblink-sim -type f -perm -u+x | head -1)
fi
[ -x "$SIM" ] || die "no quiblink-sim"

WIN_TARGETS=(quiblink quiblink_implib quiblink_msvc_lib quiblink-dll-test
  quiblink-platform-test quiblink-link-check quiblink-cpp-test quiblink-net-test)
cross_build() {  # folder, toolchain file, DLL name
  local dir=$BUILD/$1
  say "cross-building $3 and the Windows tests"
  cmake -S "$ROOT" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/$2" \
    -DCMAKE_BUILD_TYPE=Release >"$dir-configure.log" 2>&1 ||
    { cat "$dir-configure.log"; die "cross configure ($1)"; }
  cmake --build "$dir" -j"$JOBS" --target "${WIN_TARGETS[@]}" >"$dir-build.log" 2>&1 ||
    { tail -40 "$dir-build.log"; die "cross build ($1)"; }
  [ -f "$dir/src/$3" ] || die "no $dir/src/$3"
}
cross_build mingw mingw-i686.cmake quiblink.dll
cross_build mingw64 mingw-x86_64.cmake quiblink64.dll
BIN32=$BUILD/mingw/src
BIN64=$BUILD/mingw64/src

# ---- Export and import tables ----------------------------------------------

# The one list of exports: the decorated names of src/exports/quiblink.def
# (_QUIB_Open@8, ...), which the 32-bit DLL exports as they are; the 64-bit
# DLL exports the same functions under their plain names (QUIB_Open, ...).
DECORATED=$(sed -n 's/^[[:space:]]*\(_[A-Za-z0-9_]*@[0-9]*\)[[:space:]]*=.*$/\1/p' \
  "$ROOT/src/exports/quiblink.def" | sort)
PLAIN=$(sed 's/^_\(.*\)@[0-9]*$/\1/' <<<"$DECORATED" | sort)
[ "$(wc -l <<<"$DECORATED")" -ge 23 ] || die "quiblink.def lists fewer than 23 exports"

# DLLs a library may import: the system's own, nothing of a compiler runtime.
ALLOWED_IMPORTS="kernel32.dll user32.dll winmm.dll ws2_32.dll msvcrt.dll ucrtbase.dll"

check_tables() {  # objdump, DLL, expected names, kind
  local objdump=$1 dll=$2 expected=$3 kind=$4 exported imports name
  # Names in the export directory: the lines of the name pointer table.
  exported=$("$objdump" -p "$dll" |
    sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p' | sort)
  if [ "$exported" != "$expected" ]; then
    diff <(echo "$expected") <(echo "$exported") | sed 's/^/  /' || true
    die "$(basename "$dll"): export table differs (< expected, > exported)"
  fi
  say "$(basename "$dll") export table: $(wc -l <<<"$exported") $kind names, nothing else"
  imports=$("$objdump" -p "$dll" | sed -n 's/^[[:space:]]*DLL Name: //p')
  for name in $imports; do
    case " $ALLOWED_IMPORTS " in
    *" ${name,,} "*) ;;
    *) case "${name,,}" in api-ms-win-*.dll) ;; *) die "$(basename "$dll") imports $name" ;; esac ;;
    esac
  done
  say "$(basename "$dll") imports: $(echo $imports)"
}
check_tables i686-w64-mingw32-objdump "$BIN32/quiblink.dll" "$DECORATED" decorated
check_tables x86_64-w64-mingw32-objdump "$BIN64/quiblink64.dll" "$PLAIN" plain

# ---- Public headers ------------------------------------------------------------

# Every public header on its own, as C and as C++, for both widths, with the
# warnings a careful user turns on.
check_headers() {  # MinGW prefix
  local cc=$1-gcc-win32 cxx=$1-g++-win32 header
  # quiblink_results.h is the result-code table the other headers expand, no
  # header of its own.
  for header in "$ROOT"/include/quiblink/*.h; do
    [ "$(basename "$header")" = quiblink_results.h ] && continue
    printf '#include "quiblink/%s"\n' "$(basename "$header")" |
      "$cc" -x c -std=c99 -fsyntax-only -Wall -Wextra -Werror -Wpedantic -I"$ROOT/include" -I"$BUILD/mingw/include" - ||
      die "$(basename "$header") as C for $1"
  done
  for header in "$ROOT"/include/quiblink/*.h "$ROOT"/include/quiblink/*.hpp; do
    [ "$(basename "$header")" = quiblink_results.h ] && continue
    printf '#include "quiblink/%s"\n' "$(basename "$header")" |
      "$cxx" -x c++ -std=c++20 -fsyntax-only -Wall -Wextra -Werror -Wpedantic -I"$ROOT/include" -I"$BUILD/mingw/include" - ||
      die "$(basename "$header") as C++ for $1"
  done
  say "public headers compile as C and C++ for $1 with -Wall -Wextra -Werror -Wpedantic"
}
check_headers i686-w64-mingw32
check_headers x86_64-w64-mingw32

# ---- Import libraries for Microsoft's linker ---------------------------------

# A C program compiled for the MSVC ABI (clang, no MSVC headers needed) and
# linked by lld-link against quiblink.lib with /SAFESEH, and against
# quiblink64.lib: the link must succeed, and the program's import table must
# name every export, under its exported spelling, from the right DLL. The
# programs run under wine with the rest.
printf '%s\n' $PLAIN | sed 's/.*/QUIB_EXPORT(&)/' >"$BUILD/msvc_exports.inc"
for header in "$ROOT"/include/quiblink/*.h; do
  printf '#include "quiblink/%s"\n' "$(basename "$header")"
done >"$BUILD/msvc_headers.inc"
msvc_link_check() {  # clang target, machine, folder, library, DLL, expected names, extra options
  local target=$1 machine=$2 bin=$3 lib=$4 dll=$5 expected=$6
  shift 6
  [ -f "$bin/$lib" ] || die "no $bin/$lib"
  clang --target="$target" -ffreestanding -O1 -Wall -Wextra -Werror -I"$ROOT/include" -I"$BUILD/mingw/include" \
    -I"$BUILD" -c "$ROOT/tests/win32/msvc_link_check.c" -o "$bin/msvc-link-check.obj" ||
    die "compiling the MSVC link check ($target)"
  lld-link /nologo /entry:Start /subsystem:console /nodefaultlib /machine:"$machine" "$@" \
    /out:"$bin/msvc-link-check.exe" "$bin/msvc-link-check.obj" "$bin/$lib" ||
    die "lld-link $* against $lib"
  local imports names dlls
  imports=$(llvm-readobj --coff-imports "$bin/msvc-link-check.exe")
  dlls=$(sed -n 's/^[[:space:]]*Name: //p' <<<"$imports")
  names=$(sed -n 's/^[[:space:]]*Symbol: \([^ ]*\).*$/\1/p' <<<"$imports" | sort)
  [ "$dlls" = "$dll" ] || die "the program linked with $lib imports from: $dlls"
  if [ "$names" != "$expected" ]; then
    diff <(echo "$expected") <(echo "$names") | sed 's/^/  /' || true
    die "the program linked with $lib imports other names (< expected, > imported)"
  fi
  say "$lib: lld-link ${*:-(defaults)} links, $(wc -l <<<"$names") names imported from $dll"
}
msvc_link_check i686-pc-windows-msvc x86 "$BIN32" quiblink.lib quiblink.dll "$DECORATED" /safeseh
msvc_link_check x86_64-pc-windows-msvc x64 "$BIN64" quiblink64.lib quiblink64.dll "$PLAIN"

# ---- The Windows zip ------------------------------------------------------------

# Both builds installed into one folder, zipped: what a Windows user downloads.
# The listing must hold every file a user needs, and the DLLs must be the ones
# checked above.
VERSION=$(sed -n 's/^project(quiblink VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt")
ZIP_NAME=quiblink-$VERSION-windows
ZIP=$BUILD/$ZIP_NAME.zip
make_zip() {
  local stage=$BUILD/zip
  rm -rf "$stage" "$ZIP"
  for dir in mingw mingw64; do
    cmake --install "$BUILD/$dir" --prefix "$stage/$ZIP_NAME" >"$BUILD/zip-install.log" 2>&1 ||
      { cat "$BUILD/zip-install.log"; die "installing $dir for the zip"; }
  done
  (cd "$stage" && cmake -E tar cf "$ZIP" --format=zip "$ZIP_NAME") || die "zipping"
  local listing expected=() name missing=()
  listing=$(cmake -E tar tf "$ZIP")
  expected=(bin/quiblink.dll bin/quiblink64.dll lib/quiblink.lib lib/quiblink64.lib
    lib/libquiblink.dll.a lib/libquiblink64.dll.a lib/quiblink.def lib/quiblink64.def
    bindings/dotnet/Quiblink.cs doc/README.md doc/CHANGELOG.md doc/windows.md doc/network.md
    doc/man/man7/quiblink.7)
  for name in "$ROOT"/include/quiblink/*.h "$ROOT"/include/quiblink/*.hpp \
    "$BUILD"/mingw/include/quiblink/*.h; do
    expected+=("include/quiblink/$(basename "$name")")
  done
  for name in $PLAIN; do expected+=("doc/man/man3/$name.3"); done
  for name in "${expected[@]}"; do
    grep -qx "$ZIP_NAME/$name" <<<"$listing" || missing+=("$name")
  done
  [ ${#missing[@]} -eq 0 ] || die "the zip lacks: ${missing[*]}"
  cmp -s "$stage/$ZIP_NAME/bin/quiblink.dll" "$BIN32/quiblink.dll" &&
    cmp -s "$stage/$ZIP_NAME/bin/quiblink64.dll" "$BIN64/quiblink64.dll" ||
    die "the zip's DLLs are not the ones built"
  say "$(basename "$ZIP"): $(grep -c '[^/]$' <<<"$listing") files, both DLLs, their import libraries, headers, C# binding, manual pages"
}
make_zip

# ---- Wine -------------------------------------------------------------------

WORK=$(mktemp -d /tmp/quib-wine.XXXXXX)
SIM_PIDS=()
PREFIXES=()
stop_sims() {
  local pid
  for pid in "${SIM_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${SIM_PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
  SIM_PIDS=()
}
cleanup() {
  stop_sims
  local prefix
  for prefix in "${PREFIXES[@]}"; do WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true; done
  rm -rf "$WORK"
}
trap cleanup EXIT

export WINEDEBUG=-all
unset DISPLAY WAYLAND_DISPLAY

# The loader of the current run. The wine wrapper takes the 32-bit loader
# whenever wine32 is installed, so each run names its loader itself.
LOADER=
# A run of a wine program with no terminal and a time limit.
wine_run() {
  local limit=$1
  shift
  timeout -k 10 "$limit" "$LOADER" "$@" </dev/null
}

# A prefix of the given width with COM1, COM10 and COM3 on the simulators of
# the DLL test (COM17 on the same one as COM10, for the port mapping), COM2
# on the simulator of the backend test, COM9 on the one behind ser2net (the
# network test's direct line) and COM5 on a folder, which no open takes for a
# serial device. COM4 and COM6 stay free: wine gives the host's own serial
# devices (/dev/ttyS0, ...) the lowest numbers left, and the DLL test expects
# nothing behind COM6.
make_prefix() {  # bits
  local bits=$1
  export WINEPREFIX=$WORK/prefix$bits WINEARCH=win$bits WINELOADER=$LOADER
  PREFIXES+=("$WINEPREFIX")
  say "making a $bits-bit wine prefix"
  "$LOADER" wineboot -i </dev/null >"$WORK/wineboot$bits.log" 2>&1 ||
    { cat "$WORK/wineboot$bits.log"; die "wineboot ($bits-bit)"; }
  mkdir -p "$LINKS" "$WORK/not-a-device"
  local port
  for port in COM1="$LINKS/classic" COM10="$LINKS/graphic" COM17="$LINKS/graphic" \
    COM3="$LINKS/fault" \
    COM2="$LINKS/device" COM9="$LINKS/net" COM5="$WORK/not-a-device"; do
    "$LOADER" reg add 'HKLM\Software\Wine\Ports' /v "${port%%=*}" /d "${port#*=}" /f \
      </dev/null >>"$WORK/reg.log" 2>&1 || { cat "$WORK/reg.log"; die "wine reg add"; }
  done
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w
}

# ---- Simulators -------------------------------------------------------------

start_sim() {  # name, options...
  local name=$1
  shift
  "$SIM" --link "$LINKS/$name" --log "$WORK/$name.log" "$@" \
    >"$WORK/$name.out" 2>&1 </dev/null &
  SIM_PIDS+=($!)
  for _ in $(seq 100); do
    [ -L "$LINKS/$name" ] && return
    sleep 0.1
  done
  cat "$WORK/$name.out"
  die "simulator $name did not start"
}
ctl() { "$SIM" ctl "$@" >>"$WORK/ctl.log" 2>&1 || { cat "$WORK/ctl.log"; die "ctl $*"; }; }

# ---- Device servers ---------------------------------------------------------

SER2NET=$(command -v ser2net || echo /usr/sbin/ser2net)
# A port of 127.0.0.1 that nothing listens on now; never one handed out
# before in this run.
TAKEN_PORTS=" "
free_port() {
  local port
  while :; do
    port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    case $TAKEN_PORTS in *" $port "*) continue ;; esac
    TAKEN_PORTS+="$port "
    echo "$port"
    return
  done
}
listening() { grep -q ":$(printf '%04X' "$1") 00000000:0000 0A" /proc/net/tcp; }
# ser2net in front of a simulator's pseudo-terminal, one connection per
# accepter given as "telnet(rfc2217),tcp" or "tcp" and a port; its pid in
# SERVER_PID.
start_ser2net() {  # name, device, accepter, port, [accepter, port]
  local name=$1 device=$2 config=$WORK/$1.yaml
  shift 2
  : >"$config"
  while [ $# -gt 0 ]; do
    printf 'connection: &%s%s\n  accepter: %s,127.0.0.1,%s\n  connector: serialdev,%s,38400e81,local\n' \
      "$name" "$2" "$1" "$2" "$device" >>"$config"
    PORTS_OF_SERVER+=("$2")
    shift 2
  done
  "$SER2NET" -n -d -c "$config" >"$WORK/$name.log" 2>&1 </dev/null &
  SERVER_PID=$!
  SIM_PIDS+=("$SERVER_PID")
  local port
  for _ in $(seq 100); do
    for port in "${PORTS_OF_SERVER[@]}"; do listening "$port" || continue 2; done
    PORTS_OF_SERVER=()
    return
  done
  cat "$WORK/$name.log"
  die "ser2net $name did not listen"
}
# Fresh far ends for each run: what tests/win32/dll_fixture.h expects of them.
start_sims() {
  stop_sims
  rm -f "$LINKS"/* "$WORK"/*.sock
  start_sim classic --family classic --model 0 --control "$WORK/classic.sock"
  start_sim graphic --family graphic --type 7 --password 1234 --project-name WINE \
    --control "$WORK/graphic.sock"
  start_sim fault --family graphic --fault bad-checksum:cmd=0x52 --fault status=5:cmd=0x01
  start_sim device --family classic --model 0
  start_sim net --family graphic --baud 38400 --type 7 --control "$WORK/net.sock"
  local pty
  pty=$(readlink -f "$LINKS/net")
  RFC_PORT=$(free_port) RAW_PORT=$(free_port) SPARE_PORT=$(free_port) CLOSED_PORT=$(free_port)
  PORTS_OF_SERVER=()
  start_ser2net server "$pty" 'telnet(rfc2217),tcp' "$RFC_PORT" tcp "$RAW_PORT"
  MAIN_SERVER_PID=$SERVER_PID
  start_ser2net spare "$pty" 'telnet(rfc2217),tcp' "$SPARE_PORT"
  ctl "$WORK/classic.sock" poke 0x100 DEADBEEF0102
  ctl "$WORK/graphic.sock" area 3 1020304000FF7E02
}

# ---- Tests ------------------------------------------------------------------

failed=0
run_test() {  # title, limit, program and arguments
  local title=$1 limit=$2
  shift 2
  say "$title"
  if ! wine_run "$limit" "$@" 2>"$WORK/stderr.log"; then
    grep -v ':err:\|:fixme:' "$WORK/stderr.log" | tail -20 || true
    say "$title: FAILED"
    failed=1
  fi
}

# The whole Windows test suite against one DLL.
run_suite() {  # bits, loader, folder of the programs, DLL name
  local bits=$1 bin=$3 dll=$4
  LOADER=$2
  LINKS=$WORK/links$bits
  local began=$SECONDS
  make_prefix "$bits"
  start_sims
  cd "$bin"
  run_test "$bits-bit backend test" 300 ./quiblink-platform-test.exe --port COM2 --missing COM5
  run_test "$bits-bit C program linked through the import library" 60 ./quiblink-link-check.exe
  run_test "$bits-bit C program linked by lld-link through $(basename "$dll" .dll).lib" 60 \
    ./msvc-link-check.exe
  run_test "$bits-bit C++ layer test" 300 ./quiblink-cpp-test.exe --graphic 9
  run_test "$bits-bit DLL test" 900 ./quiblink-dll-test.exe --dll "$dll" --classic 0 --graphic 9 \
    --fault 2 --missing 4

  local bench=()
  [ "${QUIB_NET_BENCH:-0}" = 1 ] && [ "$bits" = 64 ] && bench=(--bench)
  run_test "$bits-bit network test through ser2net" 300 ./quiblink-net-test.exe --dll "$dll" \
    --rfc2217 "rfc2217://127.0.0.1:$RFC_PORT" --raw "tcp://127.0.0.1:$RAW_PORT" \
    --spare "rfc2217://127.0.0.1:$SPARE_PORT" --closed "rfc2217://127.0.0.1:$CLOSED_PORT" \
    --kill "/bin/kill -KILL $MAIN_SERVER_PID" --direct 8 "${bench[@]}"
  # The terminal's own view of what went through the servers: every byte value
  # and the telnet commands' bytes, undoubled, over rfc2217:// and over tcp://.
  local every group
  every=$(for b in $(seq 0 255) $(seq 255 -1 0); do printf '%02X' "$b"; done
    for _ in $(seq 64); do printf 'FF'; done
    for b in $(seq 240 255); do printf 'FF%02X' "$b"; done)
  for group in 1 2; do
    if [ "$("$SIM" ctl "$WORK/net.sock" group "$group")" != "ok $every" ]; then
      say "$bits-bit: group $group of the terminal behind ser2net does not hold the bytes sent"
      failed=1
    fi
  done

  # The panel's own view of what the DLL test wrote: Pattern(100, 3) at 0x300.
  local expected_hex
  expected_hex=$(for i in $(seq 0 99); do printf '%02X' $(((i * 7 + 3) & 255)); done)
  if [ "$("$SIM" ctl "$WORK/classic.sock" peek 0x300 100)" != "ok $expected_hex" ]; then
    say "$bits-bit: the classic panel does not hold the bytes the DLL test wrote"
    failed=1
  fi

  # Without a trace handler the library writes to the debugger output, and
  # the entry point does so even with one (the DLL test's entry point case
  # installs one, then starts a thread).
  say "$bits-bit debugger output"
  WINEDEBUG=+debugstr wine_run 60 ./quiblink-link-check.exe >/dev/null 2>"$WORK/debugstr.log" || true
  WINEDEBUG=+debugstr wine_run 60 ./quiblink-dll-test.exe --dll "$dll" "entry point" \
    >/dev/null 2>>"$WORK/debugstr.log" || true
  local text
  for text in 'DLL_PROCESS_ATTACH\n' 'DLL_PROCESS_DETACH\n' 'DLL_THREAD_ATTACH\n' \
    'DLL_THREAD_DETACH\n'; do
    if ! grep -qF "OutputDebugStringA \"$text\"" "$WORK/debugstr.log"; then
      say "$bits-bit: no \"$text\" on the debugger output"
      failed=1
    fi
  done
  stop_sims
  wineserver -k >/dev/null 2>&1 || true
  say "$bits-bit runs done ($((SECONDS - began))s)"
}

# 64-bit wine runs wherever the machine runs 64-bit programs.
run_suite 64 /usr/lib/wine/wine64 "$BIN64" quiblink64.dll
if [ "$RUN32" = 1 ]; then
  run_suite 32 /usr/lib/wine/wine "$BIN32" quiblink.dll
else
  say "SKIPPED the 32-bit wine runs: this machine cannot execute 32-bit x86 programs"
fi

elapsed=$(($(date +%s) - START))
[ "$failed" = 0 ] || die "see above (${elapsed}s)"
say "all passed (${elapsed}s)"
