#!/usr/bin/env bash
# Installs python/ with pip into a scratch virtual environment that sees the system's
# setuptools and wheel, offline, exactly as the package's README says, and imports it from
# there. Usage: check_pip_install.sh PYTHON PACKAGE_DIR LIBRARY
set -euo pipefail
python=$1 package=$2 library=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# pip builds in the source folder: build from a copy, so the tree stays clean.
cp -r "$package" "$scratch/src"
# Without a pip of its own: the system's pip (python3-pip) installs into it all the same.
"$python" -m venv --system-site-packages --without-pip "$scratch/venv"
"$scratch/venv/bin/python" -m pip install --no-build-isolation --no-index --no-deps -q \
  "$scratch/src" >"$scratch/pip.log" 2>&1 || { cat "$scratch/pip.log"; exit 1; }
cd "$scratch"  # not the source folder: the import must find the installed copy
out=$(QUIBLINK_LIBRARY=$library "$scratch/venv/bin/python" -c \
  'import quiblink, os; print(quiblink.version(), os.path.dirname(quiblink.__file__))')
echo "$out"
[[ $out == *"$scratch/venv/"* ]] || { echo "imported from the wrong place"; exit 1; }
