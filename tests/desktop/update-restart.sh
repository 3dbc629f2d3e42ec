#!/usr/bin/env bash
# Update and restart through real packages under Xvfb. Version N of the demo
# package is installed and started from its menu entry; installing N+1 leaves
# it running and offering "Restart to update"; Ctrl+R ("Restart") brings up
# N+1 in a new process, with one
# window at any time, and N's copy goes by itself once N has ended. Then the
# slow end: an instance whose end hangs is killed by its successor after the
# 20 s wait, and the colour management it loads after a reinstall comes from
# its own version's copy. Removing the package leaves no file behind.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/xvfb.sh"
require_package_install
need_tool dpkg-deb dpkg
need_tool xdotool xdotool
need_tool xprop x11-utils
need_tool gio libglib2.0-bin
require_demo_tree
source "$CORVANE_TEST_SOURCE_DIR/tools/lib/common.sh"

NAME=corvane-update-test
BASE=/opt/$NAME
TITLE="Corvane demo"
V1=$CORVANE_TEST_VERSION
V2=${V1%.*}.$((${V1##*.} + 1))
LOG="$SCRATCH/logs/corvane-native.log"

SENTINEL=""
# shellcheck disable=SC2317 # run by the EXIT trap, which shellcheck 0.9 misses in a script ending in exit
cleanup() {
  local pid
  for pid in $(instance_pids); do kill -KILL "$pid" 2>/dev/null; done
  [ -n "$SENTINEL" ] && kill "$SENTINEL" 2>/dev/null
  dpkg-query -W "$NAME" >/dev/null 2>&1 && apt_get purge "$NAME" >/dev/null 2>&1
  stop_xvfb
  cleanup_scratch
}
trap cleanup EXIT

# Installs the package file (apt-get options before it).
install_package() {
  apt_get install "$@" >"$SCRATCH/install.log" 2>&1 \
    || { fail "apt-get install $* failed: $(tail -n 3 "$SCRATCH/install.log" | tr '\n' '|')"; finish; }
}

# Processes whose executable lies below the package's directory.
instance_pids() {
  local exe
  for exe in /proc/[0-9]*/exe; do
    case $(readlink "$exe" 2>/dev/null) in "$BASE"/*) exe=${exe#/proc/}; echo "${exe%/exe}" ;; esac
  done
}

# A process that has ended but is not reaped yet (a zombie) counts as gone.
alive() {
  local state
  state=$(sed -n 's/^[0-9]* (.*) \(.\) .*/\1/p' "/proc/$1/stat" 2>/dev/null)
  [ -n "$state" ] && [ "$state" != Z ]
}
windows() { xdotool search --name "^$TITLE\$" 2>/dev/null; }

# Waits up to $1 s for a window whose process is not $2; sets NEW_WID and
# NEW_PID. Meanwhile there must never be two windows.
wait_new_window() {
  local limit=$(($1 * 10)) old=$2 i wid count
  NEW_WID="" NEW_PID=""
  for ((i = 0; i < limit; i++)); do
    count=$(windows | wc -l)
    [ "$count" -le 1 ] || fail "$count windows of the application at once during the hand-over"
    for wid in $(windows); do
      NEW_PID=$(window_pid "$wid" 2>/dev/null)
      if [ -n "$NEW_PID" ] && [ "$NEW_PID" != "$old" ]; then NEW_WID=$wid; return 0; fi
    done
    sleep 0.1
  done
  return 1
}

# The package of an install tree with the given launcher and version.
make_package() {  # make_package <launcher> <version>
  local tree="$SCRATCH/tree-$2"
  cp -a "$CORVANE_TEST_DEMO_TREE" "$tree" && cp "$1" "$tree/corvane" || return 1
  "$CORVANE_TEST_SOURCE_DIR/tools/package" --tree "$tree" --name "$NAME" --version "$2" --out-dir "$SCRATCH" \
    --display-name "$TITLE" --app-id "org.example.${NAME//-/_}" --maintainer "Corvane tests <tests@example.org>" \
    >"$SCRATCH/package-$2.log" 2>&1 || { fail "tools/package failed: $(tail -n 3 "$SCRATCH/package-$2.log")"; return 1; }
  DEB="$SCRATCH/${NAME}_$2_amd64.deb"
}

# Version N+1: the same sources built with another CORVANE_VERSION.
NEXT_BUILD="$CORVANE_TEST_BUILD_DIR/update-test-next"
{ corvane_configure "$NEXT_BUILD" -DCORVANE_VERSION="$V2" -DCORVANE_BUILD_TESTS=OFF \
    -DCORVANE_JDK_HOME="$CORVANE_TEST_JDK_HOME" && corvane_build "$NEXT_BUILD" corvane; } \
  || { fail "cannot build the launcher with version $V2"; finish; }
make_package "$CORVANE_TEST_LAUNCHER" "$V1" || finish
DEB1=$DEB
make_package "$NEXT_BUILD/corvane" "$V2" || finish
DEB2=$DEB
DESKTOP_FILE=$(dpkg-deb -c "$DEB1" | grep -o '\./usr/share/applications/[^ ]*\.desktop' | sed 's/^\.//')
[ -n "$DESKTOP_FILE" ] || { fail "the package has no menu entry"; finish; }
WM_CLASS_WANTED=$(dpkg-deb --fsys-tarfile "$DEB1" | tar -xO ".$DESKTOP_FILE" | sed -n 's/^StartupWMClass=//p')

start_xvfb
export CORVANE_NATIVE_LOG_DIR_OVERRIDE="$SCRATCH/logs"
[ "$CORVANE_TEST_JDK_MAJOR" -ge "$CORVANE_TEST_JDK_MINIMUM" ] || export CORVANE_AGGRESSIVE_OPTIMIZATIONS=0
mkdir -p "$SCRATCH/logs"

# Starts the application from its menu entry; sets PID and WID.
start_from_menu() {
  gio launch "$DESKTOP_FILE" >"$SCRATCH/gio.out" 2>&1 || { fail "gio launch failed: $(cat "$SCRATCH/gio.out")"; return 1; }
  wait_new_window 60 none || { fail "no window within 60 s of the menu start"; return 1; }
  PID=$NEW_PID WID=$NEW_WID
}

# Presses Ctrl+R ("Restart") in window $1. Without a window manager the
# keyboard focus can stay where a window that has gone left it: a click on
# the window's header gives it the focus first.
press_restart() {
  eval "$(xdotool getwindowgeometry --shell "$1")"
  xdotool mousemove --window "$1" $((WIDTH / 2)) 15 click 1
  sleep 0.3
  xdotool key ctrl+r
}

# The version directory the process runs from.
version_dir() { dirname "$(readlink "/proc/$1/exe")"; }

# ---- N installed, started from the menu, N+1 installed over it -----------------

install_package "$DEB1"
start_from_menu || finish
OLD=$PID
CLASS=$(window_class "$WID")
[ "$CLASS" = "\"$WM_CLASS_WANTED\", \"$WM_CLASS_WANTED\"" ] || fail "WM_CLASS is $CLASS, the menu entry says $WM_CLASS_WANTED"
[ "$(version_dir "$OLD")" = "$BASE/versions/$V1" ] || fail "version $V1 runs from $(version_dir "$OLD"), not from its own copy"

install_package "$DEB2"
alive "$OLD" || fail "installing $V2 ended the running instance"
# The running version notices the new one (current names another copy) and offers the restart.
[ -n "$(wait_window "^$TITLE: update installed\$" 30)" ] || fail "the running instance did not offer a restart within 30 s of the upgrade"
[ "$(windows)" = "$WID" ] || fail "installing $V2 changed the windows: $(windows | tr '\n' ' ')"
[ "$(readlink "$BASE/current")" = "versions/$V2" ] || fail "current points at $(readlink "$BASE/current"), not versions/$V2"

# ---- Restart: N+1 comes up, N is gone -----------------------------------------

press_restart "$WID"
if wait_new_window 60 "$OLD"; then
  NEW=$NEW_PID
  alive "$OLD" && fail "the old instance $OLD still runs beside the new window"
  [ "$(version_dir "$NEW")" = "$BASE/versions/$V2" ] || fail "the new window's process runs from $(version_dir "$NEW")"
  [ "$(window_class "$NEW_WID")" = "$CLASS" ] || fail "WM_CLASS changed from $CLASS to $(window_class "$NEW_WID")"
  grep -q "^$V2 $NEW .* run Program arguments:  --wait-for-pid $OLD --install \$" "$LOG" \
    || fail "no line of version $V2, pid $NEW with the hand-over's arguments in the log"
  exit_line=$(grep -n "^$V1 $OLD .* jvm_exit JVM: exit( 0 )" "$LOG" | cut -d: -f1)
  gone_line=$(grep -n "^$V2 $NEW .* Process $OLD has gone" "$LOG" | cut -d: -f1)
  { [ -n "$exit_line" ] && [ -n "$gone_line" ] && [ "$exit_line" -lt "$gone_line" ]; } \
    || fail "the log lacks the old instance's exit line ($exit_line) before the new one's 'has gone' ($gone_line)"
  for _ in $(seq 30); do [ -d "$BASE/versions/$V1" ] || break; sleep 1; done
  [ -d "$BASE/versions/$V1" ] && fail "versions/$V1 is still there 30 s after its last instance ended, without another configure"
else
  fail "no new window within 60 s of Ctrl+R; the log's end: $(tail -n 5 "$LOG")"
fi

# ---- the slow end, after a reinstall of N+1 -----------------------------------

for pid in $(instance_pids); do kill -KILL "$pid"; done
sleep 1
CORVANE_DEMO_SLOW_EXIT_SECONDS=120 start_from_menu || finish
SLOW=$PID
LCMS=jre/lib/liblcms.so
lcms_inode=$(stat -c %i "$BASE/$LCMS")
install_package --reinstall "$DEB2"
[ -d "$BASE/versions/$V1" ] && fail "versions/$V1 is still there with no process using it"
sleep 300 &
SENTINEL=$!
press_restart "$WID"
# The colour management that greys the window loads only now: from the
# instance's own copy, the file of its install, not the reinstalled one.
for _ in $(seq 100); do grep -q liblcms "/proc/$SLOW/maps" && break; sleep 0.1; done
mapped=$(awk '/liblcms/ { print $5, $6; exit }' "/proc/$SLOW/maps")
[ "$mapped" = "$lcms_inode $BASE/versions/$V2/$LCMS" ] \
  || fail "liblcms is mapped as '$mapped', wanted inode $lcms_inode from $BASE/versions/$V2/$LCMS"
if wait_new_window 40 "$SLOW"; then
  alive "$SLOW" && fail "the slow instance $SLOW still runs beside the new window"
  grep -q "^$V2 $NEW_PID .* Killing process pid $SLOW\$" "$LOG" || fail "the new instance did not log killing $SLOW"
  [ "$(version_dir "$NEW_PID")" = "$BASE/versions/${V2}_copy2" ] || fail "after the reinstall the new instance runs from $(version_dir "$NEW_PID")"
else
  fail "no new window within 40 s of Ctrl+R in the slow instance"
fi
kill -0 "$SENTINEL" 2>/dev/null || fail "an unrelated process died during the hand-over"
bad=$(grep -v -E '^$|^=+$|^Logger initialized$|^/|^[0-9]+(\.[0-9]+){3} [0-9]+ [0-9-]+ [0-9:.]+ [A-Z]+ |^	' "$LOG" | head -n 3)
bad=$bad$(grep -E '[^0-9.][0-9]+(\.[0-9]+){3} [0-9]+ [0-9]{4}-[0-9]{2}-[0-9]{2} [0-9:.]+ [A-Z]+ ' "$LOG" | head -n 3)
[ -z "$bad" ] || fail "log lines that are not whole: $bad"

# ---- removal leaves nothing --------------------------------------------------

for pid in $(instance_pids); do kill -KILL "$pid"; done
sleep 1
dpkg-query -L "$NAME" >"$SCRATCH/files"
purge_and_check "$NAME" "$SCRATCH/files"
finish
