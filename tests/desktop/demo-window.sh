#!/usr/bin/env bash
# The desktop test: under Xvfb the demo tree opens its window in the
# launcher's own process; a click on Quit ends the launcher with status 0 and
# the native log ends with the exit hook's line. The screenshot stays in the
# build folder as desktop-test-screenshot.png.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/xvfb.sh"
need_tool xdotool xdotool
need_tool import imagemagick
need_tool identify imagemagick
need_tool xprop x11-utils
require_demo_tree
TREE=$CORVANE_TEST_DEMO_TREE
SHOT="$CORVANE_TEST_BUILD_DIR/desktop-test-screenshot.png"
TITLE="Corvane demo"
[ "$CORVANE_TEST_JDK_MAJOR" -ge "$CORVANE_TEST_JDK_MINIMUM" ] || note "JDK $CORVANE_TEST_JDK_MAJOR is older than $CORVANE_TEST_JDK_MINIMUM: the demo runs with CORVANE_AGGRESSIVE_OPTIMIZATIONS=0"
[ -f "$TREE/jre/lib/libawt_xawt.so" ] || { fail "the tree's runtime has no X11 toolkit (jre/lib/libawt_xawt.so): the JDK at $CORVANE_TEST_JDK_HOME is a headless one"; finish; }

trap window_test_cleanup EXIT

start_xvfb

# A blank screen for comparison.
import -window root "$SCRATCH/blank.png" || { fail "import cannot take a screenshot of $DISPLAY"; finish; }
blank_colours=$(identify -format '%k' "$SCRATCH/blank.png")

mkdir -p "$SCRATCH/logs"
env "${demo_env[@]}" "$TREE/corvane" desktop-test >"$SCRATCH/demo.out" 2>&1 </dev/null &
APP_PID=$!

WID=$(wait_window "^$TITLE\$" 60)
if [ -z "$WID" ]; then
  fail "no window titled '$TITLE' within 60 s; demo output: $(tail -n 5 "$SCRATCH/demo.out" | tr '\n' '|')"
  finish
fi
note "window $WID"
owner=$(window_pid "$WID")
[ "$owner" = "$APP_PID" ] || fail "the window belongs to process '$owner', not to the launcher ($APP_PID)"

# The window paints after it is mapped: take screenshots until it shows up
# (bounded), then judge the last one.
colours=0
for _ in $(seq 40); do
  import -window root "$SHOT" 2>/dev/null && colours=$(identify -format '%k' "$SHOT" 2>/dev/null)
  [ "${colours:-0}" -ge 64 ] && break
  sleep 0.25
done
note "screenshot $SHOT: $colours colours (blank screen: $blank_colours)"
[ "${colours:-0}" -ge 64 ] || fail "the screenshot looks blank: $colours colours"

eval "$(xdotool getwindowgeometry --shell "$WID")"
# The Quit button spans the window's bottom edge.
xdotool mousemove --window "$WID" $((WIDTH / 2)) $((HEIGHT - 12)) click 1
if ! wait_gone 300 "$APP_PID"; then
  fail "the launcher did not end within 30 s of the click on Quit"
  kill -KILL "$APP_PID"; wait "$APP_PID" 2>/dev/null; APP_PID=""
  finish
fi
wait "$APP_PID"
status=$?
APP_PID=""
[ "$status" = 0 ] || fail "the launcher ended with status $status after Quit"
expect_exit_0_logged
finish
