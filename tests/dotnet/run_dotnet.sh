#!/usr/bin/env bash
# Compiles bindings/dotnet/Quiblink.cs with the test program under mono and runs it against the
# shared library (through a dllmap of quiblink64.dll) and two simulators on pseudo-terminals:
# a graphic terminal on port 0, a classic panel on port 1. Then checks, from the simulators'
# side, what the program wrote. The C# examples of docs/windows.md and docs/network.md are
# compiled too, for both widths.
#
#   run_dotnet.sh MCS MONO LIBRARY SIM SOURCE_DIR VERSION
set -euo pipefail
mcs=$1 mono=$2 library=$3 sim=$4 source=$5 version=$6
scratch=$(mktemp -d)
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$scratch"
}
trap cleanup EXIT

"$mcs" -nologo -warnaserror -out:"$scratch/QuiblinkTest.exe" \
  "$source/bindings/dotnet/Quiblink.cs" "$source/tests/dotnet/QuiblinkTest.cs"
# Every C# example of the guides is a program of its own: each is compiled, for both widths.
guides=0
for doc in windows network; do
  awk -v out="$scratch/$doc" '/^```csharp$/ { n++; keep = 1; next }
    /^```$/ { keep = 0; next }
    keep { print > (out "-" n ".cs") }' "$source/docs/$doc.md"
done
for guide in "$scratch"/*.cs; do
  [ -e "$guide" ] || break
  grep -q 'static int Main' "$guide" || { echo "$guide: a C# example without Main"; exit 1; }
  guides=$((guides + 1))
  for define in "" "-define:QUIBLINK_X86"; do
    "$mcs" -nologo -warnaserror $define -out:"$scratch/guide.exe" "$guide" \
      "$source/bindings/dotnet/Quiblink.cs"
  done
done
[ "$guides" -ge 3 ] || { echo "expected the C# examples of docs/windows.md and docs/network.md"; exit 1; }
cat >"$scratch/QuiblinkTest.exe.config" <<CONFIG
<configuration>
  <dllmap dll="quiblink64.dll" target="$library" />
</configuration>
CONFIG

start_sim() {  # name, options...
  local name=$1
  shift
  "$sim" --no-pacing --control "$scratch/$name.ctl" --path-file "$scratch/$name.pty" "$@" \
    >"$scratch/$name.out" 2>&1 </dev/null &
  pids+=($!)
  for _ in $(seq 200); do
    [[ -s $scratch/$name.pty ]] && return
    sleep 0.05
  done
  cat "$scratch/$name.out"
  echo "the $name simulator did not start"
  exit 1
}
start_sim graphic --family graphic --type 7 --password 1234 --project-name CSHARP
start_sim classic --family classic --model 0
ctl() { "$sim" ctl "$scratch/$1.ctl" "${@:2}"; }
pattern() {  # length, factor, offset: the test program's Pattern()
  local i
  for ((i = 0; i < $1; i++)); do printf '%02X' $(((i * $2 + $3) & 255)); done
}
ctl graphic group 1 "$(pattern 40 1 1)" >/dev/null
ctl graphic group 3 "$(pattern 1500 5 1)" >/dev/null
ctl classic poke 0x100 DEADBEEF00FF7E02 >/dev/null

status=0
QUIBLINK_COM1=$(cat "$scratch/graphic.pty") QUIBLINK_COM2=$(cat "$scratch/classic.pty") \
  timeout 60 "$mono" --debug "$scratch/QuiblinkTest.exe" "$version" "$scratch" || status=$?
[[ $status == 0 ]] || { echo "the test program failed ($status)"; exit 1; }

# The simulators' own view of the writes.
[[ $(ctl graphic area 4) == "ok $(pattern 2500 7 3)" ]] || { echo "area 4 differs on the terminal"; exit 1; }
[[ $(ctl graphic os a 0x80) == "ok $(pattern 300 3 0)" ]] || { echo "the OS image differs on the terminal"; exit 1; }
[[ $(ctl classic peek 0x200 70) == "ok $(pattern 70 11 2)" ]] || { echo "the panel's memory differs"; exit 1; }
echo "the simulators hold what the program wrote"
