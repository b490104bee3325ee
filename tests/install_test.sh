#!/usr/bin/env bash
# cmake --install into a temporary prefix, then the installed tools on the
# installed example; cpack -G DEB, then the package's contents.
set -u
build="$1"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
prefix="$dir/prefix"
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }

cmake --install "$build" --prefix "$prefix" >"$dir/install.log" 2>&1 || { cat "$dir/install.log"; fail "cmake --install"; }
doc="$prefix/share/doc/vestrel"
for f in bin/vestrel-check bin/vestrel-sim lib/vestrel/vestrel.so \
  share/man/man1/vestrel-check.1 share/man/man1/vestrel-sim.1 \
  share/doc/vestrel/examples/vestrel.conf share/doc/vestrel/examples/demo.scn \
  share/doc/vestrel/parameters.md share/doc/vestrel/commands.md share/doc/vestrel/README.md; do
  [ -e "$prefix/$f" ] || fail "not installed: $f"
done

out=$("$prefix/bin/vestrel-check" "$doc/examples/vestrel.conf")
[ $? = 0 ] && grep -qxF "vestrel-check: $doc/examples/vestrel.conf is clean" <<<"$out" ||
  { echo "$out"; fail "the installed vestrel-check on the installed example"; }
out=$("$prefix/bin/vestrel-sim" -q "$doc/examples/demo.scn")
[ $? = 0 ] || { echo "$out"; fail "the installed vestrel-sim plays the installed demo"; }
"$prefix/bin/vestrel-sim" --version >/dev/null || fail "vestrel-sim --version"
grep -q "^.TH VESTREL-CHECK 1 .*vestrel [0-9]" "$prefix/share/man/man1/vestrel-check.1" ||
  fail "the installed man page of vestrel-check carries the version"
if command -v groff >/dev/null; then
  for page in vestrel-check vestrel-sim; do
    [ -z "$(groff -man -Tutf8 -ww -z "$prefix/share/man/man1/$page.1" 2>&1)" ] ||
      fail "groff warns about the man page of $page"
  done
fi

if command -v cpack >/dev/null && command -v dpkg-deb >/dev/null; then
  (cd "$dir" && cpack -G DEB --config "$build/CPackConfig.cmake" >"$dir/cpack.log" 2>&1) ||
    { cat "$dir/cpack.log"; fail "cpack -G DEB"; }
  deb=$(ls "$dir"/vestrel_*.deb 2>/dev/null | head -1)
  if [ -z "$deb" ]; then
    fail "no .deb written"
  else
    contents=$(dpkg-deb -c "$deb")
    for f in ./usr/bin/vestrel-check ./usr/bin/vestrel-sim ./usr/lib/vestrel/vestrel.so \
      ./usr/share/man/man1/vestrel-check.1 ./usr/share/doc/vestrel/examples/vestrel.conf; do
      grep -q " $f\$" <<<"$contents" || fail "not in the package: $f"
    done
    dpkg-deb -f "$deb" Package Version | tr '\n' ' '; echo
  fi
else
  echo "skipped: cpack or dpkg-deb not installed"
fi

[ "$failures" = 0 ] && echo "install and package: ok"
[ "$failures" = 0 ]
