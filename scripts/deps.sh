#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those that
# are missing, so a prepared machine needs no network. Uses sudo when not root.
set -euo pipefail
packages=(cmake g++ make pkg-config python3 libgtest-dev libgmock-dev libbenchmark-dev
          libcli11-dev clang clang-format)
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
