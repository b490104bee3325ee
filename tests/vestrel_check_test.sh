#!/usr/bin/env bash
# vestrel-check answers with its exit status: 0 clean, 1 problems, 2 no load.
set -u
check="$1"
examples="$2"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
failures=0

expect() { # name, expected status, expected line (or ""), file
  local name="$1" want="$2" line="$3" file="$4" out status
  out=$("$check" "$file" 2>&1)
  status=$?
  if [ "$status" != "$want" ]; then
    echo "FAIL $name: exit $status, expected $want"; echo "$out"; failures=$((failures + 1)); return
  fi
  if [ -n "$line" ] && ! grep -qxF -- "$line" <<<"$out"; then
    echo "FAIL $name: no line '$line'"; echo "$out"; failures=$((failures + 1)); return
  fi
  echo "ok $name"
}

printf 'chat 10 1 public warn\n' >"$dir/clean.conf"
printf 'chat 10 1 public\nchatter 5\nguestwiz\n' >"$dir/problems.conf"
{ printf '# fine\n'; printf 'x%.0s' $(seq 400); printf '\n'; } >"$dir/long.conf"

expect "the example file is clean" 0 "" "$examples/vestrel.conf"
expect "a clean file" 0 "chat 10 1 public warn " "$dir/clean.conf"
expect "a file with problems" 1 \
  "Problem unrecognizable parameter name, ignored in line 2 of parameter file: chatter 5" \
  "$dir/problems.conf"
expect "a missing file" 2 \
  "Open failed No such file or directory, errno=2, on file $dir/none.conf" "$dir/none.conf"
expect "a line too long" 2 "Line 2 in file $dir/long.conf too long" "$dir/long.conf"
mkdir -p "$dir/adir"
expect "a directory" 2 "Open failed Is a directory, errno=21, on file $dir/adir" "$dir/adir"

echo "$((6 - failures)) passed, $failures failed"
[ "$failures" = 0 ]
