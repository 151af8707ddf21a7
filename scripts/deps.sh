#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those that
# are missing, so a prepared machine needs no network. Uses sudo when not root.
set -euo pipefail
packages=(cmake g++ make pkg-config python3 libgtest-dev libgmock-dev libbenchmark-dev
          libcli11-dev clang clang-format
          # the Python package's tests and its offline pip install
          python3-pytest python3-venv python3-pip python3-setuptools python3-wheel
          # the reference, the manual pages and the Debian packages
          doxygen help2man dpkg-dev file man-db)
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
