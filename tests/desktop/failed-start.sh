#!/usr/bin/env bash
# A start that fails is seen: on a terminal the reason is printed there; from the
# desktop (standard error no terminal) a notification names the application, the
# cause and the log, on a session bus of the test's own watched by dbus-monitor.
source "$(dirname "$0")/lib.sh"
require_demo_tree
need_tool notify-send libnotify-bin
need_tool dbus-run-session dbus-daemon
need_tool dbus-monitor dbus-bin
need_tool gdbus libglib2.0-bin
need_tool script bsdutils
TREE=$CORVANE_TEST_DEMO_TREE
NAME=$(sed -n 's/^name=//p' "$TREE/lib/corvane-tree.txt")
echo "-XX:+NoSuchOptionAnywhere" >"$SCRATCH/bad.args"
LOG="$SCRATCH/logs/corvane-native.log"
# The notifiers and no dialog program on this PATH: notify-send finds no
# notification server on the test's bus, then gdbus sends the notification.
mkdir -p "$SCRATCH/bin"
for tool in notify-send gdbus env timeout; do ln -s "$(command -v "$tool")" "$SCRATCH/bin/$tool"; done

# A terminal: the reason on standard error, no notification.
out=$(env "${demo_env[@]}" DISPLAY=:0 PATH="$SCRATCH/bin" "$(command -v script)" -qec \
  "$TREE/corvane --jvm-args=$SCRATCH/bad.args" /dev/null </dev/null)
[[ $out == *"$NAME could not start: Its Java runtime could not be started"*"$LOG"* ]] \
  || fail "on a terminal: the output does not name the application, the cause and the log: $out"

# The desktop: one notification on the session bus.
export SCRATCH NAME TREE
# shellcheck disable=SC2016 # expanded by the shell inside the session
dbus-run-session -- bash -c '
  dbus-monitor --session "interface=org.freedesktop.Notifications" >"$SCRATCH/bus.txt" 2>&1 &
  monitor=$!
  for _ in $(seq 50); do grep -q "member=NameAcquired" "$SCRATCH/bus.txt" && break; sleep 0.1; done
  env "$@" DISPLAY=:0 PATH="$SCRATCH/bin" timeout 60 "$TREE/corvane" --jvm-args="$SCRATCH/bad.args" \
    >"$SCRATCH/out" 2>&1 </dev/null
  echo "status=$?" >"$SCRATCH/status"
  sleep 0.5
  kill "$monitor"' bash "${demo_env[@]}"
[ "$(cat "$SCRATCH/status")" = "status=53" ] || fail "a failed start: $(cat "$SCRATCH/status"), wanted 53"
notify=$(sed -n '/member=Notify$/,/^method\|^signal/p' "$SCRATCH/bus.txt")
for want in "string \"$NAME\"" "string \"$NAME could not start\"" "Its Java runtime could not be started" "$LOG"; do
  [[ $notify == *"$want"* ]] || fail "the notification lacks '$want': $(head -c 600 "$SCRATCH/bus.txt")"
done
finish
