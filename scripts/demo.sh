#!/usr/bin/env bash
# The main job: builds the library, the simulator and the command-line tool,
# then runs a complete demo session against simulated terminals on
# pseudo-terminals. Exits 0 only when every step of the session held.
set -euo pipefail
cd "$(dirname "$0")/.."
# Only what the demo needs: a compiler, cmake, CLI11. The tests' packages come
# with scripts/test.sh.
[ -n "${QUIBLINK_NO_DEPS:-}" ] || ./scripts/deps.sh demo
build=${QUIBLINK_BUILD_DIR:-build}
# Without the test framework the tests are left out of the build (scripts/test.sh
# switches them on again).
tests=ON
dpkg -s libgtest-dev >/dev/null 2>&1 || tests=OFF
cmake -S . -B "$build" -DQUIBLINK_TESTS=$tests >/dev/null
cmake --build "$build" -j2 --target quiblink-cli quiblink-sim
exec "$build/tools/cli/quiblink" demo "$@"
