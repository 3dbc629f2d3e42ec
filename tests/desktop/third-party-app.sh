#!/usr/bin/env bash
# A real third-party Swing application from Debian's archive (Logisim),
# shipped with the tools and nothing written by hand: its jar and main class
# become a tree (tools/assemble-tree --main-class) and a package
# (tools/package); installed, it runs under Xvfb with java's window class,
# ends with status 0 when its window is closed as a window manager closes it,
# and purges without a trace.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/xvfb.sh"
require_package_install
need_tool xdotool xdotool
need_tool xprop x11-utils
JAR=/usr/share/logisim/logisim.jar
MAIN=com.cburch.logisim.Main
N=corvane-logisim-test
if [ ! -f "$JAR" ]; then
  apt_get install --no-install-recommends logisim >"$SCRATCH/logisim.log" 2>&1 \
    || skip "Debian's logisim cannot be installed here: $(tail -n 1 "$SCRATCH/logisim.log")"
fi
trap package_test_cleanup EXIT

env "${demo_env[@]}" timeout 600 "$CORVANE_TEST_SOURCE_DIR/tools/assemble-tree" -q --launcher "$CORVANE_TEST_LAUNCHER" \
  --jdk "$CORVANE_TEST_JDK_HOME" --dest "$SCRATCH/tree" --main-class "$MAIN" "$JAR" 2>"$SCRATCH/assemble.err" \
  || { fail "tools/assemble-tree failed: $(cat "$SCRATCH/assemble.err")"; finish; }
timeout 600 "$CORVANE_TEST_SOURCE_DIR/tools/package" -q --no-flatpak --tree "$SCRATCH/tree" --name "$N" --version 2.7.1 \
  --display-name Logisim --summary "Digital logic designer and simulator" --homepage http://www.cburch.com/logisim/ \
  --license GPL-2.0-or-later --developer "Carl Burch" --copyright "2005-2011 Carl Burch" --maintainer "Corvane tests <tests@corvane.example.org>" --categories "Education;Electronics;" \
  --icon /usr/share/icons/hicolor/128x128/apps/logisim-icon-128.png --out-dir "$SCRATCH/packages" >/dev/null 2>"$SCRATCH/package.err" \
  || { fail "tools/package failed: $(cat "$SCRATCH/package.err")"; finish; }
apt_get install "$SCRATCH/packages/${N}_2.7.1_amd64.deb" >"$SCRATCH/install.log" 2>&1 \
  || { fail "apt-get install failed: $(tail -n 3 "$SCRATCH/install.log" | tr '\n' '|')"; finish; }
dpkg-query -L "$N" >"$SCRATCH/files" || fail "dpkg knows no files of $N"
want_class=$(sed -n 's/^StartupWMClass=//p' /usr/share/applications/com.cburch.${N//-/_}.desktop)
[ "$want_class" = "${MAIN//./-}" ] || fail "the menu entry's StartupWMClass is '$want_class', wanted ${MAIN//./-} as java gives it"

start_xvfb
mkdir -p "$SCRATCH/logs" "$SCRATCH/home"
env "${demo_env[@]}" HOME="$SCRATCH/home" "/usr/bin/$N" >"$SCRATCH/app.out" 2>&1 </dev/null &
APP_PID=$!
WID=$(wait_window "^Logisim: main of " 120)
[ -n "$WID" ] || { fail "no Logisim window within 120 s; output: $(tail -n 5 "$SCRATCH/app.out" | tr '\n' '|')"; finish; }
[ "$(window_pid "$WID")" = "$APP_PID" ] || fail "the window belongs to process $(window_pid "$WID"), not to the launcher ($APP_PID)"
class=$(window_class "$WID")
[ "$class" = "\"$want_class\", \"$want_class\"" ] || fail "WM_CLASS is $class, wanted $want_class"
note "window $WID, WM_CLASS $class"

"$CORVANE_TEST_WM_CLOSE" "$WID" || fail "cannot send WM_DELETE_WINDOW to $WID"
if wait_gone 300 "$APP_PID"; then
  wait "$APP_PID"
  status=$?
  [ "$status" = 0 ] || fail "Logisim ended with status $status after its window was closed"
  expect_exit_0_logged
else
  fail "Logisim did not end within 30 s of the close request"
fi
APP_PID=""
stop_xvfb

purge_and_check "$N" "$SCRATCH/files"
finish
