#!/usr/bin/env bash
# vestrel-sim's own behaviour: failures with file and line, malformed
# directives, the console on standard input, start missing and --params.
set -u
sim="$1"
console="${2:-plain}" # how its console reads a terminal: libedit or plain
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
  "case.scn:1: malformed directive: frobnicate now; help lists the directives" \
  "case.scn:3: malformed directive: a dance; help <user> lists what a user can send" \
  "case.scn:4: usage: check <user> room <id>" "0 passed, 3 failed"
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

# Directives that cannot be carried out are refused with a reason.
run "invalid directives are refused with a reason" 1 \
  $'advance -5\nadvance 99999999999\nclock 2026-13-45 25:61:61\nclock 2026-02-29 10:00:00\nconnect x room=5\nconnect y ip=999.999.1.1\nconnect z pos=40000,1\nconnect a\na loc 99999 -1\n' \
  "case.scn:1: advance: the seconds are 0 to 31536000 (a year), not -5" \
  "case.scn:2: advance: the seconds are 0 to 31536000 (a year), not 99999999999" \
  "case.scn:3: clock: no such date or time: 2026-13-45 25:61:61" \
  "case.scn:4: clock: no such date or time: 2026-02-29 10:00:00" \
  "case.scn:5: connect: no room 5 (make it with room first)" \
  "case.scn:6: connect: ip= takes an IPv4 address such as 10.0.0.1, not 999.999.1.1" \
  "case.scn:7: connect: a position is -32768 to 32767 each way" \
  "case.scn:9: usage: <user> loc <x> <y> (each -32768 to 32767)" "0 passed, 8 failed"
SIM_ARGS=(-v)
run "-v names every passing check" 0 $'connect a\na say hi\nexpect a says: hi\n' \
  "ok case.scn:3: expect a says: hi" "1 passed, 0 failed"
SIM_ARGS=(--params "$dir/other.conf")
run "a params block wins over --params, said once" 0 $'params\nchat 5 1 public\nend\nparams\nchat 6 1 public\nend\nstart\nexpect log [vestrel]: chat 6 1 public \n' \
  "vestrel-sim: the scenario's params block replaces the file given with --params" "1 passed, 0 failed"
SIM_ARGS=()

# status name expected-status command... : the exit status of a command line
status() {
  local name="$1" want="$2" out got
  shift 2
  total=$((total + 1))
  out=$("$@" 2>&1); got=$?
  if [ "$got" = "$want" ]; then echo "ok $name"; else
    echo "FAIL $name: exit $got, expected $want"; echo "$out"; failures=$((failures + 1)); fi
  LAST_OUT="$out"
}
has() { # name line: the last status run printed that line
  total=$((total + 1))
  if grep -qxF -- "$2" <<<"$LAST_OUT"; then echo "ok $1"; else
    echo "FAIL $1: no line '$2'"; echo "$LAST_OUT"; failures=$((failures + 1)); fi
}
status "--params of a missing file is the plug-in's refusal" 2 "$sim" --params "$dir/nothing.conf"
has "  ... and its log line" "log [vestrel]: *** vestrel initialization failed ***"
mkdir -p "$dir/adir"
status "--params of a directory is refused too" 2 "$sim" --params "$dir/adir"
has "  ... as a directory" "log [vestrel]: Open failed Is a directory, errno=21, on file $dir/adir"
status "a directory as the scenario" 2 "$sim" "$dir/adir"
status "an unknown time zone" 2 "$sim" --tz Nowhere/Bogus "$dir/case.scn"
has "  ... is named" "vestrel-sim: unknown time zone Nowhere/Bogus"
status "--help goes to standard output" 0 "$sim" --help

# The console on standard input: typos are answered, not counted.
console() { printf "$1" | "$sim" -q 2>&1; }
total=$((total + 1))
out=$(console 'connect a\na say from the console\nexpect a says: from the console\n')
if [ "$out" = "1 passed, 0 failed" ]; then echo "ok the console reads standard input"
else echo "FAIL console: $out"; failures=$((failures + 1)); fi
status "a typo at the console is no failure" 0 bash -c "printf 'frobnicate\\nconnect a\\n' | '$sim' -q"
has "  ... but is answered" "malformed directive: frobnicate; help lists the directives"
has "  ... and counts nothing" "0 passed, 0 failed"
status "help lists the directives" 0 bash -c "printf 'help\\n' | '$sim' -q"
has "  ... with advance" "  advance       run the virtual clock, firing timers (at most a year)"
status "help for one directive" 0 bash -c "printf 'help advance\\n' | '$sim' -q"
has "  ... gives its syntax" "advance <seconds>"
status "quit ends the session" 0 bash -c "printf 'connect a\\nquit\\na say after\\nexpect a says: after\\n' | '$sim' -q"
has "  ... before the rest" "0 passed, 0 failed"
status "end of input after a failed check" 1 bash -c "printf 'connect a\\nexpect nothing\\n' | '$sim' -q"
status "bytes that are not printable are shown as \\xHH" 0 bash -c "printf 'frob\\001\\n' | '$sim' -q"
has "  ... in the answer" 'malformed directive: frob\x01; help lists the directives'

# On a terminal (a pseudo-terminal made by script): the banner and prompts.
# libedit draws each line it reads after its prompt; the plain console only
# prints its prompts, so the terminal's own echo is turned off to keep the
# typed lines from landing among them.
if command -v script >/dev/null; then
  if [ "$console" = libedit ]; then
    LAST_OUT=$(printf 'params\nend\nquit\n' | timeout 10 script -qc "'$sim' -q" /dev/null | tr -d '\r')
    has "a terminal console has a banner" "type help for the directives, quit (or Ctrl-D) to leave"
    has "  ... and libedit draws the params> prompt with the line read inside a params block" "params> end"
  else
    LAST_OUT=$(printf 'params\nend\nquit\n' | timeout 10 script -qc "stty -echo; '$sim' -q" /dev/null | tr -d '\r')
    has "a terminal console has a banner" "type help for the directives, quit (or Ctrl-D) to leave"
    has "  ... and prompts, params> inside a params block" "vestrel> params> vestrel> 0 passed, 0 failed"
  fi
fi

echo "$((total - failures)) passed, $failures failed"
[ "$failures" = 0 ]
