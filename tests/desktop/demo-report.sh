#!/usr/bin/env bash
# Without a display the demo prints its report and the launcher ends with
# status 0 through the VM's exit: the facts are the launcher's own. Its log
# goes where a user's would: the tree's record names the application, whose
# state folder keeps it.
source "$(dirname "$0")/lib.sh"
require_demo_tree
TREE=$CORVANE_TEST_DEMO_TREE
NAME=$(sed -n 's/^name=//p' "$TREE/lib/corvane-tree.txt" | tail -n 1)
STATE_DIR=$SCRATCH/state/$NAME

report_env=(XDG_STATE_HOME="$SCRATCH/state" XDG_CACHE_HOME="$SCRATCH/cache")
if [ "$CORVANE_TEST_JDK_MAJOR" -lt "$CORVANE_TEST_JDK_MINIMUM" ]; then
  report_env+=(CORVANE_AGGRESSIVE_OPTIMIZATIONS=0)
fi
env -u DISPLAY -u CORVANE_NATIVE_LOG_DIR_OVERRIDE "${report_env[@]}" "$TREE/corvane" alpha "two words" \
  >"$SCRATCH/out.txt" 2>"$SCRATCH/err.txt" </dev/null &
pid=$!
for _ in $(seq 600); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$pid" 2>/dev/null; then
  kill -KILL "$pid"; wait "$pid"
  fail "the demo without a display did not end within 60 s"; finish
fi
wait "$pid"
status=$?
out=$(cat "$SCRATCH/out.txt")
[ "$status" = 0 ] || fail "the launcher ended with status $status: $(tail -n 3 "$SCRATCH/err.txt")"
[ -s "$SCRATCH/err.txt" ] && fail "the start printed on standard error: $(head -n 3 "$SCRATCH/err.txt")"

expect_line() {  # expect_line <regex> <what>
  grep -q -E "$1" <<<"$out" || fail "the report lacks $2 (wanted a line matching: $1)"
}
expect_line "^Process id: +$pid\$" "the launcher's own pid $pid"
expect_line "^Process executable: +$TREE/corvane\$" "the launcher as the process executable"
expect_line "^Runtime: +[0-9]" "the runtime version"
expect_line "^Java home: +$TREE/jre\$" "the tree's runtime as java.home"
expect_line "^Heap: +[0-9.]+ MiB in use" "the heap in use"
expect_line '^Arguments \(3\):$' "the argument count"
expect_line "^ +\[0\] $TREE/corvane\$" "the program path as argument 0"
expect_line '^ +\[1\] alpha$' "argument 1"
expect_line '^ +\[2\] two words$' "argument 2 with its blank"
expect_line "^ +CORVANE_VERSION = $CORVANE_TEST_VERSION\$" "the product version"
expect_line "^ +corvane.jars.path = $TREE/lib/\$" "corvane.jars.path"
expect_line "^ +$TREE/lib/$(basename "$CORVANE_TEST_DEMO_JAR")\$" "the class path entry"
expect_line "^ +jna.library.path = $TREE\$" "jna.library.path"
expect_line "^ +vindo.library.path = $TREE\$" "vindo.library.path"
expect_line '^ +--add-opens=java.desktop/sun.awt=ALL-UNNAMED$' "the launcher's VM options"
expect_line "^ +$TREE/lib/jvm-options.txt \(not there\)\$" "the tree's JVM options file, first of the files it names"
expect_line "^Native log folder: +$STATE_DIR\$" "the application's state folder $STATE_DIR"

expect_exit_0_logged "$STATE_DIR/corvane-native.log"
finish
