#!/usr/bin/env bash
# Runs one example program against a simulator on a pseudo-terminal (mapped to COM1) and checks
# what it wrote against what the simulator holds.
#
#   run_example.sh SIM graphic COMMAND...   the command backs up every group to $OUT
#   run_example.sh SIM classic COMMAND...   the command backs up 0x100..0x107 to $OUT
#   run_example.sh SIM type COMMAND...      the command prints "terminal type 7"
#
# In COMMAND, @OUT@ stands for the output file and @PTY@ for the simulator's device.
set -euo pipefail
sim=$1 mode=$2
shift 2
scratch=$(mktemp -d)
pid=
cleanup() {
  [[ -n $pid ]] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  rm -rf "$scratch"
}
trap cleanup EXIT

family=graphic
[[ $mode == classic ]] && family=classic
"$sim" --family "$family" --model 0 --type 7 --project-name EXAMPLE --no-pacing \
  --control "$scratch/ctl" --path-file "$scratch/pty" >"$scratch/sim.out" 2>&1 </dev/null &
pid=$!
for _ in $(seq 100); do
  [[ -s $scratch/pty ]] && break
  sleep 0.05
done
[[ -s $scratch/pty ]] || { cat "$scratch/sim.out"; echo "the simulator did not start"; exit 1; }
pty=$(cat "$scratch/pty")
ctl() { "$sim" ctl "$scratch/ctl" "$@"; }
hex_of() { od -An -tx1 -v "$1" | tr -d ' \n' | tr a-f A-F; }

expected=
case $mode in
graphic)
  # Two groups, the second longer than one block.
  g1=$(printf '01020304%.0s' $(seq 10))
  g2=$(for i in $(seq 0 1499); do printf '%02X' $(((i * 5 + 1) & 255)); done)
  ctl group 1 "$g1" >/dev/null
  ctl group 3 "$g2" >/dev/null
  expected=$g1$g2
  ;;
classic)
  ctl poke 0x100 DEADBEEF00FF7E02 >/dev/null
  expected=DEADBEEF00FF7E02
  ;;
esac

command=()
for arg in "$@"; do
  arg=${arg//@OUT@/$scratch/out.bin}
  command+=("${arg//@PTY@/$pty}")
done
QUIBLINK_COM1=$pty "${command[@]}" >"$scratch/stdout" 2>"$scratch/stderr" || {
  cat "$scratch/stdout" "$scratch/stderr"
  echo "the example failed"
  exit 1
}
cat "$scratch/stdout"
if [[ $mode == type ]]; then
  grep -q "terminal type 7" "$scratch/stdout" || { echo "no terminal type in the output"; exit 1; }
  exit 0
fi
got=$(hex_of "$scratch/out.bin")
[[ $got == "$expected" ]] || { echo "the backup differs: $got"; exit 1; }
echo "backup matches the simulator's content"
