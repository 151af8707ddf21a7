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
(cd "$scratch/src" && find . -type f | sort) >"$scratch/before"
# Without a pip of its own: the system's pip (python3-pip) installs into it all the same.
"$python" -m venv --system-site-packages --without-pip "$scratch/venv"
"$scratch/venv/bin/python" -m pip install --no-build-isolation --no-index --no-deps -q \
  "$scratch/src" >"$scratch/pip.log" 2>&1 || { cat "$scratch/pip.log"; exit 1; }
cd "$scratch"  # not the source folder: the import must find the installed copy
out=$(QUIBLINK_LIBRARY=$library "$scratch/venv/bin/python" -c \
  'import quiblink, os; print(quiblink.version(), os.path.dirname(quiblink.__file__))')
echo "$out"
[[ $out == *"$scratch/venv/"* ]] || { echo "imported from the wrong place"; exit 1; }
# What pip left in the source folder it built in (build/, *.egg-info) must be ignored by git
# where a user builds in the tree itself: every new path, as it would stand under python/.
repo=$(cd "$package/.." && pwd)
if git -C "$repo" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  left=$(cd "$scratch/src" && find . -type f | sort | comm -13 "$scratch/before" - |
    sed 's|^\./|python/|')
  [ -n "$left" ] || { echo "pip left no build output to check"; exit 1; }
  unignored=$(printf '%s\n' "$left" | git -C "$repo" check-ignore --no-index --verbose \
    --non-matching --stdin | sed -n 's/^::\t//p')
  [ -z "$unignored" ] || { printf 'not ignored by git:\n%s\n' "$unignored"; exit 1; }
fi
