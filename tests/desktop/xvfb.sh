# shellcheck shell=bash
# Helpers of the tests that drive a desktop: an Xvfb of their own, its
# windows, and installing packages as a user would. Source after lib.sh.
XVFB_PID=""
# The application a window test runs, killed by window_test_cleanup.
APP_PID=""

# Starts the test's own Xvfb (tools/lib/start-xvfb) with the Xvfb options in
# "$@", exports DISPLAY and sets XVFB_PID; the test fails with the reason when
# it does not start.
# shellcheck disable=SC2120 # its arguments are optional
start_xvfb() {
  local started
  started=$("$CORVANE_TEST_SOURCE_DIR/tools/lib/start-xvfb" "$SCRATCH/xvfb.log" "$@" 2>&1) || { fail "$started"; finish; }
  read -r DISPLAY XVFB_PID <<<"$started"
  export DISPLAY
  note "Xvfb on display $DISPLAY"
}

# Ends that Xvfb and waits up to 5 s for it to exit. start-xvfb started it, so
# it is no child of this shell: exited and not yet collected by init counts as ended.
stop_xvfb() {
  [ -n "$XVFB_PID" ] || return 0
  local _
  if kill "$XVFB_PID" 2>/dev/null; then
    for _ in $(seq 50); do
      grep -q '^State:[[:space:]]*[^Z[:space:]]' "/proc/$XVFB_PID/status" 2>/dev/null || break
      sleep 0.1
    done
  fi
  XVFB_PID=""
}

# The exit trap of a test that runs one application at a time in APP_PID.
# shellcheck disable=SC2317 # run by the EXIT trap
window_test_cleanup() {
  [ -n "$APP_PID" ] && kill -KILL "$APP_PID" 2>/dev/null
  stop_xvfb
  cleanup_scratch
}

# Prints the first window whose title matches the regular expression $1,
# waiting up to $2 seconds. One search at a time: xdotool ends on the X error of
# a window that goes while it looks (a splash screen closing), so it is asked again.
wait_window() {
  local deadline=$((SECONDS + $2)) wid
  while [ "$SECONDS" -lt "$deadline" ]; do
    wid=$(xdotool search --name "$1" 2>/dev/null | head -n1)
    [ -n "$wid" ] && { echo "$wid"; return 0; }
    sleep 0.1
  done
}

# Waits up to $1 tenths of a second for process $2 to end; true when it ended.
wait_gone() {
  local i
  for ((i = 0; i < $1; i++)); do kill -0 "$2" 2>/dev/null || return 0; sleep 0.1; done
  ! kill -0 "$2" 2>/dev/null
}

# Presses Ctrl+R ("Restart") in the demo's window $1. Without a window manager
# the keyboard focus can stay where a window that has gone left it: a click on
# the window's header gives it the focus first.
press_restart() {
  eval "$(xdotool getwindowgeometry --shell "$1")"
  xdotool mousemove --window "$1" $((WIDTH / 2)) 15 click 1
  sleep 0.3
  xdotool key ctrl+r
}

# The value of window $1's property $2 as sed expression $3 takes it out of
# xprop's line; the toolkit may set it after the title that found the window,
# so this waits up to $4 tenths of a second for it.
window_property() {
  local value="" _
  for _ in $(seq "$4"); do
    value=$(xprop -id "$1" "$2" 2>/dev/null | sed -n "$3")
    [ -n "$value" ] && break
    sleep 0.1
  done
  echo "$value"
}
# The window's WM_CLASS as "instance", "class".
window_class() { window_property "$1" WM_CLASS 's/^WM_CLASS(STRING) = //p' 100; }
window_pid() { window_property "$1" _NET_WM_PID 's/.* = \([0-9]*\)$/\1/p' 200; }

# Runs apt-get as a user would, waiting for a lock another run holds.
apt_get() {
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300 -y -q "$@"
}

# Skips the test where packages cannot be installed.
require_apt() {
  command -v apt-get >/dev/null 2>&1 || skip "no apt-get: packages cannot be installed here"
  [ "$(id -u)" = 0 ] || skip "installing a package needs root (tests run as root in CI)"
}

# The same, for a test that also closes windows as a window manager does.
require_package_install() {
  require_apt
  [ -n "${CORVANE_TEST_WM_CLOSE:-}" ] || { fail "no wm-close helper (package libx11-dev; tools/run-tests installs it)"; finish; }
}

# The exit trap of a package test: ends the application ($APP_PID) and Xvfb,
# and purges the package $N if it is still installed.
package_test_cleanup() {
  [ -n "${APP_PID:-}" ] && kill -KILL "$APP_PID" 2>/dev/null
  stop_xvfb
  dpkg-query -W "$N" >/dev/null 2>&1 && apt_get purge "$N" >/dev/null 2>&1
  cleanup_scratch
}

# Purges package $1 and checks that none of its files (listed in $2) is left.
purge_and_check() {
  apt_get purge "$1" >"$SCRATCH/purge.log" 2>&1 || fail "apt-get purge $1 failed: $(tail -n 2 "$SCRATCH/purge.log" | tr '\n' '|')"
  local left
  left=$(while IFS= read -r f; do [ -e "$f" ] && [ ! -d "$f" ] && echo "$f"; done <"$2"; [ -e "/opt/$1" ] && echo "/opt/$1")
  [ -z "$left" ] || fail "files left after purging $1: $(head -n 5 <<<"$left" | tr '\n' ' ')"
}
