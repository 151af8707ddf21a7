#!/usr/bin/env bash
# Installs the built library into a scratch prefix, then builds and runs a C
# program against it twice: once through find_package, once through
# pkg-config. Usage: check_install.sh BUILD_DIR SOURCE_DIR
set -euo pipefail

build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
expected="QUIBLINK version 211"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix

cmake --install "$build" --prefix "$prefix" --component Runtime >/dev/null
cmake --install "$build" --prefix "$prefix" --component Development >/dev/null
for header in quiblink.h quiblink_ext.h quiblink_errors.h quiblink_results.h quiblink_codes.h \
  quiblink_ext_codes.h quiblink_version.h; do
  [[ -f $prefix/include/quiblink/$header ]] || { echo "missing include/quiblink/$header"; exit 1; }
done

# find_package, from a separate CMake project.
cmake -S "$source/tests/install/consumer" -B "$scratch/cmake-build" \
  -DCMAKE_PREFIX_PATH="$prefix" -DCONSUMER_SOURCE="$source/examples/version.c" >/dev/null
cmake --build "$scratch/cmake-build" >/dev/null
out=$("$scratch/cmake-build/consumer")
[[ $out == "$expected" ]] || { echo "find_package consumer printed: $out"; exit 1; }
echo "find_package consumer: $out"

# pkg-config, with a plain compiler call.
pcdir=$(dirname "$(find "$prefix" -name quiblink.pc | head -n 1)")
# Its paths come from the prefix the tree was installed into.
grep -qx "prefix=$prefix" "$pcdir/quiblink.pc" || { echo "quiblink.pc: no prefix=$prefix"; exit 1; }
grep -qx 'includedir=${prefix}/include' "$pcdir/quiblink.pc" ||
  { echo "quiblink.pc: includedir is not \${prefix}/include"; exit 1; }
libdir=$(PKG_CONFIG_PATH=$pcdir pkg-config --variable=libdir quiblink)
cc "$source/examples/version.c" -o "$scratch/pc-consumer" \
  $(PKG_CONFIG_PATH=$pcdir pkg-config --cflags --libs quiblink)
out=$(LD_LIBRARY_PATH=$libdir "$scratch/pc-consumer")
[[ $out == "$expected" ]] || { echo "pkg-config consumer printed: $out"; exit 1; }
echo "pkg-config consumer: $out"

# The C++ header, where there is one, compiles from the installed tree alone.
if [[ -f $prefix/include/quiblink/quiblink.hpp ]]; then
  printf '#include <quiblink/quiblink.hpp>\nint main() { return QUIB_Version() == 211 ? 0 : 1; }\n' \
    >"$scratch/hpp.cpp"
  c++ -std=c++20 "$scratch/hpp.cpp" -o "$scratch/hpp-consumer" \
    $(PKG_CONFIG_PATH=$pcdir pkg-config --cflags --libs quiblink)
  LD_LIBRARY_PATH=$libdir "$scratch/hpp-consumer"
  echo "C++ header consumer: OK"
fi

# The installed library carries its SONAME and exports only the API.
soname=$(objdump -p "$libdir/libquiblink.so" | awk '/SONAME/ {print $2}')
[[ $soname == libquiblink.so.2 ]] || { echo "SONAME is '$soname'"; exit 1; }
# One source for both: the installed version header names the SONAME's major.
major=$(awk '$2 == "QUIBLINK_VERSION_MAJOR" {print $3}' "$prefix/include/quiblink/quiblink_version.h")
[[ $soname == "libquiblink.so.$major" ]] || { echo "SONAME $soname, header major $major"; exit 1; }
if nm -D --defined-only "$libdir/libquiblink.so" | awk '{print $3}' | grep -v -E '^X?QUIB_'; then
  echo "symbols beyond the exports are visible"
  exit 1
fi
# The tools, installed with everything else, work from wherever the tree is moved: the tool
# finds the library beside it and the demo finds the simulator next to the tool.
if [[ -x $build/tools/cli/quiblink ]]; then
  cmake --install "$build" --prefix "$prefix" >/dev/null
  [[ -x $prefix/bin/quiblink-sim ]] || { echo "quiblink-sim is not installed"; exit 1; }
  mv "$prefix" "$scratch/moved"
  PATH=/usr/bin:/bin "$scratch/moved/bin/quiblink" --no-progress demo --project-size 2048 \
    >"$scratch/demo.log" 2>&1 || { cat "$scratch/demo.log"; echo "the installed demo failed"; exit 1; }
  grep -q "simulator $scratch/moved/bin/quiblink-sim" "$scratch/demo.log" ||
    { cat "$scratch/demo.log"; echo "the installed demo used another simulator"; exit 1; }
  echo "installed demo, moved: OK"
fi
echo "install: OK"
