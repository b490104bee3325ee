#!/usr/bin/env bash
# vestrel-check: its exit status (0 clean, 1 problems or warnings, 2 no
# load), one small file per lint warning with the exact line expected,
# --diff on two small files,
# --room on overlapping entries, --commands, --help and --version.
set -u
check="$1"
examples="$2"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir" || exit 1
failures=0
passed=0

fail() {
  echo "FAIL $1"; shift; printf '%s\n' "$@"; failures=$((failures + 1))
}

# expect NAME STATUS LINE ARGS...: the exit status, and a line of the output
# equal to LINE (none when LINE is empty).
expect() {
  local name="$1" want="$2" line="$3" out status
  shift 3
  out=$("$check" "$@" 2>&1)
  status=$?
  if [ "$status" != "$want" ]; then
    fail "$name: exit $status, expected $want" "$out"; return
  fi
  if [ -n "$line" ] && ! grep -qxF -- "$line" <<<"$out"; then
    fail "$name: no line '$line'" "$out"; return
  fi
  passed=$((passed + 1))
}

# lint NAME STATUS LINE CONTENT: CONTENT (a printf format) as t.conf.
lint() {
  printf "$4" >t.conf
  expect "$1" "$2" "$3" t.conf
}

# ---- exit status and the plug-in's own messages ----------------------------
expect "the example file is lint-clean" 0 "vestrel-check: $examples/vestrel.conf is clean" \
  "$examples/vestrel.conf"
lint "a clean file" 0 "chat 10 1 public warn " 'chat 10 1 public warn\n'
lint "a problem of the plug-in, with file and line" 1 \
  "t.conf:2: error: Problem unrecognizable parameter name, ignored in line 2 of parameter file: chatter 5" \
  'chat 10 1 public\nchatter 5\n'
lint "a default used is a warning" 1 \
  "t.conf:1: warning: Problem No chat data specified, default used in line 1 of parameter file: chat" \
  'chat\n'
expect "a missing file" 2 "none.conf: error: Open failed No such file or directory, errno=2, on file none.conf" \
  none.conf
mkdir -p adir
expect "a directory" 2 "adir: error: Open failed Is a directory, errno=21, on file adir" adir
ln -s /proc/self/mem unreadable.conf
expect "a file that cannot be read" 2 \
  "unreadable.conf: error: Read failed Input/output error, errno=5, on file unreadable.conf" \
  unreadable.conf
{ printf '# fine\n'; printf 'x%.0s' $(seq 400); printf '\n'; } >long.conf
expect "a line too long: the plug-in's word and the lint's, once" 2 \
  "long.conf:2: error: Line 2 in file long.conf too long (the line is 400 characters long, above the 298 the plug-in reads): the load stops here" \
  long.conf
expect "--no-lint: the plug-in's word alone" 2 "long.conf:2: error: Line 2 in file long.conf too long" \
  --no-lint long.conf
lint "a lint warning alone is exit 1" 1 "" 'guestwiz nope\n'
expect "--no-lint shows only the plug-in's own" 0 "vestrel-check: t.conf is clean" --no-lint t.conf

# ---- one file per warning ------------------------------------------------------
while IFS='|' read -r name content line; do
  [ -z "$name" ] && continue
  lint "$name" 1 "t.conf:1: warning: $line" "$content"
done <<'EOF'
maximum not a number|chat five 1 public\n|maximum 'five' is read as 0: every chat line is refused
maximum partly a number|zone 12.5 public\n|distance '12.5' is read as 12, and '.5' as what follows it
maximum that saturates|chat 99999999999 1 public\n|maximum 99999999999 is above 4294967294: it is read as -1, unlimited
maximum negative|chat -5 1 public\n|maximum -5 is negative: it is read as 4294967291, so in effect it is unlimited
maximum negative, not a rate|zone -5 public\n|distance -5 is negative: it is read as 4294967291
decay 0 after one|page 1 0 public\n|decay 0 on a rate limit: nothing is ever forgiven, so after 1 page every further one is refused
mroomdiscipline negative|mroomdiscipline -3\n|mroomdiscipline -3 is negative: rgag, rpin and rpropgag stay disabled and each member room's ban list holds 20, as with off
rtakedelay negative|rtakedelay -5\n|rtakedelay -5 is negative: members may not rtake, as with off
pagelength negative|pagelength -1\n|pagelength -1 is negative: a page's length is compared with it unsigned, as 4294967295 and up, so every page is refused as too short, while no roompage is
gpagelength negative|gpagelength -1\n|gpagelength -1 is negative: no gpage is too short, as with 0
idle into a godonly range|idle 1 9 public\ngodonly rm9\n|idle users are sent to room 9, which line 2 (godonly) keeps them out: every minute each idle user is told he was sent to the Idle Room, is refused, and a log line is written, without end
idle into godonly everywhere|idle 5 3.0 all\ngodonly all\n|idle users are sent to room 3, which line 2 (godonly) keeps them out: every minute each idle user is told he was sent to the Idle Room, is refused, and a log line is written, without end
decay not a number|chat 10 x public\n|decay 'x' is read as 0: nothing is ever forgiven
decay that overflows|chat 10 1e400 public\n|decay '1e400' overflows: it is read as inf
decay negative|chat 10 -1 public\n|decay -1 is negative: the count grows as time passes instead of being forgiven
decay 0 on a rate limit|page 3 0 public\n|decay 0 on a rate limit: nothing is ever forgiven, so after 3 pages every further one is refused
yes/no neither|guestwiz nope\n|guestwiz 'nope' is neither yes nor no: the setting is left as it was
yes/no too short|hideoperators N\n|hideoperators 'N' is neither yes nor no: the setting is left as it was
number keyword not a number|rtakedelay soon\n|rtakedelay 'soon' is read as 0: a member may rtake a room as soon as its owner is gone
number keyword partly a number|pagelength 5x\n|pagelength '5x' is read as 5, and 'x' is ignored
autoannounce after midnight|autoannounce 25:00:00 Good morning\n|autoannounce time '25:00:00' is outside 00:00:00..23:59:59: the calendar makes it 01:00:00 the next day
autoannounce not hh:mm:ss|autoannounce 1a:00:00 Hello\n|autoannounce time '1a:00:00' is not hh:mm:ss: it is read as 1:0:0
dupip with a room word|dupip 1 all\n|dupip takes no room words: 'all' is read as an address pattern and matches no address; an entry without a pattern is the one for every address
dupip pattern of three octets|dupip 2 10.1.*\n|dupip pattern '10.1.*' is not four octets of 0..255 or '*'
dupip octet above 255|dupip 2 10.1.256.*\n|dupip pattern '10.1.256.*' is not four octets of 0..255 or '*'
idle room not whole|idle 30 86.5 public\n|idle room 86.5 is not a whole number: it is read as room 86
idle room not a number|idle 30 lounge public\n|room 'lounge' is read as 0: idle users are sent to room 0
idle room out of range|idle 30 40000 public\n|idle room 40000 is not a room number: idle users are never sent away
entry that applies nowhere|chat 10 1\n|the entry names no room class and no room range: it applies nowhere
entry with only warn|chat 10 1 warn\n|the entry names no room class and no room range: it applies nowhere
range low above high|zone 5 rm9-3\n|range 'rm9-3' runs from 9 down to 3: it names no room
range outside the room numbers|zone 5 rm40000\n|range 'rm40000' lies outside the room numbers -32768..32767: it names no room
range reaching beyond|zone 5 rm32000-40000\n|range 'rm32000-40000' reaches beyond the room numbers -32768..32767
range without number|take rmx\n|range 'rmx' has no room number: it is read as room 0
chatgoto without text|chatgoto 5\n|chatgoto without a phrase: the entry does nothing
setrank that changes nothing|setrank find guest\n|setrank changes nothing: find already has rank guest and target rank guest
carriage return|chat 10 1 public\r\n|1 line ends in a carriage return, this one first (a file saved with CRLF line ends): the plug-in reads it as part of the line's last word, so such a word names no room class, keyword value or rank; remove them with sed -i 's/\r$//' t.conf or dos2unix t.conf (the problems they cause are not listed one by one)
NUL byte in the last line|chat 10 1 public\0 private\n|a NUL byte at column 17: the plug-in reads the line only up to it
NUL byte in a last line without newline|chat 10 1 public\0 private|a NUL byte at column 17: the plug-in reads the line only up to it
EOF

lint "NUL byte before other lines" 2 \
  "t.conf:1: error: Line 1 in file t.conf too long (a NUL byte at column 2 ends the line early, so the plug-in takes it for a line too long): the load stops here; line 2 is not read" \
  'x\0\nchat 10 1 public\n'
lint "a class entry shadowed by an earlier one" 1 \
  "t.conf:2: warning: this move entry never applies: for every room it names, line 1 comes first" \
  'move 10 1 all\nmove 20 1 public\n'
lint "a range entry shadowed by later ranges" 1 \
  "t.conf:1: warning: this chat entry never applies: for every room it names, lines 2 and 3 come first" \
  'chat 5 1 rm10-20\nchat 6 1 rm10-15\nchat 7 1 rm16-20\n'
lint "entries that overlap in part are not shadowed" 0 "" \
  'chat 5 1 rm10-20\nchat 6 1 rm10-15\nchat 10 1 public\n'
lint "the setrank of an earlier line counts" 1 \
  "t.conf:2: warning: setrank changes nothing: gmsg already has rank god and target rank disable" \
  'setrank gmsg god\nsetrank gmsg 3\n'
lint "the note names the parameters never named" 0 \
  "t.conf: note: the file never names spoof, reppage, repchat, propdrop, roommsg, facechange, avatarchange, move, slide, spotstatechange, clearlooseprops, namechange, dupip, avatarzone, mimick, newroom, gpage, rpage, roompage, roomgoto, draw, so what they limit is not limited" \
  'zone 5 public\npage 1 1 all\nchat 10 1 all\n'
lint "a note says what a running server's earlier setrank lines leave" 0 \
  "t.conf: note: on a running server, ranks that setrank lines of earlier files gave stay after a reload; the server's report lists every command whose ranks differ from the built-in table" \
  'chat 10 1 all\n'

# ---- --room: the plug-in's own lookup in one room ----------------------------
cat >room.conf <<'EOF'
chat 10 1 public
chat 20 1 member
chat 30 1 altmember
chat 5 1 rm10-20
chat 7 1 rm15 private
page 1 0.5 all
zone 9 rm100-199 member
EOF
expect "--room: a range beats the class" 0 "  chat             line 4: chat 5 1 rm10-20" room.conf --room 12
expect "--room: the later range wins" 0 "  chat             line 5: chat 7 1 rm15 private" room.conf --room 15
expect "--room: a public room" 0 "  chat             line 1: chat 10 1 public" room.conf --room 30
expect "--room: a member room" 0 "  chat             line 2: chat 20 1 member" room.conf --room 30 --class member
expect "--room: an altmember room" 0 "  chat             line 3: chat 30 1 altmember" room.conf --room 30 --class altmember
expect "--room: a ranged entry's class applies everywhere" 0 "  chat             line 5: chat 7 1 rm15 private" room.conf --room 30 --class private
expect "--room: the class from the file" 0 "room 150, member (from line 7):" room.conf --room 150
expect "--room: public by default" 0 "room 30, public (the file gives it no class):" room.conf --room 30
expect "--room: a slot not named" 0 "  move             not limited" room.conf --room 30
expect "--room: not a room number" 2 "vestrel-check: not a room number: 40000" room.conf --room 40000
expect "--room: not a class" 2 "vestrel-check: not a room class: lounge" room.conf --room 3 --class lounge

# ---- --diff: what a reload would change -----------------------------------------
printf 'chat 5 0.2 rm100-199\n' >old.conf
printf '\nchat 5 0.2 rm100-199\n' >same.conf
printf 'chat 3 0.1 rm100-199\n' >new.conf
expect "--diff: nothing changes" 0 "vestrel-check: old.conf and same.conf do the same" \
  --diff old.conf same.conf
expect "--diff: a change" 1 \
  "chat in rooms 100-199: max 5 decay 0.2 (old.conf:1) -> max 3 decay 0.1 (new.conf:1)" \
  --diff old.conf new.conf
expect "--diff --room outside the change" 0 "" --diff --room 5 old.conf new.conf
expect "--diff: a file that cannot be read" 2 "vestrel-check: none.conf cannot be read" \
  --diff old.conf none.conf
expect "--diff needs two files" 2 "vestrel-check: --diff needs an old and a new file" --diff old.conf

# ---- files the load stops in, CRLF files, and the summary -----------------------
# name | status | file (printf format) | lines the output holds, separated by ~;
# a line starting with ! must be in no line of the output
while IFS='|' read -r name want content lines; do
  [ -z "$name" ] && continue
  printf "$content" >t.conf
  out=$("$check" t.conf 2>&1); got=$?
  if [ "$got" != "$want" ]; then fail "$name: exit $got, expected $want" "$out"; continue; fi
  bad=""
  IFS="~" read -ra wanted <<<"$lines"
  for line in "${wanted[@]}"; do
    if [ "${line:0:1}" = "!" ]; then
      if grep -qF -- "${line:1}" <<<"$out"; then bad="unexpected '${line:1}'"; fi
    elif ! grep -qxF -- "$line" <<<"$out"; then bad="no line '$line'"; fi
  done
  if [ -n "$bad" ]; then fail "$name: $bad" "$out"; else passed=$((passed + 1)); fi
done <<'EOF'
two long lines: the first stops the load, once|2|chat 5 1 public\n%0400d\n%0400d\nchat 5 x public\n|t.conf:2: error: Line 2 in file t.conf too long (the line is 400 characters long, above the 298 the plug-in reads): the load stops here; the rest of the file (lines 3 to 4) is not read~!t.conf:3~!t.conf:4~vestrel-check: t.conf stops loading at line 2: the plug-in would not start with it, and a reload puts line 1 in force, without a report, and leaves the rest unloaded
a NUL byte, described once|2|chat 1 1 public\nx\0y\nchat 5 x\n|t.conf:2: error: Line 2 in file t.conf too long (a NUL byte at column 2 ends the line early, so the plug-in takes it for a line too long): the load stops here; line 3 is not read~!t.conf:3~!warning
a long last line without newline|2|chat 1 1 public\nchat 2 1 public\n# %0296d|t.conf:3: error: Line 3 in file t.conf too long (the line is 298 characters long, above the 297 the plug-in reads): the load stops here~vestrel-check: t.conf stops loading at line 3: the plug-in would not start with it, and a reload puts lines 1 to 2 in force, without a report, and leaves the rest unloaded
the first line stops the load|2|%0300d\nchat 1 1 public\n|vestrel-check: t.conf stops loading at line 1: the plug-in would not start with it, and a reload empties every limit parameter and loads nothing
a CRLF file: one warning, no follow-on errors|1|# comment\r\nchat 10 1 public\r\npage 3 1 all\r\n\r\nsetrank gmsg god\r\nguestwiz no\r\n|t.conf:1: warning: 6 lines end in a carriage return, this one first (a file saved with CRLF line ends): the plug-in reads it as part of the line's last word, so such a word names no room class, keyword value or rank; remove them with sed -i 's/\r$//' t.conf or dos2unix t.conf (the problems they cause are not listed one by one)~!error:~!applies nowhere~vestrel-check: t.conf: 0 errors, 1 warning
a CRLF file keeps the problems that are not the carriage returns|1|chat 10 1 public\r\nchatter 5\r\n|t.conf:2: error: Problem unrecognizable parameter name, ignored in line 2 of parameter file: chatter 5\x0D~!Unrecognized room type
a CRLF file, the first CR further down|1|chat 10 1 public\nchat 5 1 private\r\n|t.conf:2: warning: 1 line ends in a carriage return, this one first (a file saved with CRLF line ends): the plug-in reads it as part of the line's last word, so such a word names no room class, keyword value or rank; remove them with sed -i 's/\r$//' t.conf or dos2unix t.conf (the problems they cause are not listed one by one)
EOF
expect "a file that cannot be read: the summary says the configuration stays" 2 \
  "vestrel-check: unreadable.conf cannot be read: the plug-in would not start with it, and a reload keeps the configuration in force" \
  unreadable.conf
expect "a missing file: the summary says the same" 2 \
  "vestrel-check: none.conf cannot be read: the plug-in would not start with it, and a reload keeps the configuration in force" \
  none.conf

# ---- arguments -------------------------------------------------------------------------
printf 'chat 10 1 public\n' >ok.conf
expect "--room without its number" 2 "vestrel-check: --room needs a room number" ok.conf --room
expect "--class without its class" 2 "vestrel-check: --class needs a room class" ok.conf --room 3 --class
expect "--commands with --room is refused" 2 \
  "vestrel-check: --commands and --room answer different questions: ask one at a time" \
  --commands ok.conf --room 5
expect "--class in upper case" 0 "room 3, private (as asked):" ok.conf --room 3 --class PRIVATE
expect "--class limbo: a user in no room" 0 \
  "a user in no room (limbo; the room number does not matter):" ok.conf --room 3 --class limbo
printf 'chat 10 1 limbo\nchat 20 1 public\n' >limbo.conf
expect "--class limbo finds the first entry with any class" 0 \
  "  chat             line 1: chat 10 1 limbo" limbo.conf --room 0 --class limbo
cp ok.conf ./--room
expect "-- ends the options" 0 "vestrel-check: --room is clean" -- --room
expect "- is standard input" 1 \
  "<stdin>:1: warning: guestwiz 'nope' is neither yes nor no: the setting is left as it was" \
  - <<<"guestwiz nope"
expect "--room: a rule without an entry does not apply" 0 "  godonly          no entry: does not apply" \
  ok.conf --room 3
expect "--room: a limit without an entry is not limited" 0 "  move             not limited" \
  ok.conf --room 3
printf 'setrank goto member\n' >goto.conf
expect "--commands: nobody below the rank aims the command" 0 \
  "goto (goto): member and up; aimed at others by member and up; help class user" --commands goto.conf

# ---- --commands, --help, --version ------------------------------------------------
expect "--commands: the built-in table" 0 \
  "gmsg (gmsg): wizard and up; aimed at others by nobody; help class managing" --commands
expect "--commands: the shortest abbreviation" 0 \
  "newroom (ne): member and up; aimed at others by nobody; help class host's own" --commands
printf 'setrank gmsg god\nsetrank pinx 2 1\n' >ranks.conf
expect "--commands: after setrank" 0 \
  "gmsg (gmsg): god and up; aimed at others by nobody; help class managing" --commands ranks.conf
expect "--commands: a target rank" 0 \
  "pinx (pinx): wizard and up; aimed at others by wizard and up; help class managing" --commands ranks.conf
expect "--help" 0 "Exit status: 0 clean, 1 problems or warnings, 2 the file did not load: it cannot" --help
version=$("$check" --version)
[[ "$version" =~ ^vestrel-check\ [0-9]+\.[0-9]+\.[0-9]+$ ]] && passed=$((passed + 1)) ||
  fail "--version: '$version'"
expect "no file" 2 "usage: vestrel-check [--no-lint] [--room <n> [--class <class>]] [--] <file>|-"
expect "an unknown option" 2 "vestrel-check: unknown option --frobnicate" --frobnicate t.conf

echo "$passed passed, $failures failed"
[ "$failures" = 0 ]
