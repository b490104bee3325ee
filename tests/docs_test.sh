#!/usr/bin/env bash
# docs/ is generated from the plug-in's tables: it must be what the
# generator writes today. After a change, run: cmake --build build --target docs
set -u
docs_tool="$1"
docs="$2"
status=0
for page in parameters commands; do
  if ! diff -u "$docs/$page.md" <("$docs_tool" "$page") >/dev/null; then
    echo "FAIL docs/$page.md differs from what vestrel-docs $page writes:"
    diff -u "$docs/$page.md" <("$docs_tool" "$page") | head -40
    status=1
  else
    echo "ok docs/$page.md"
  fi
done
exit $status
