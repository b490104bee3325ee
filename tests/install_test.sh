#!/usr/bin/env bash
# cmake --install --strip into a temporary prefix, then the installed tools
# on the installed example; cpack -G DEB, then the package as a packager
# looks at it: stripped programs, compressed man pages and changelogs, the
# copyright file, links that work where the files are, no maintainer
# scripts, and lintian where it is installed.
# Arguments: the build folder, then groff and lintian (empty or OFF when
# absent).
set -u
build="$1"
groff="${2:-}"
lintian="${3:-}"
source_dir=$(cd "$(dirname "$0")/.." && pwd)
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
prefix="$dir/prefix"
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
usable() { [ -n "$1" ] && [ "$1" != OFF ] && [ "${1%-NOTFOUND}" = "$1" ]; }

# A tree as installed, under its root ($1, with usr/ or the prefix in it).
check_tree() {
  local root="$1" where="$2" f elf sections page md target
  local doc="$root/share/doc/vestrel"
  for f in bin/vestrel-check bin/vestrel-sim share/man/man1/vestrel-check.1.gz \
    share/man/man1/vestrel-sim.1.gz share/doc/vestrel/examples/vestrel.conf \
    share/doc/vestrel/examples/demo.scn share/doc/vestrel/docs/parameters.md \
    share/doc/vestrel/docs/commands.md share/doc/vestrel/README.md share/doc/vestrel/copyright \
    share/doc/vestrel/changelog.Debian.gz share/doc/vestrel/changelog.gz; do
    [ -e "$root/$f" ] || fail "$where: not installed: $f"
  done
  plugin=$(ls "$root"/lib/*/vestrel/vestrel.so "$root"/lib/vestrel/vestrel.so 2>/dev/null | head -1)
  [ -n "$plugin" ] || fail "$where: no vestrel.so"

  # Stripped: no symbol table and no debug information; what the server
  # and the tools need stays in the dynamic symbol table.
  for elf in "$root/bin/vestrel-check" "$root/bin/vestrel-sim" $plugin; do
    [ -e "$elf" ] || continue
    sections=$(readelf -SW "$elf" | grep -oE '\.(symtab|debug_[a-z_]+)' | sort -u | tr '\n' ' ')
    [ -z "$sections" ] || fail "$where: $(basename "$elf") is not stripped: $sections"
  done
  [ -z "$plugin" ] || readelf --dyn-syms -W "$plugin" | grep -qw initializeServerPlugin ||
    fail "$where: the stripped vestrel.so still exports its entry points"

  # Compressed with gzip -9n (no name, no time stamp: the same bytes every build).
  for f in "$root"/share/man/man1/*.gz "$doc"/*.gz; do
    [ -e "$f" ] || continue
    gzip -t "$f" 2>/dev/null || fail "$where: not gzip: ${f#"$root"/}"
    [ "$(od -An -tx1 -j4 -N4 "$f" | tr -d ' ')" = 00000000 ] || fail "$where: ${f#"$root"/} carries a time stamp"
  done
  ls "$root"/share/man/man1/*.1 >/dev/null 2>&1 && fail "$where: uncompressed man pages"
  zcat "$root/share/man/man1/vestrel-check.1.gz" 2>/dev/null | grep -q "^.TH VESTREL-CHECK 1 .*vestrel [0-9]" ||
    fail "$where: the installed man page of vestrel-check carries the version"
  if usable "$groff"; then
    for page in vestrel-check vestrel-sim; do
      [ -z "$(zcat "$root/share/man/man1/$page.1.gz" | "$groff" -man -Tutf8 -ww -z 2>&1)" ] ||
        fail "$where: groff warns about the man page of $page"
    done
  fi
  zcat "$doc/changelog.Debian.gz" 2>/dev/null | head -1 | grep -q "^vestrel ($version) " ||
    fail "$where: changelog.Debian.gz begins with this version, $version"

  # The copyright file: machine-readable, MIT (Expat) for the vestrel
  # developers, the same licence text as LICENSE.
  f="$doc/copyright"
  if [ -e "$f" ]; then
    head -1 "$f" | grep -qxF "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ||
      fail "$where: copyright is not in the machine-readable format"
    grep -qxF "Copyright: 2026 the vestrel developers" "$f" && grep -qxF "License: Expat" "$f" ||
      fail "$where: copyright names the vestrel developers and the MIT (Expat) licence"
    diff <(awk '/^License: Expat$/ { n = NR } { line[NR] = $0 } END { for (i = n + 1; i <= NR; i++) print line[i] }' "$f" |
      sed 's/^ //; s/^\.$//') \
      <(sed -n '/^Permission/,$p' "$source_dir/LICENSE") >/dev/null ||
      fail "$where: the licence in copyright is not the text of LICENSE"
  fi

  # Every relative link of the installed Markdown finds its file.
  for md in $(find "$doc" -name '*.md'); do
    for target in $(grep -oE '\]\([^)#]+' "$md" | sed 's/^](//' | grep -vE '^[a-z]+:'); do
      [ -e "$(dirname "$md")/$target" ] || fail "$where: ${md#"$doc"/} links $target, which is not installed there"
    done
  done
}

version=$(sed -n 's/^#define VESTREL_VERSION "\(.*\)"/\1/p' "$source_dir/plugins/vestrel/vestrel.h")-1

cmake --install "$build" --strip --prefix "$prefix" >"$dir/install.log" 2>&1 || { cat "$dir/install.log"; fail "cmake --install --strip"; }
check_tree "$prefix" "cmake --install"
doc="$prefix/share/doc/vestrel"
out=$("$prefix/bin/vestrel-check" "$doc/examples/vestrel.conf")
[ $? = 0 ] && grep -qxF "vestrel-check: $doc/examples/vestrel.conf is clean" <<<"$out" ||
  { echo "$out"; fail "the installed vestrel-check on the installed example"; }
out=$("$prefix/bin/vestrel-sim" -q "$doc/examples/demo.scn")
[ $? = 0 ] || { echo "$out"; fail "the installed vestrel-sim plays the installed demo"; }
"$prefix/bin/vestrel-sim" --version >/dev/null || fail "vestrel-sim --version"

if command -v cpack >/dev/null && command -v dpkg-deb >/dev/null; then
  (cd "$dir" && cpack -G DEB --config "$build/CPackConfig.cmake" >"$dir/cpack.log" 2>&1) ||
    { cat "$dir/cpack.log"; fail "cpack -G DEB"; }
  deb=$(ls "$dir"/vestrel_*.deb 2>/dev/null | head -1)
  if [ -z "$deb" ]; then
    fail "no .deb written"
  else
    dpkg-deb -x "$deb" "$dir/deb"
    check_tree "$dir/deb/usr" "the package"
    [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "the package's version is $version"
    maintainer=$(dpkg-deb -f "$deb" Maintainer)
    grep -qE '^[^<]+ <[^@>]+@[^.>]+\.[^>]+>$' <<<"$maintainer" && ! grep -q localhost <<<"$maintainer" ||
      fail "the package's maintainer is a name and an address lintian takes: $maintainer"
    [ -z "$(dpkg-deb -f "$deb" Homepage)" ] || fail "the package has a Homepage field, and no home page"
    dpkg-deb -e "$deb" "$dir/control"
    scripts=$(cd "$dir/control" && ls preinst postinst prerm postrm triggers config 2>/dev/null | tr '\n' ' ')
    [ -z "$scripts" ] || fail "the package has maintainer scripts: $scripts"
    if usable "$lintian"; then
      # Errors fail; warnings are printed, and the README says why any stays.
      "$lintian" --no-tag-display-limit "$deb" >"$dir/lintian.log" 2>&1
      grep -E '^[EW]: ' "$dir/lintian.log"
      grep -qE '^E: ' "$dir/lintian.log" && fail "lintian finds errors in the package"
    fi
    dpkg-deb -f "$deb" Package Version | tr '\n' ' '; echo
  fi
else
  echo "skipped: cpack or dpkg-deb not installed"
fi

[ "$failures" = 0 ] && echo "install and package: ok"
[ "$failures" = 0 ]
