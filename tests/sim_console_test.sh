#!/usr/bin/env bash
# vestrel-sim as an operator meets it: a table of console cases (typed on
# standard input, answered and not counted), the same lines in a scenario
# file (counted, with FILE:LINE:), local times the zone skips or repeats,
# the operator's own parameter file across an edit and a reload, a plug-in
# that cannot be loaded, bad options, and Ctrl-C and Ctrl-D on a terminal.
set -u
sim="$1"
dir=$(mktemp -d)
trap 'rm -rf "$dir"; tmux -L "vestrel-sim-test-$$" kill-server 2>/dev/null' EXIT
cd "$dir" || exit 1
failures=0
total=0

fail() {
  echo "FAIL $1"; shift; printf '%s\n' "$@"; failures=$((failures + 1))
}

# outcome NAME WANT-STATUS OUT STATUS LINE...: the status, and each LINE
# among the output's lines (a LINE starting with ! must be absent).
outcome() {
  local name="$1" want="$2" out="$3" got="$4" line
  shift 4
  total=$((total + 1))
  if [ "$got" != "$want" ]; then fail "$name: exit $got, expected $want" "$out"; return; fi
  for line in "$@"; do
    if [ "${line:0:1}" = "!" ]; then
      if grep -qF -- "${line:1}" <<<"$out"; then fail "$name: unexpected '${line:1}'" "$out"; return; fi
    elif ! grep -qxF -- "$line" <<<"$out"; then
      fail "$name: no line '$line'" "$out"; return
    fi
  done
  echo "ok $name"
}

# ---- malformed lines: answered at the console, counted in a file ----------------
# name | the lines typed after a connect (printf format) | the answer, which a
# file gives for its last line
while IFS='|' read -r name lines answer; do
  [ -z "$name" ] && continue
  out=$(printf "connect alice\n$lines\n" | "$sim" -q 2>&1); got=$?
  outcome "console: $name" 0 "$out" "$got" "$answer" "0 passed, 0 failed" "!  | "
  printf "connect alice\n$lines\n" >case.scn
  at=$(wc -l <case.scn)
  out=$("$sim" -q case.scn 2>&1); got=$?
  outcome "file: $name" 1 "$out" "$got" "case.scn:$at: $answer" "0 passed, 1 failed" "!  | "
done <<'EOF'
check without a value|check alice room|usage: check <user> room <id>
check of an unknown aspect|check alice height 3|usage: check <user> room <id>
check of a room without a value|check room 0 people|usage: check <user> room <id>
check blocks not a number|check blocks many|usage: check <user> room <id>
a bare expect|expect|usage: expect <line>
a bare expect-not|expect-not|usage: expect-not <line>
expect-quiet with words|expect-quiet please|usage: expect-quiet
a user never connected|bob say hi|no user bob (connect bob first)
disconnect of nobody|disconnect bob|no user bob
a user who left|alice quit\nalice say hi|no user alice: alice is not connected any more
EOF

# ---- checks that are well formed ------------------------------------------------
while IFS='|' read -r name lines status answer; do
  [ -z "$name" ] && continue
  printf "connect alice pos=100,120\n$lines\n" >case.scn
  out=$("$sim" -q case.scn 2>&1); got=$?
  outcome "$name" "$status" "$out" "$got" "$answer"
done <<'EOF'
check pos as x y|check alice pos 100 120|0|1 passed, 0 failed
check pos as x,y, as connect takes it|check alice pos 100,120|0|1 passed, 0 failed
check pos x,y that differs|check alice pos 100,121|1|case.scn:2: expected alice pos 100 121, found 100 120
EOF

# ---- help gives every directive's full form ------------------------------------
while IFS='|' read -r name directive line; do
  [ -z "$name" ] && continue
  out=$(printf 'help %s\n' "$directive" | "$sim" -q 2>&1); got=$?
  outcome "help $name" 0 "$out" "$got" "$line"
done <<'EOF'
check: the form of pos|check|check <user> pos <x> <y>   (or pos <x>,<y>, as connect takes it)
check: a room's owner|check|check room <id> owner <user>|none
check: the blocks|check|check blocks <n>
a user's line: loc|<user>|<user> loc <x> <y>
a user's line: raw|<user>|<user> raw <four-letter code> <hex bytes>
connect|connect|connect <user> [guest|member|wizard|god] [hidden] [ip=<a.b.c.d>] [counter=<n>] [crc=<n>] [puid=<n>] [room=<id>] [client=<n>] [logon=<seconds>] [pos=<x>,<y>] [name <text>]
EOF

# ---- bytes that are not printable ASCII -----------------------------------------
out=$(printf 'connect a\na say caf\303\251 \177\001\n' | "$sim" 2>&1); got=$?
outcome "bytes 0x80 to 0xFF are echoed as \\xHH" 0 "$out" "$got" 'a says: caf\xC3\xA9 \x7F\x01'

# ---- the clock in a zone with summer time ----------------------------------------
# name | the clock line | status | a line of the output
while IFS='|' read -r name line status answer; do
  [ -z "$name" ] && continue
  printf '%s\n' "$line" >case.scn
  out=$("$sim" --tz Europe/Paris case.scn 2>&1); got=$?
  outcome "clock: $name" "$status" "$out" "$got" "$answer"
done <<'EOF'
a time the spring change skips|clock 2026-03-29 02:30:00|1|case.scn:1: clock: 2026-03-29 02:30:00 does not exist in Europe/Paris: the clocks skip it when they go forward
the first second the spring change skips|clock 2026-03-29 02:00:00|1|case.scn:1: clock: 2026-03-29 02:00:00 does not exist in Europe/Paris: the clocks skip it when they go forward
the second after the gap|clock 2026-03-29 03:00:00|0|0 passed, 0 failed
a time the autumn change repeats|clock 2026-10-25 02:30:00|0|clock: 2026-10-25 02:30:00 comes twice in Europe/Paris, as the clocks go back; the first, CEST, is taken
a time after the repeat|clock 2026-10-25 03:00:00|0|0 passed, 0 failed
EOF

# ---- the operator's own parameter file --------------------------------------------
{ printf '# long\n'; printf 'x%.0s' $(seq 400); printf '\n'; } >long.conf
printf 'connect g god\n' >case.scn
out=$("$sim" --params long.conf case.scn 2>&1); got=$?
outcome "--params: the plug-in names the file as given" 1 "$out" "$got" \
  "log [vestrel]: Line 2 in file long.conf too long" "!vestrel.conf"

# Edit, reload: the console is fed line by line, each after the last one's
# answer, so that the edit falls between the two loads.
printf 'chat 5 1 public\n' >mine.conf
coproc SIM { "$sim" --params mine.conf 2>&1; }
waitfor() { # a line of the transcript, or the end of it
  local line
  while IFS= read -r -t 20 line <&"${SIM[0]}"; do
    seen+="$line"$'\n'
    [ "$line" = "$1" ] && return 0
  done
  return 1
}
seen=""
echo 'connect g god' >&"${SIM[1]}"
waitfor "g enters room 0"
printf 'chat 9 1 public\n' >mine.conf
echo 'g say `vestrel reload' >&"${SIM[1]}"
waitfor "log [vestrel] g: chat 9 1 public "; reloaded=$?
exec {SIM[1]}>&-
wait "$SIM_PID" 2>/dev/null
total=$((total + 1))
if [ "$reloaded" = 0 ] && grep -qxF "log [vestrel]: chat 5 1 public " <<<"$seen"; then
  echo "ok --params: a reload reads the operator's file as he left it"
else fail "--params: a reload did not read the edited file" "$seen"; fi

# ---- the command line ----------------------------------------------------------------
out=$("$sim" --plugin "$dir/nonexistent.so" case.scn 2>&1); got=$?
outcome "a plug-in that cannot be loaded is one error" 2 "$out" "$got" \
  "vestrel-sim: cannot load plug-in: $dir/nonexistent.so: cannot open shared object file: No such file or directory" \
  "!passed"
out=$("$sim" --bogus 2>&1); got=$?
outcome "an unknown option is named before the usage" 2 "$out" "$got" "vestrel-sim: unknown option --bogus"
out=$("$sim" --params 2>&1); got=$?
outcome "an option without its value is named" 2 "$out" "$got" "vestrel-sim: --params needs a value"

# ---- Ctrl-C and Ctrl-D on a terminal (tmux) -----------------------------------------
# Each key is sent once the screen shows the answer to the one before.
if command -v tmux >/dev/null; then
  tm() { tmux -L "vestrel-sim-test-$$" "$@"; }
  waitfor() { # GREP-FLAGS TEXT: wait until the screen has a line grep finds
    local i
    for i in $(seq 600); do # up to 30 s: CI runs two suites at once
      tm capture-pane -p -t t 2>/dev/null | grep -q"$1" -- "$2" && return 0
      sleep 0.05
    done
    return 1
  }
  screen() { waitfor F "$1"; }        # the screen holds TEXT
  screen_line() { waitfor xF "$1"; }  # the screen has a line that is exactly TEXT
  terminal() { # NAME KEYS-AND-SCREENS... ; the last screen text is the verdict
    local name="$1" ok=0
    shift
    tm kill-server 2>/dev/null
    tm new-session -d -s t -x 150 -y 40 "'$sim' -q; echo \"exit \$?\"; sleep 60"
    screen "vestrel>" || ok=1
    while [ $# -gt 0 ] && [ $ok = 0 ]; do
      case "$1" in
        key:*) tm send-keys -t t "${1#key:}" ;;
        text:*) tm send-keys -t t -l "${1#text:}" ;;
        see:*) screen "${1#see:}" || ok=1 ;;
        line:*) screen_line "${1#line:}" || ok=1 ;;
      esac
      shift
    done
    total=$((total + 1))
    if [ $ok = 0 ]; then echo "ok terminal: $name"
    else fail "terminal: $name" "$(tm capture-pane -p -t t)"; fi
    tm kill-server 2>/dev/null
  }
  terminal "Ctrl-C drops the line being typed, a second at the empty prompt leaves" \
    "text:connect a" key:Enter "see:vestrel> connect a" \
    "text:a say dropped" "see:a say dropped" key:C-c "see:(the line is dropped" \
    "text:a say kept" key:Enter "text:expect a says: kept" key:Enter \
    "text:expect-not a says: dropped" key:Enter "see:vestrel> expect-not" "line:vestrel>" \
    key:C-c "see:Ctrl-C again" key:C-c "see:exit 0" "line:2 passed, 0 failed"
  terminal "Ctrl-D leaves with the summary on a line of its own" \
    "text:connect a" key:Enter "see:vestrel> connect a" key:C-d "see:exit 0" \
    "line:0 passed, 0 failed"
fi

echo "$((total - failures)) passed, $failures failed"
[ "$failures" = 0 ]
