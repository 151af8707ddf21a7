#!/usr/bin/env bash
# The main job: builds the library, the simulator and the command-line tool,
# then runs a complete demo session against simulated terminals on
# pseudo-terminals. Exits 0 only when every step of the session held.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
build=${QUIBLINK_BUILD_DIR:-build}
cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j2 --target quiblink-cli quiblink-sim
exec "$build/tools/cli/quiblink" demo "$@"
