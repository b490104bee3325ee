#!/usr/bin/env bash
# vestrel.so exports exactly the nine entry points and needs neither
# operator new/delete nor the C++ exception runtime.
set -u
so="$1"
expected="handleMessage
handleTimerEvent
initializeServerPlugin
noteRoomCreation
noteRoomDeletion
noteUserCreation
noteUserDeletion
noteUserRoomEntry
shutdownServerPlugin"
exported=$(nm -D --defined-only "$so" | awk '$2 == "T" { print $3 }' | sort)
failures=0
if [ "$exported" != "$expected" ]; then
  echo "FAIL exported functions:"; echo "$exported"; failures=$((failures + 1))
else
  echo "ok exactly the nine entry points"
fi
runtime=$(nm -D -u "$so" | grep -E '_Znwm|_Znam|_ZdlPv|_ZdaPv|__cxa_throw|__cxa_begin_catch|__gxx_personality|_Unwind_Resume')
if [ -n "$runtime" ]; then
  echo "FAIL references to the C++ runtime:"; echo "$runtime"; failures=$((failures + 1))
else
  echo "ok no operator new or exception runtime"
fi
echo "$((2 - failures)) passed, $failures failed"
[ "$failures" = 0 ]
