#!/usr/bin/env bash
# vestrel-sim's own behaviour: failures with file and line, malformed
# directives, the console on standard input, start missing and --params.
set -u
sim="$1"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
failures=0
total=0

# run name, expected status, scenario text, then lines the output must hold
run() {
  local name="$1" want="$2" text="$3" out status line
  shift 3
  total=$((total + 1))
  printf '%s' "$text" >"$dir/case.scn"
  out=$(cd "$dir" && "$sim" -q "${SIM_ARGS[@]}" case.scn 2>&1)
  status=$?
  if [ "$status" != "$want" ]; then
    echo "FAIL $name: exit $status, expected $want"; echo "$out"; failures=$((failures + 1)); return
  fi
  for line in "$@"; do
    if ! grep -qxF -- "$line" <<<"$out"; then
      echo "FAIL $name: no line '$line'"; echo "$out"; failures=$((failures + 1)); return
    fi
  done
  echo "ok $name"
}
SIM_ARGS=()

run "quiet success prints only the summary" 0 $'connect a\na say hi\nexpect a says: hi\n' \
  "1 passed, 0 failed"
run "a failed expectation names file and line" 1 $'connect a\na say hi\nexpect a says: ho\nexpect a says: hi\n' \
  "case.scn:3: expected the line: a says: ho" "  | a says: hi" "1 passed, 1 failed"
run "expect-not and expect-quiet fail too" 1 $'connect a\na say hi\nexpect-not a says: hi\nexpect-quiet\n' \
  "case.scn:3: did not expect the line: a says: hi" "case.scn:4: expected the step to print nothing" \
  "0 passed, 2 failed"
run "a malformed directive is a failure" 1 $'frobnicate now\nconnect a\na dance\ncheck a height 3\n' \
  "case.scn:1: malformed directive: frobnicate now" "case.scn:3: malformed directive: a dance" \
  "case.scn:4: malformed check: check a height 3" "0 passed, 3 failed"
run "a failed state check" 1 $'connect a\ncheck a room 5\ncheck room 0 people 3\n' \
  "case.scn:2: expected a room 5, found 0" "case.scn:3: expected room 0 people 3, found 1"
run "start missing fails the plug-in" 1 $'start missing\nexpect host: plug-in failed to start\nexpect log [vestrel]: Open failed No such file or directory, errno=2, on file missing.conf\nconnect a\n' \
  "case.scn:4: the plug-in is not running" "2 passed, 1 failed"
run "a params block is the parameter file" 0 $'params\n  # indented comment\nchat 5 1 public\nend\nstart\nexpect log [vestrel]: chat 5 1 public \n' \
  "1 passed, 0 failed"
run "a params block without end" 1 $'params\nchat 5 1 public\n' "case.scn:2: params block without end"

printf 'move 9 0.5 rm3\n' >"$dir/other.conf"
SIM_ARGS=(--params "$dir/other.conf")
run "--params names the parameter file" 0 $'start\nexpect log [vestrel]: move 9 0.5 rm3 \n' "1 passed, 0 failed"
SIM_ARGS=()

total=$((total + 1))
out=$(printf 'connect a\na say from the console\nexpect a says: from the console\n' | "$sim" -q)
if [ "$out" = "1 passed, 0 failed" ]; then echo "ok the console reads standard input"
else echo "FAIL console: $out"; failures=$((failures + 1)); fi

echo "$((total - failures)) passed, $failures failed"
[ "$failures" = 0 ]
