#!/usr/bin/env bash
# Cross-builds quiblink.dll and its Windows test programs, checks the DLL's
# export and import tables, and runs the test programs under headless wine
# against terminal simulators on pseudo-terminals that wine sees as COM ports.
#
#   scripts/check_dll.sh            install what is missing, build, check
#
# Environment:
#   QUIB_WIN32_BUILD  build folder (default: build-win32 in the source tree)
#   QUIB_SIM          a quiblink-sim binary to use instead of building one
#   QUIB_NO_INSTALL=1 do not install packages
#   QUIB_FORCE_32BIT_SKIP=1  behave as on a machine that cannot run 32-bit code
#
# On a machine whose kernel runs 64-bit user code only, wine's 32-bit loader
# cannot start: the script still builds the DLL and the Windows tests and
# checks the tables, then says that it skipped the wine runs and exits 0.
#   JOBS              parallel build jobs (default 2)
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

# ---- Packages ---------------------------------------------------------------

install_packages() {
  local need=()
  command -v i686-w64-mingw32-g++-win32 >/dev/null || need+=(g++-mingw-w64-i686)
  dpkg -s wine32:i386 >/dev/null 2>&1 || need+=(wine32:i386)
  command -v wine >/dev/null || need+=(wine)
  command -v cmake >/dev/null || need+=(cmake)
  [ ${#need[@]} -eq 0 ] && return
  [ "${QUIB_NO_INSTALL:-0}" = 1 ] && die "missing packages: ${need[*]}"
  say "installing ${need[*]}"
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
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

say "cross-building quiblink.dll and the Windows tests"
cmake -S "$ROOT" -B "$BUILD/mingw" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release >"$BUILD/mingw-configure.log" 2>&1 ||
  { cat "$BUILD/mingw-configure.log"; die "cross configure"; }
cmake --build "$BUILD/mingw" -j"$JOBS" --target quiblink quiblink_implib quiblink-dll-test \
  quiblink-platform-test quiblink-link-check >"$BUILD/mingw-build.log" 2>&1 ||
  { tail -40 "$BUILD/mingw-build.log"; die "cross build"; }
BIN=$BUILD/mingw/src
DLL=$BIN/quiblink.dll
[ -f "$DLL" ] || die "no $DLL"

# ---- Export and import tables ----------------------------------------------

# The decorated names applications bind to, and the extension exports.
EXPECTED_EXPORTS="_QUIB_Version@0 _QUIB_Open@8 _XQUIB_Open@12 _QUIB_Close@4 _QUIB_Read@20
_QUIB_Write@20 _XQUIB_ReadAll@16 _XQUIB_Read1G@20 _XQUIB_Read@20 _XQUIB_Write@24
_XQUIB_OSInstl@24 _XQUIB_Start@4 _XQUIB_Offline@8 _XQUIB_SWReset@8 _XQUIB_Reset@8
_XQUIB_Break@8 _XQUIB_GetMemData@20 _XQUIB_GetOsInfo@16 _XQUIB_GetProjInfo@24
_XQUIB_DelUserData@8 _XQUIB_CheckPassword@16 _XQUIB_GetKEWType@12 _XQUIB_BrateChange@12
_QUIB_SetTraceHandler@8 _XQUIB_ReadAllEx@28 _XQUIB_Read1GEx@32 _XQUIB_ReadEx@32
_XQUIB_WriteEx@32 _XQUIB_OSInstlEx@32 _QUIB_SetEngineStyle@4 _QUIB_GetEngineStyle@0
_QUIB_ResultText@4 _QUIB_LastOpenError@8"

# Names in the export directory: the lines of the name pointer table.
exported=$(i686-w64-mingw32-objdump -p "$DLL" |
  sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p' | sort)
expected=$(tr ' ' '\n' <<<"$EXPECTED_EXPORTS" | sed '/^$/d' | sort)
if [ "$exported" != "$expected" ]; then
  diff <(echo "$expected") <(echo "$exported") | sed 's/^/  /' || true
  die "export table differs (< expected, > exported)"
fi
say "export table: $(wc -l <<<"$exported") decorated names, nothing else"

# Only system DLLs: no MinGW runtime may come along.
imports=$(i686-w64-mingw32-objdump -p "$DLL" | sed -n 's/^[[:space:]]*DLL Name: //p')
for name in $imports; do
  case "${name,,}" in
  kernel32.dll | user32.dll | msvcrt.dll | ucrtbase.dll | api-ms-win-*.dll) ;;
  *) die "quiblink.dll imports $name" ;;
  esac
done
say "imports: $(echo $imports)"

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

if [ "${QUIB_FORCE_32BIT_SKIP:-0}" = 1 ] || ! can_run_32bit; then
  say "SKIPPED the 32-bit wine runs: this machine cannot execute 32-bit x86 programs"
  say "tables checked, builds done ($(($(date +%s) - START))s)"
  exit 0
fi

# ---- Wine -------------------------------------------------------------------

WORK=$(mktemp -d /tmp/quib-wine.XXXXXX)
SIM_PIDS=()
cleanup() {
  for pid in "${SIM_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  WINEPREFIX=$WORK/prefix wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WORK"
}
trap cleanup EXIT

export WINEPREFIX=$WORK/prefix WINEARCH=win32 WINEDEBUG=-all
unset DISPLAY WAYLAND_DISPLAY

# A run of a wine program with no terminal and a time limit.
wine_run() {
  local limit=$1
  shift
  timeout -k 10 "$limit" wine "$@" </dev/null
}

say "making a wine prefix"
wineboot -i </dev/null >"$WORK/wineboot.log" 2>&1 || { cat "$WORK/wineboot.log"; die "wineboot"; }
# COM1, COM10 and COM3: the simulators of the DLL test; COM2: the simulator of
# the backend test; COM5: a folder, which no open takes for a serial device.
mkdir -p "$WORK/links" "$WORK/not-a-device"
for port in COM1="$WORK/links/classic" COM10="$WORK/links/graphic" COM3="$WORK/links/fault" \
  COM2="$WORK/links/device" COM5="$WORK/not-a-device"; do
  wine reg add 'HKLM\Software\Wine\Ports' /v "${port%%=*}" /d "${port#*=}" /f \
    </dev/null >>"$WORK/reg.log" 2>&1 || { cat "$WORK/reg.log"; die "wine reg add"; }
done
wineserver -k >/dev/null 2>&1 || true
wineserver -w

# ---- Simulators -------------------------------------------------------------

start_sim() {  # name, options...
  local name=$1
  shift
  "$SIM" --link "$WORK/links/$name" --log "$WORK/$name.log" "$@" \
    >"$WORK/$name.out" 2>&1 </dev/null &
  SIM_PIDS+=($!)
  for _ in $(seq 100); do
    [ -L "$WORK/links/$name" ] && return
    sleep 0.1
  done
  cat "$WORK/$name.out"
  die "simulator $name did not start"
}
# What tests/win32/dll_fixture.h expects of the far ends.
start_sim classic --family classic --model 0 --control "$WORK/classic.sock"
start_sim graphic --family graphic --type 7 --password 1234 --project-name WINE \
  --control "$WORK/graphic.sock"
start_sim fault --family graphic --fault bad-checksum:cmd=0x52 --fault status=5:cmd=0x01
start_sim device --family classic --model 0
ctl() { "$SIM" ctl "$@" >>"$WORK/ctl.log" 2>&1 || { cat "$WORK/ctl.log"; die "ctl $*"; }; }
ctl "$WORK/classic.sock" poke 0x100 DEADBEEF0102
ctl "$WORK/graphic.sock" area 3 1020304000FF7E02

# ---- Tests ------------------------------------------------------------------

cd "$BIN"
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

run_test "backend test" 300 ./quiblink-platform-test.exe --port COM2 --missing COM5
run_test "C program linked through the import library" 60 ./quiblink-link-check.exe
run_test "DLL test" 900 ./quiblink-dll-test.exe --dll quiblink.dll --classic 0 --graphic 9 \
  --fault 2 --missing 4

# The panel's own view of what the DLL test wrote: Pattern(100, 3) at 0x300.
expected_hex=$(for i in $(seq 0 99); do printf '%02X' $(((i * 7 + 3) & 255)); done)
if [ "$("$SIM" ctl "$WORK/classic.sock" peek 0x300 100)" != "ok $expected_hex" ]; then
  say "the classic panel does not hold the bytes the DLL test wrote"
  failed=1
fi

# Without a trace handler the library writes to the debugger output.
say "debugger output"
WINEDEBUG=+debugstr wine_run 60 ./quiblink-link-check.exe >/dev/null 2>"$WORK/debugstr.log" || true
for text in 'DLL_PROCESS_ATTACH\n' 'DLL_PROCESS_DETACH\n'; do
  if ! grep -qF "OutputDebugStringA \"$text\"" "$WORK/debugstr.log"; then
    say "no \"$text\" on the debugger output"
    failed=1
  fi
done

elapsed=$(($(date +%s) - START))
[ "$failed" = 0 ] || die "see above (${elapsed}s)"
say "all passed (${elapsed}s)"
