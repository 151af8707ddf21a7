#!/usr/bin/env bash
# Compiles the README's C program exactly as it is written there and runs it against the
# simulator. Usage: compile_readme.sh README CC INCLUDE_DIR... -- LIBRARY SIM RUNNER
# QUIB_README_CFLAGS: flags the library was built with that a program linking it needs too
# (a sanitizer's runtime must come first among the program's libraries).
set -euo pipefail
readme=$1 cc=$2
shift 2
includes=()
while [[ $1 != -- ]]; do
  includes+=("-I$1")
  shift
done
shift
library=$1 sim=$2 runner=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
sed -n '/^```c$/,/^```$/p' "$readme" | sed '1d;$d' >"$scratch/readme.c"
grep -q 'int main' "$scratch/readme.c" || { echo "the README has no C program"; exit 1; }
read -ra extra <<<"${QUIB_README_CFLAGS:-}"
"$cc" -std=c99 -Wall -Wextra -Werror -pedantic "${extra[@]}" "${includes[@]}" "$scratch/readme.c" \
  -o "$scratch/readme" "$library" -Wl,-rpath,"$(dirname "$library")"
bash "$runner" "$sim" type "$scratch/readme"
