#!/usr/bin/env bash
# Fails when a file of src/ includes against the order of the layers:
#
#   exports -> classic, graphic -> engine -> core -> platform
#
# A file may include its own folder, the layers below its own and the public
# headers (quiblink/...); classic and graphic do not include each other, and
# nothing includes exports. Only src/platform/ includes operating-system
# headers.
#
# And when a file of tools/ includes against the floors of the tools:
#
#   cli -> fleet -> backup -> wire
#   cli -> monitor -> wire
#          sim -> wire
#
# A folder of tools/ includes its own headers and those of the floors it stands
# on, nothing else of tools/ and nothing of src/. Only backup, fleet and cli use
# the library's public headers: the wire library, the simulator and the monitor
# stay independent of the library they check.
#
# Prints each offending line as file:line: reason.
#
#   scripts/check_includes.sh          check the tree this script is in
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

git ls-files -z 'src/*.h' 'src/*.hpp' 'src/*.c' 'src/*.cpp' \
  'tools/*.h' 'tools/*.hpp' 'tools/*.c' 'tools/*.cpp' | xargs -0 awk '
BEGIN {
  # The layer of each top folder of src/; a higher layer includes lower ones.
  rank["platform"] = 1; rank["core"] = 2; rank["engine"] = 3
  rank["classic"] = 4; rank["graphic"] = 4; rank["exports"] = 5
  # Operating-system headers, which stay behind src/platform/. Any <a/b.h>
  # is one too: the rest of the library needs only the standard headers.
  os = "^(windows|timeapi|unistd|pthread|termios|dlfcn|fcntl|poll|netdb|grp)\\.h$|/"
  # The floors each folder of tools/ stands on, and those that use the library.
  below["wire"] = ""
  below["backup"] = "wire"
  below["sim"] = "wire"
  below["monitor"] = "wire"
  below["fleet"] = "backup wire"
  below["cli"] = "fleet backup monitor wire"
  public["backup"] = 1; public["fleet"] = 1; public["cli"] = 1
  failures["src"] = 0; failures["tools"] = 0
}
function fail(why) {
  printf "%s:%d: %s\n", FILENAME, FNR, why
  failures[tree]++
}
# The folder below src/ or tools/ that a quoted or angled include names; "" for one beside the
# file, "quiblink" for the public headers.
function top_of(line, target) {
  target = line
  sub(/^[^"<]*["<]/, "", target)
  sub(/[">].*$/, "", target)
  included = target
  if (target !~ /\//) return ""
  sub(/\/.*$/, "", target)
  return target
}
FNR == 1 {
  split(FILENAME, part, "/")
  tree = part[1]
  dir = part[2]
  if (tree == "src" && !(dir in rank)) fail("a folder of src/ that has no layer: " dir)
  if (tree == "tools") {
    if (!(dir in below)) fail("a folder of tools/ that has no floor: " dir)
    split(below[dir], list, " ")
    delete allowed
    for (i in list) allowed[list[i]] = 1
  }
}
tree == "src" && /^[ \t]*#[ \t]*include[ \t]*"/ {
  top = top_of($0)
  if (top == "" || top == "quiblink" || top == dir) next
  if (!(top in rank)) fail("includes a header of no layer: " included)
  else if (rank[top] >= rank[dir]) fail(dir " may not include " top ": " included)
  next
}
tree == "src" && /^[ \t]*#[ \t]*include[ \t]*</ {
  top_of($0)
  if (dir != "platform" && included ~ os) fail("only src/platform/ includes system headers: <" included ">")
}
tree == "tools" && /^[ \t]*#[ \t]*include[ \t]*["<]quiblink\// {
  if (!(dir in public)) fail(dir " stays independent of the library: " $0)
  next
}
tree == "tools" && /^[ \t]*#[ \t]*include[ \t]*"/ {
  top = top_of($0)
  if (top == "" || top == dir) next
  if (!(top in below)) fail("includes a header of no floor of tools/: " included)
  else if (!(top in allowed)) fail(dir " may not include " top ": " included)
}
END {
  if (failures["src"] > 0) printf "check_includes: %d include(s) against the layers\n", failures["src"]
  else print "check_includes: every include of src/ runs down the layers"
  if (failures["tools"] > 0) printf "check_includes: %d include(s) against the floors of tools/\n", failures["tools"]
  else print "check_includes: every include of tools/ runs down the floors"
  exit failures["src"] + failures["tools"] > 0
}'
