#!/usr/bin/env bash
# Installs the Debian packages a task needs, only those that are missing, so a
# prepared machine needs no network. Uses sudo when not root.
#   scripts/deps.sh          everything: build, tests, benchmarks, fuzzing, format
#   scripts/deps.sh demo     only what `scripts/demo.sh` needs to build the
#                            library, the simulator and the command-line tool
set -euo pipefail
# The tool's backup files: a ZIP through libzip, the manifest through nlohmann-json, SHA-256
# through OpenSSL's libcrypto. The fleet: its inventory through toml++, its catalogue through
# SQLite.
demo=(cmake g++ make pkg-config libcli11-dev libzip-dev nlohmann-json3-dev libssl-dev
      libtomlplusplus-dev libsqlite3-dev)
case "${1:-all}" in
  demo) packages=("${demo[@]}") ;;
  all | test) packages=("${demo[@]}" python3 libgtest-dev libgmock-dev libbenchmark-dev clang
                        clang-format ccache
                        # the Python package's tests, its type check and its offline pip install
                        python3-pytest python3-mypy python3-venv python3-pip python3-setuptools
                        python3-wheel
                        # the reference, the manual pages and the Debian packages
                        doxygen help2man dpkg-dev file man-db groff
                        # the C# binding's test
                        mono-mcs mono-runtime
                        # the network tests' serial device server
                        ser2net
                        # the fleet report's test opens the page in a headless browser; the
                        # package check verifies the fleet's systemd units
                        chromium systemd) ;;
  *)
    echo "usage: $0 [demo|test]" >&2
    exit 2
    ;;
esac
missing=()
for package in "${packages[@]}"; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
((${#missing[@]} == 0)) && exit 0
echo "installing: ${missing[*]}"
run=()
[ "$(id -u)" -eq 0 ] || run=(sudo)
"${run[@]}" apt-get update
DEBIAN_FRONTEND=noninteractive "${run[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
