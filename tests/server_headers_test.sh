#!/usr/bin/env bash
# Configures a build of the plug-in alone against a folder of server headers
# (a copy of includes/), builds it, checks what a server sees of it, and
# compares its entry points and imports with the module built as usual.
set -eu
src="$1" so="$2" cc="$3" cxx="$4" sanitize="${5:-OFF}"
# The build type of the module compared with: another one optimises other
# calls into the C library away.
type="${6:-Release}"
[ -n "$type" ] || type=Release
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$src/includes" "$work/server-headers"
cmake -S "$src" -B "$work/build" -DCMAKE_BUILD_TYPE="$type" -DCMAKE_C_COMPILER="$cc" \
  -DCMAKE_CXX_COMPILER="$cxx" -DVESTREL_SANITIZE="$sanitize" \
  -DVESTREL_HOST_INCLUDE_DIR="$work/server-headers" >"$work/configure.log" 2>&1 ||
  { cat "$work/configure.log"; exit 1; }
cmake --build "$work/build" --target vestrel >"$work/build.log" 2>&1 || { cat "$work/build.log"; exit 1; }
if ! grep -q -- "-I$work/server-headers" "$work/build/compile_commands.json"; then
  echo "FAIL the plug-in was not compiled against the given headers"; exit 1
fi
[ "$sanitize" = ON ] && flag=sanitized || flag=
bash "$src/tests/exports_test.sh" "$work/build/vestrel.so" $flag
symbols() { nm -D "$1" | awk '$1 == "U" || $1 == "w" { print $1, $2; next } { print $2, $3 }' | sort; }
if ! diff <(symbols "$so") <(symbols "$work/build/vestrel.so"); then
  echo "FAIL the module built against the server's headers differs from the usual one"; exit 1
fi
echo "ok the same entry points and imports"
