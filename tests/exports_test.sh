#!/usr/bin/env bash
# vestrel.so exports exactly the nine entry points, needs neither
# operator new/delete nor the C++ exception runtime, and imports nothing but
# the host's services and the C library, so a real server can load it.
set -u
so="$1"
sanitized="${2:-}" # "sanitized": the sanitizers' runtime is imported as well
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
# The services a server offers its plug-ins; anything else unversioned is a
# symbol a real server need not have.
services="AddDrawCommand ChangeUserColor ChangeUserDesc ChangeUserFace ChangeUserRoom
CtoPstr DecryptCString DeleteLooseProp DisposePtr FormattedLogMessage
GenerateListOfAllUsers GetRoom GetServerUser GetServerUserByCounter GetServerUserByName
GlobalMessage GodGlobalMessage NewPtr NewPtrClear PtoCstr RoomMessage ScheduleUserKill
SeedToWizKey UpdateUserPosition UserMessage UserPrivateMessage UserRank WizGlobalMessage
WizNeighborMessage WizRoomMessage deliverMessageDirect deliverMessageNormal
getPluginRoomInfo getPluginUserInfo scheduleTimerEvent sendMsgDraw sendMsgNavError
sendMsgUserDesc sendMsgUserMove sendMsgUserName sendMsgUserProp setPluginRoomInfoSize
setPluginUserInfoSize toUser toUserRoom"
# Under the sanitizers, their runtime's interceptors stand in for the C
# library's functions (fclose, memset, ...), so those imports come unversioned.
interceptors=" "
if [ "$sanitized" = sanitized ]; then
  for lib in $(ldd "$so" | awk '/lib(asan|ubsan)\.so/ { print $3 }'); do
    interceptors="$interceptors$(nm -D --defined-only "$lib" | awk '{ printf "%s ", $3 }')"
  done
fi
foreign=""
while read -r kind name; do
  case "$name" in
    *@GLIBC_*) continue ;; # the C library, versioned
  esac
  [ "$kind" = w ] && continue # weak: the toolchain's optional hooks
  if [ "$sanitized" = sanitized ]; then
    case "$name" in __asan_* | __ubsan_* | __sanitizer_* | __lsan_*) continue ;; esac
    case "$interceptors" in *" $name "*) continue ;; esac
  fi
  case " $(echo $services) " in
    *" $name "*) ;;
    *) foreign="$foreign $name" ;;
  esac
done < <(nm -D --undefined-only "$so" | awk '{ print $1, $2 }')
if [ -n "$foreign" ]; then
  echo "FAIL imports that are neither host services nor the C library:$foreign"
  failures=$((failures + 1))
else
  echo "ok imports only host services and the C library"
fi
echo "$((3 - failures)) passed, $failures failed"
[ "$failures" = 0 ]
