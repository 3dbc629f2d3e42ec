#!/usr/bin/env bash
# The display scale through the real launcher and VM under the test's own Xvfb:
# a Swing application assembled with tools/assemble-tree sees the scale that
# Xft.dpi (loaded with xrdb), an XSETTINGS manager (xsettingsd), GDK_SCALE or a
# line of the user's options file gives, as its default transform and as the
# launcher's log line names it. A display that takes the connection and never
# answers does not hold the start up, and a display that asks for a cookie gets
# the user's.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/xvfb.sh"
need_tool xrdb x11-xserver-utils
need_tool xsettingsd xsettingsd
need_tool python3 python3
JDK=$CORVANE_TEST_JDK_HOME
TREE="$SCRATCH/tree"
XSETTINGSD_PID=""
LISTENER_PID=""

mkdir -p "$SCRATCH/classes"
{ "$JDK/bin/javac" --release 17 -d "$SCRATCH/classes" "$CORVANE_TEST_SOURCE_DIR/tests/desktop/scale-app/scaleapp/Main.java" \
  && "$JDK/bin/jar" --create --file "$SCRATCH/scale.jar" --main-class scaleapp.Main -C "$SCRATCH/classes" scaleapp; } \
  || { fail "cannot make the test application"; finish; }
env "${demo_env[@]}" timeout 300 "$CORVANE_TEST_SOURCE_DIR/tools/assemble-tree" --quiet --no-cds \
  --launcher "$CORVANE_TEST_LAUNCHER" --jdk "$JDK" --dest "$TREE" "$SCRATCH/scale.jar" 2>"$SCRATCH/assemble.err" \
  || { fail "tools/assemble-tree failed: $(cat "$SCRATCH/assemble.err")"; finish; }
NAME=$(sed -n 's/^name=//p' "$TREE/lib/corvane-tree.txt")
mkdir -p "$SCRATCH/config/$NAME"
echo "-Dsun.java2d.uiScale=1" >"$SCRATCH/config/$NAME/jvm-options.txt"

# shellcheck disable=SC2317 # run by the EXIT trap
cleanup() {
  [ -n "$XSETTINGSD_PID" ] && kill "$XSETTINGSD_PID" 2>/dev/null
  [ -n "$LISTENER_PID" ] && kill "$LISTENER_PID" 2>/dev/null
  window_test_cleanup
}
trap cleanup EXIT
# start-xvfb's server never resets: what xrdb loads stays after xrdb has gone.
start_xvfb

# An XSETTINGS manager with the settings in $1, until stop_xsettingsd.
start_xsettingsd() {
  printf '%s\n' "$1" >"$SCRATCH/xsettingsd.conf"
  xsettingsd -c "$SCRATCH/xsettingsd.conf" >"$SCRATCH/xsettingsd.log" 2>&1 &
  XSETTINGSD_PID=$!
  local _
  for _ in $(seq 100); do
    grep -q 'Took ownership of selection' "$SCRATCH/xsettingsd.log" && return 0
    sleep 0.1
  done
  fail "xsettingsd did not take the XSETTINGS selection: $(tail -n 2 "$SCRATCH/xsettingsd.log" | tr '\n' '|')"
}
stop_xsettingsd() {
  [ -n "$XSETTINGSD_PID" ] && kill "$XSETTINGSD_PID" 2>/dev/null && wait "$XSETTINGSD_PID" 2>/dev/null
  XSETTINGSD_PID=""
}

# A local display that takes connections and never answers: a listener on the
# abstract socket of the first free display number from 4000 on. Sets SILENT_DISPLAY.
start_silent_display() {
  python3 -c '
import socket, sys, time
for n in range(4000, 4100):
    s = socket.socket(socket.AF_UNIX)
    try:
        s.bind("\0/tmp/.X11-unix/X%d" % n)
    except OSError:
        continue
    s.listen(8)
    print(n, flush=True)
    time.sleep(600)
    sys.exit(0)
sys.exit(1)' >"$SCRATCH/listener.out" &
  LISTENER_PID=$!
  local _
  for _ in $(seq 100); do
    [ -s "$SCRATCH/listener.out" ] && break
    sleep 0.1
  done
  SILENT_DISPLAY=":$(head -n 1 "$SCRATCH/listener.out")"
}

# Runs the tree with the environment in "$@" before it; OUT gets its output,
# lines joined by ';', and STATUS its exit status.
run_tree() {
  rm -rf "$SCRATCH/logs"
  env "${demo_env[@]}" "$@" timeout 60 "$TREE/corvane" ${ARGS:+"$ARGS"} >"$SCRATCH/out" 2>"$SCRATCH/err" </dev/null
  STATUS=$?
  OUT=$(paste -sd';' "$SCRATCH/out")
}

# Checks the run of row $1: status 0, output $2, and a log line matching $3.
check_run() {
  [ "$STATUS" = 0 ] || fail "$1: status $STATUS; stderr: $(head -n 3 "$SCRATCH/err" | tr '\n' '|')"
  [ "$OUT" = "$2" ] || fail "$1: output '$OUT', wanted '$2'"
  grep -q -E "$3" "$SCRATCH/logs/corvane-native.log" \
    || fail "$1: no log line like '$3': $(grep -i 'display scale' "$SCRATCH/logs/corvane-native.log" | tr '\n' '|')"
  note "$1: $OUT"
}

start_silent_display
NUMBER=${DISPLAY#:}
# name | Xft.dpi | XSETTINGS settings (- none) | environment (- none) | arguments | output | log line
ROWS=(
  "Xft.dpi 192|192|-|-||uiScale=2;display.scale=2;scaleX=2.0|startJVM Display scale 2 from Xft.dpi 192: -Dsun.java2d.uiScale=2 -Dcorvane.display.scale=2\$"
  "Xft.dpi 96 adds nothing|96|-|-||uiScale=null;display.scale=null;scaleX=1.0|startJVM Display scale 1 from Xft.dpi 96: nothing to add\$"
  "XSETTINGS before Xft.dpi, DISPLAY unix:N.0|96|Gdk/WindowScalingFactor 2|DISPLAY=unix:$NUMBER.0||uiScale=2;display.scale=2;scaleX=2.0|Display scale 2 from XSETTINGS Gdk/WindowScalingFactor 2:"
  "GDK_SCALE is left to the JDK|192|-|GDK_SCALE=3||uiScale=null;display.scale=null;scaleX=3.0|Display scale 3 from GDK_SCALE=3, which the JDK reads itself: nothing to add\$"
  "a line of the user's options file wins|192|-|XDG_CONFIG_HOME=$SCRATCH/config||uiScale=1;display.scale=null;scaleX=1.0|Display scale left to the user's jvm options file .*: -Dsun.java2d.uiScale=1\$"
  "a display that never answers|192|-|DISPLAY=$SILENT_DISPLAY|properties|uiScale=null;display.scale=null|No display scale from the X server: DISPLAY=$SILENT_DISPLAY: the X server did not answer in time\$"
)
for row in "${ROWS[@]}"; do
  IFS='|' read -r name dpi settings environment ARGS want_out want_log <<<"$row"
  printf 'Xft.dpi: %s\n' "$dpi" | xrdb -nocpp -load - || fail "$name: xrdb cannot load Xft.dpi"
  [ "$settings" = - ] || start_xsettingsd "$settings"
  read -r -a row_env <<<"${environment/#-/}"
  run_tree "${row_env[@]}"
  check_run "$name" "$want_out" "$want_log"
  stop_xsettingsd
done
kill "$LISTENER_PID" 2>/dev/null
LISTENER_PID=""

# A display that takes only the cookie of the user's Xauthority file (an entry
# for any host and display number, as display managers write them).
stop_xvfb
cookie=$(head -c 16 /dev/urandom | od -An -tx1 | tr -d '\n' | sed 's/ /\\x/g')
printf '\xff\xff\x00\x00\x00\x00\x00\x12MIT-MAGIC-COOKIE-1\x00\x10%b' "$cookie" >"$SCRATCH/xauthority"
start_xvfb -auth "$SCRATCH/xauthority"
echo 'Xft.dpi: 192' | XAUTHORITY="$SCRATCH/xauthority" xrdb -nocpp -load - || fail "xrdb cannot load Xft.dpi with the cookie"
ARGS=properties
run_tree XAUTHORITY=/nonexistent
grep -q -F 'the X server refused the connection' "$SCRATCH/logs/corvane-native.log" \
  || fail "without the cookie the X server did not refuse the launcher: $(grep -i 'display scale' "$SCRATCH/logs/corvane-native.log" | tr '\n' '|')"
ARGS=""
run_tree XAUTHORITY="$SCRATCH/xauthority"
check_run "a display that asks for the user's cookie" "uiScale=2;display.scale=2;scaleX=2.0" "Display scale 2 from Xft.dpi 192:"
finish
