#!/usr/bin/env bash
# The entry bridge through the real launcher and VM: a plain application (jar +
# main class, a manifest Class-Path chain, Add-Opens) assembled with
# tools/assemble-tree gets only its own arguments and ends as java would make it
# end, its windows carrying java's window class (or the one training saw); a
# further command runs its own main class. Also the tree's JVM options file
# against a --jvm-args= file, and a second tree's fixed arguments, working
# folder, java's heap and a restart through java with the input arguments; one
# instance of an application that never listens; a crash told of once.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/xvfb.sh"
JDK=$CORVANE_TEST_JDK_HOME
APP_SRC="$CORVANE_TEST_SOURCE_DIR/tests/desktop/bridge-app"
TREE="$SCRATCH/tree"

# main.jar -> deps/mid.jar -> deps/end.jar (and back to main.jar); other.jar is given second.
mkdir -p "$SCRATCH/classes" "$SCRATCH/app/deps" "$SCRATCH/res/data"
mapfile -t sources < <(find "$APP_SRC" -name '*.java')
"$JDK/bin/javac" --release 17 -d "$SCRATCH/classes" "${sources[@]}" || { fail "cannot compile the test application"; finish; }
printf 'Class-Path: deps/mid.jar\nAdd-Opens: java.base/java.lang java.desktop/sun.awt.X11\n' >"$SCRATCH/main.mf"
printf 'Class-Path: end.jar ../main.jar\n' >"$SCRATCH/mid.mf"
echo "a resource" >"$SCRATCH/res/data/note.txt"
{ "$JDK/bin/jar" --create --file "$SCRATCH/app/main.jar" --manifest "$SCRATCH/main.mf" --main-class bridgeapp.Main \
    -C "$SCRATCH/classes" bridgeapp/Main.class -C "$SCRATCH/classes" bridgeapp/Other.class \
    -C "$SCRATCH/classes" bridgeapp/Start.class \
  && "$JDK/bin/jar" --create --file "$SCRATCH/app/deps/mid.jar" --manifest "$SCRATCH/mid.mf" -C "$SCRATCH" mid.mf \
  && "$JDK/bin/jar" --create --file "$SCRATCH/app/deps/end.jar" -C "$SCRATCH/classes" bridgeapp/dep \
  && "$JDK/bin/jar" --create --file "$SCRATCH/app/other.jar" -C "$SCRATCH" main.mf; } \
  || { fail "cannot make the test jars"; finish; }

# Trained (on a run that loads a class of the chain's last jar and shows a window
# of a class it names itself): the rows run with a trained archive, a class still
# knows the jar it came from, and the record has the window's class.
env "${demo_env[@]}" timeout 300 "$CORVANE_TEST_SOURCE_DIR/tools/assemble-tree" --quiet --train --train-arg named-window \
  --launcher "$CORVANE_TEST_LAUNCHER" --jdk "$JDK" --dest "$TREE" \
  --command bridge-other=bridgeapp.Other --jvm-option -Dbridge.test=tree --resources "$SCRATCH/res" "$SCRATCH/app/main.jar" "$SCRATCH/app/other.jar" \
  2>"$SCRATCH/assemble.err"
status=$?
[ "$status" = 0 ] || { fail "tools/assemble-tree ended with status $status: $(cat "$SCRATCH/assemble.err")"; finish; }

manifest=$(paste -sd' ' "$TREE/lib/manifest-bootstrap.txt")
[ "$manifest" = "corvane-bridge.jar main.jar mid.jar end.jar other.jar" ] \
  || fail "manifest-bootstrap.txt is '$manifest', wanted the bridge, then class-path order"
options=$(paste -sd' ' "$TREE/lib/jvm-options.txt")
[ "$options" = "--add-opens=java.base/java.lang=ALL-UNNAMED --add-opens=java.desktop/sun.awt.X11=ALL-UNNAMED --add-opens=java.management/sun.management=ALL-UNNAMED -Dbridge.test=tree" ] \
  || fail "lib/jvm-options.txt is '$options', wanted the manifest's Add-Opens, the bridge's, then the --jvm-option"
grep -q -x 'window-class=BridgeApp' "$TREE/lib/corvane-tree.txt" \
  || fail "the record's window class is not the trained window's BridgeApp: $(grep '^window-class=' "$TREE/lib/corvane-tree.txt")"
[ "$(cat "$TREE/lib/data/note.txt" 2>/dev/null)" = "a resource" ] || fail "the resources folder's contents are not in lib/"

: >"$SCRATCH/empty.args"
echo "-Dbridge.test=user" >"$SCRATCH/user.args"
# name | status | standard output, lines joined by ';' | arguments
CASES=(
  "plain arguments|0|arg=args;arg=one;arg=two|args one two"
  "the launcher's flags filtered, --wait-for-pid with its value|0|arg=args;arg=one;arg=two|args --log-native-to-stdout --jvm-args=$SCRATCH/empty.args one --wait-for-pid -1 --install two --kill-wait-for-pid-target-on-timeout"
  "main returns, no other thread|0|bridge.test=tree|property"
  "a --jvm-args= file wins over the tree's options|0|bridge.test=user|--jvm-args=$SCRATCH/user.args property"
  "a non-daemon thread outlives main|0|main returned;thread ended|thread"
  "only a daemon thread after main|0|main returned|daemon"
  "exception out of main|1||throw"
  "System.exit(7)|7||exit 7"
  "manifest Add-Opens applied|0|opened value|opened"
  "class from a Class-Path chain jar|0|chained end.jar|chain"
  "German number format from the runtime's locale data|0|1.234,50|locale"
)
for row in "${CASES[@]}"; do
  IFS='|' read -r name want_status want_out args <<<"$row"
  read -r -a argv <<<"$args"
  rm -rf "$SCRATCH/logs"
  env -u DISPLAY "${demo_env[@]}" timeout 60 "$TREE/corvane" "${argv[@]}" >"$SCRATCH/out" 2>"$SCRATCH/err" </dev/null
  status=$?
  out=$(paste -sd';' "$SCRATCH/out")
  [ "$status" = "$want_status" ] || fail "$name: status $status, wanted $want_status; stderr: $(head -n 3 "$SCRATCH/err" | tr '\n' '|')"
  [ "$out" = "$want_out" ] || fail "$name: output '$out', wanted '$want_out'"
  note "$name: status $status"
done

# A further command: started under its name (a link to the launcher, as the
# package's /usr/bin/<command>), it runs its own main class on a main thread
# named like it, which gives its windows their own window class.
mkdir -p "$SCRATCH/bin" && ln -s "$TREE/corvane" "$SCRATCH/bin/bridge-other"
out=$(env -u DISPLAY "${demo_env[@]}" timeout 60 "$SCRATCH/bin/bridge-other" one two 2>/dev/null </dev/null)
[ "$out" = "other bridgeapp.Other one,two" ] || fail "the command bridge-other: output '$out'"
grep -q -x 'commands=bridge-other:bridgeapp.Other:bridgeapp-Other' "$TREE/lib/corvane-tree.txt" \
  || fail "the tree's record lacks the command: $(grep '^commands=' "$TREE/lib/corvane-tree.txt")"

# Fixed arguments before the user's, the working folder, java's heap limit (as
# java of the same JDK gives it) and a child started as java with the input arguments.
START="$SCRATCH/start-tree"
# shellcheck disable=SC2016 # ${INSTALL_DIR} is the record's own placeholder, not the shell's
env "${demo_env[@]}" timeout 300 "$CORVANE_TEST_SOURCE_DIR/tools/assemble-tree" --quiet --no-cds --main-class bridgeapp.Start \
  --argument '--data=${INSTALL_DIR}/share' --argument 'two  words' --working-dir '${INSTALL_DIR}/lib' \
  --launcher "$CORVANE_TEST_LAUNCHER" --jdk "$JDK" --dest "$START" "$SCRATCH/app/main.jar" 2>"$SCRATCH/assemble.err" \
  || fail "tools/assemble-tree of the start tree failed: $(cat "$SCRATCH/assemble.err")"
java_heap=$("$JDK/bin/java" -cp "$SCRATCH/classes" bridgeapp.Start | sed -n 's/^heap=//p')
out=$(cd "$SCRATCH" && env -u DISPLAY "${demo_env[@]}" timeout 120 "$START/corvane" restart 2>"$SCRATCH/err" </dev/null | paste -sd';')
want="arg=--data=$START/share;arg=two  words;arg=restart;dir=$START/lib;heap=$java_heap;child status 0: arg=child"
[ "$out" = "$want" ] || fail "the start tree: output '$out', wanted '$want'; stderr: $(head -n 3 "$SCRATCH/err" | tr '\n' '|')"

# A crash is told of once, at the next start (a terminal: on standard error).
env -u DISPLAY "${demo_env[@]}" timeout 60 "$TREE/corvane" crash >/dev/null 2>&1 </dev/null
report=$(find "$SCRATCH/logs" -name 'corvane-error-*.log' | head -n1)
[ -n "$report" ] || fail "a crash left no error file in $SCRATCH/logs"
tell=()
for _ in 1 2; do
  tell+=("$(env -u DISPLAY "${demo_env[@]}" timeout 60 "$(command -v script)" -qec "$TREE/corvane args" /dev/null </dev/null \
    | grep -F 'ended unexpectedly')")
done
[[ ${tell[0]} == *"tree ended unexpectedly: It stopped on "*". The report is $report."* ]] \
  || fail "the start after a crash does not tell of it and its report: '${tell[0]}'"
[ -z "${tell[1]}" ] || fail "a crash is told of twice: '${tell[1]}'"

# The exception's report is java's: thread name, exception and the main frame.
env -u DISPLAY "${demo_env[@]}" timeout 60 "$TREE/corvane" throw >/dev/null 2>"$SCRATCH/err" </dev/null
{ grep -q -F 'Exception in thread "main" java.lang.IllegalStateException: thrown out of main' "$SCRATCH/err" \
  && grep -q -F 'at bridgeapp.Main.main(' "$SCRATCH/err"; } \
  || fail "exception out of main: no stack trace like java's on stderr: $(head -n 3 "$SCRATCH/err" | tr '\n' '|')"

# A Swing window: java's WM_CLASS; closed as a window manager closes it and
# disposed, the last non-daemon thread ends and so does the process.
need_tool xdotool xdotool
need_tool xprop x11-utils
[ -n "${CORVANE_TEST_WM_CLOSE:-}" ] || { fail "no wm-close helper (package libx11-dev; tools/run-tests installs it)"; finish; }
start_xvfb
rm -rf "$SCRATCH/logs"
env "${demo_env[@]}" "$TREE/corvane" window >"$SCRATCH/out" 2>&1 </dev/null &
APP_PID=$!
WID=$(wait_window "^Bridge window\$" 60)
if [ -z "$WID" ]; then
  fail "no window 'Bridge window' within 60 s: $(tail -n 3 "$SCRATCH/out" | tr '\n' '|')"
  kill -KILL "$APP_PID"
else
  class=$(window_class "$WID")
  [ "$class" = '"bridgeapp-Main", "bridgeapp-Main"' ] || fail "WM_CLASS is $class, wanted bridgeapp-Main as java gives it"
  "$CORVANE_TEST_WM_CLOSE" "$WID" || fail "cannot send WM_DELETE_WINDOW to $WID"
  wait_gone 300 "$APP_PID" || { fail "the process did not end within 30 s of its last window's close"; kill -KILL "$APP_PID"; }
fi
wait "$APP_PID"
status=$?
[ "$status" = 0 ] || fail "a closed window: status $status, wanted 0"

# One instance of an application that never listens (the bridge answers for it):
# with =raise a second start brings the running window above another and ends;
# with yes it goes on at once as a normal start.
ONE="$SCRATCH/one-tree"
env "${demo_env[@]}" timeout 300 "$CORVANE_TEST_SOURCE_DIR/tools/assemble-tree" --quiet --no-cds --single-instance=raise \
  --launcher "$CORVANE_TEST_LAUNCHER" --jdk "$JDK" --dest "$ONE" "$SCRATCH/app/main.jar" 2>"$SCRATCH/assemble.err" \
  || fail "tools/assemble-tree --single-instance=raise failed: $(cat "$SCRATCH/assemble.err")"
mkdir -m 0700 "$SCRATCH/run"
one_env=("${demo_env[@]}" XDG_RUNTIME_DIR="$SCRATCH/run")
# The visible window of process $1: its line in xwininfo's list of the root's
# children, topmost first (the first child is line 7).
stack_line() {
  local wid
  local _
  for _ in $(seq 600); do
    wid=$(xdotool search --all --onlyvisible --pid "$1" --name '^Bridge window$' 2>/dev/null | head -n1)
    [ -n "$wid" ] && break
    sleep 0.1
  done
  [ -n "$wid" ] && xwininfo -root -children | grep -n -i -E "^ +$(printf '0x%x' "$wid") " | cut -d: -f1
}
env "${one_env[@]}" "$ONE/corvane" window >/dev/null 2>&1 </dev/null &
APP_PID=$!
stack_line "$APP_PID" >/dev/null
"$JDK/bin/java" -cp "$SCRATCH/classes" bridgeapp.Main window >/dev/null 2>&1 </dev/null &
COVER_PID=$!
before=$(stack_line "$COVER_PID")
env "${one_env[@]}" timeout 30 "$ONE/corvane" window >/dev/null 2>&1 </dev/null
status=$?
# The X server takes the raise a moment after the instance's answer.
for _ in $(seq 50); do
  cover=$(stack_line "$COVER_PID") raised=$(stack_line "$APP_PID")
  [ -n "$cover" ] && [ -n "$raised" ] && [ "$raised" -lt "$cover" ] && break
  sleep 0.1
done
[ "$status" = 0 ] || fail "raise: the second start ended with status $status, wanted 0"
{ [ "${before:-0}" = 7 ] && [ -n "$cover" ] && [ -n "$raised" ] && [ "$raised" -lt "$cover" ]; } \
  || fail "raise: the running window is not above the other: lines $raised and $cover (the other was at $before)"
kill -KILL "$APP_PID" "$COVER_PID" 2>/dev/null
wait "$APP_PID" "$COVER_PID" 2>/dev/null
sed -i 's/^single-instance=raise$/single-instance=yes/' "$ONE/lib/corvane-tree.txt"
env "${one_env[@]}" "$ONE/corvane" window >/dev/null 2>&1 </dev/null &
APP_PID=$!
stack_line "$APP_PID" >/dev/null || fail "yes: the first start showed no window"
env "${one_env[@]}" "$ONE/corvane" window >/dev/null 2>&1 </dev/null &
SECOND_PID=$!
stack_line "$SECOND_PID" >/dev/null || fail "yes: the second start showed no window of its own"
grep -q -F 'has no listener for this start; starting normally' "$SCRATCH/logs/corvane-native.log" \
  || fail "yes: the second start's log does not say that the instance has no listener"
kill -KILL "$APP_PID" "$SECOND_PID" 2>/dev/null
wait "$APP_PID" "$SECOND_PID" 2>/dev/null
stop_xvfb
finish
