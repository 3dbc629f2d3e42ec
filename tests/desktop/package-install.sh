#!/usr/bin/env bash
# The demo package as a user gets it: apt-get installs it, its menu entry
# starts it under Xvfb (gtk-launch), its window carries the entry's
# StartupWMClass and belongs to the installed launcher, whose first start takes
# the class archive made at packaging; closed as a window manager closes it, it
# ends with status 0; a file of its type and a link of its scheme open in it
# (gio open); after a jar of the installed copy changes, a start takes the
# per-user archive instead; apt-get purge leaves no file.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/xvfb.sh"
require_package_install
need_tool gtk-launch libgtk-3-bin
need_tool gio libglib2.0-bin
need_tool xdotool xdotool
need_tool xprop x11-utils
N=$CORVANE_TEST_PACKAGE_NAME
DEB="$CORVANE_TEST_PACKAGE_DIR/${N}_1.0_amd64.deb"
[ -f "$DEB" ] || { fail "no package $DEB (the package test failed)"; finish; }
trap package_test_cleanup EXIT

apt_get install "$DEB" >"$SCRATCH/install.log" 2>&1 || { fail "apt-get install $DEB failed: $(tail -n 3 "$SCRATCH/install.log" | tr '\n' '|')"; finish; }
dpkg-query -L "$N" >"$SCRATCH/files" || fail "dpkg knows no files of $N"
DESKTOP="/usr/share/applications/$CORVANE_TEST_PACKAGE_ID.desktop"
want_class=$(sed -n 's/^StartupWMClass=//p' "$DESKTOP")
[ -n "$want_class" ] || fail "the installed menu entry $DESKTOP has no StartupWMClass"

mkdir -p "$SCRATCH/logs"
start_xvfb
env "${demo_env[@]}" XDG_DATA_DIRS=/usr/local/share:/usr/share \
  timeout 60 gtk-launch "$CORVANE_TEST_PACKAGE_ID" >"$SCRATCH/launch.out" 2>&1 </dev/null \
  || { fail "gtk-launch $CORVANE_TEST_PACKAGE_ID failed: $(tr '\n' '|' <"$SCRATCH/launch.out")"; finish; }
WID=$(wait_window "^Corvane demo\$" 60)
[ -n "$WID" ] || { fail "no window 'Corvane demo' within 60 s of gtk-launch"; finish; }
APP_PID=$(window_pid "$WID")
[ "$(readlink "/proc/$APP_PID/exe" 2>/dev/null)" = "/opt/$N/versions/1.0/corvane" ] \
  || fail "the window's process $APP_PID is $(readlink "/proc/$APP_PID/exe" 2>/dev/null), not /opt/$N/versions/1.0/corvane"
class=$(window_class "$WID")
[ "$class" = "\"$want_class\", \"$want_class\"" ] || fail "WM_CLASS is $class, the menu entry expects $want_class"
note "window $WID of process $APP_PID, WM_CLASS $class"

"$CORVANE_TEST_WM_CLOSE" "$WID" || fail "cannot send WM_DELETE_WINDOW to $WID"
wait_gone 300 "$APP_PID" || fail "the application did not end within 30 s of the close request"
APP_PID=""
expect_exit_0_logged
SHIPPED="/opt/$N/versions/1.0/lib/app-archive.jsa"
grep -q -F "Using the application class archive made at packaging $SHIPPED:" "$SCRATCH/logs/corvane-native.log" \
  || fail "the first start did not take the archive made at packaging: $(grep -h 'class archive' "$SCRATCH/logs/corvane-native.log" | tr '\n' '|')"

# A file of the package's type and a link of its scheme, opened as the desktop
# opens them, start the application with that file (as a path or a file: URL)
# or link among its arguments.
echo "a document" >"$SCRATCH/doc.cdtest"
for target in "$SCRATCH/doc.cdtest" "$N://hello"; do
  env "${demo_env[@]}" XDG_DATA_DIRS=/usr/local/share:/usr/share timeout 60 gio open "$target" \
    >"$SCRATCH/open.out" 2>&1 </dev/null || { fail "gio open $target failed: $(tr '\n' '|' <"$SCRATCH/open.out")"; continue; }
  WID=$(wait_window "^Corvane demo\$" 60)
  [ -n "$WID" ] || { fail "no window within 60 s of gio open $target"; continue; }
  APP_PID=$(window_pid "$WID")
  tr '\0' '\n' <"/proc/$APP_PID/cmdline" | grep -q -x -F -e "$target" -e "file://$target" \
    || fail "gio open $target: the application's arguments are $(tr '\0' ' ' <"/proc/$APP_PID/cmdline")"
  "$CORVANE_TEST_WM_CLOSE" "$WID" || fail "cannot send WM_DELETE_WINDOW to $WID"
  wait_gone 300 "$APP_PID" || fail "the application did not end within 30 s of the close request"
  APP_PID=""
done
stop_xvfb

# Run in report mode (no display), the demo names its class archive's use in
# the native log and its classes' code source.
report_run() {
  rm -rf "$SCRATCH/logs" && mkdir -p "$SCRATCH/logs"
  env -u DISPLAY "${demo_env[@]}" CORVANE_DEMO_MODE=report timeout 60 "/usr/bin/$N" >"$SCRATCH/report.out" 2>&1 </dev/null \
    || fail "$1: the report run failed: $(tail -n 3 "$SCRATCH/report.out" | tr '\n' '|')"
  grep -q -x -F "Code source:        file:/opt/$N/versions/1.0/lib/$(basename "$CORVANE_TEST_DEMO_JAR")" "$SCRATCH/report.out" \
    || fail "$1: the demo's code source is not its installed jar: $(grep 'Code source' "$SCRATCH/report.out")"
  expect_exit_0_logged
}
archive_lines() {
  grep -h 'class archive' "$SCRATCH/logs/corvane-native.log" | tr '\n' '|'
}

report_run "a later start"
grep -q -F "Using the application class archive made at packaging $SHIPPED:" "$SCRATCH/logs/corvane-native.log" \
  || fail "a later start did not take the archive made at packaging: $(archive_lines)"

# A jar of the installed copy changed after packaging: the shipped archive is
# not taken (its classes would be the old jar's); the user's archive is made
# for the changed tree and a later start takes it.
JAR="/opt/$N/versions/1.0/lib/$(basename "$CORVANE_TEST_DEMO_JAR")"
touch "$JAR"
report_run "the start after the jar changed"
grep -q "Not using the application class archive made at packaging.*$JAR" "$SCRATCH/logs/corvane-native.log" \
  || fail "the start after the jar changed did not say it leaves the shipped archive out: $(archive_lines)"
grep -q -F "Using the application class archive made at packaging" "$SCRATCH/logs/corvane-native.log" \
  && fail "the start after the jar changed took the archive made at packaging"
for ((i = 0; i < 240; i++)); do
  [ -n "$(find "$SCRATCH/cache/corvane/$N" -maxdepth 1 -name 'app-*.jsa' 2>/dev/null)" ] && break
  sleep 0.5
done
report_run "the start with the user's archive"
grep -q "Using the application class archive  *$SCRATCH/cache/corvane/$N/app-" "$SCRATCH/logs/corvane-native.log" \
  || fail "the changed tree's start used no per-user class archive: $(archive_lines)"

purge_and_check "$N" "$SCRATCH/files"
finish
