#!/usr/bin/env bash
# A trained tree, moved, then with its jar replaced: the VM keeps the trained
# default archive and runs the new jar's classes, which no archive holds.
source "$(dirname "$0")/lib.sh"
[ "$CORVANE_TEST_JDK_MAJOR" -ge "$CORVANE_TEST_JDK_MINIMUM" ] || skip "JDK $CORVANE_TEST_JDK_MAJOR is older than $CORVANE_TEST_JDK_MINIMUM: the checks read the archive for compact object headers"
require_demo_tree
TREE="$SCRATCH/tree"
DEMO_JAR_NAME=$(basename "$CORVANE_TEST_DEMO_JAR")
cp -a "$CORVANE_TEST_DEMO_TREE" "$TREE" || { fail "cannot copy the demo tree"; finish; }

# runs_entry <what> <expected output line>: starts the copy; checks the status and the output.
runs_entry() {
  rm -rf "$SCRATCH/logs" && mkdir -p "$SCRATCH/logs"
  printf '%s\n' -Xlog:cds -Xlog:class+load >"$SCRATCH/check.args"
  env -u DISPLAY "${demo_env[@]}" CORVANE_DEMO_MODE=report timeout 60 "$TREE/corvane" "--jvm-args=$SCRATCH/check.args" \
    >"$SCRATCH/run.out" 2>&1 </dev/null
  local status=$?
  vm_messages "$SCRATCH/logs/corvane-native.log" >"$SCRATCH/vm-messages.txt"
  [ "$status" = 0 ] || fail "$1: status $status: $(tail -n 3 "$SCRATCH/run.out" | tr '\n' '|')"
  grep -q -x -F "$2" "$SCRATCH/run.out" || fail "$1: the output lacks '$2': $(head -n 3 "$SCRATCH/run.out" | tr '\n' '|')"
}
# entry_source: where the entry class came from in the last run.
entry_source() {
  sed -n 's/^com\.vellumbry\.corvane\.entry\.CorvaneProcessEarlyEntry source: //p' "$SCRATCH/vm-messages.txt" | head -n1
}

# Before: the copy, a moved tree, maps its trained archive and takes the entry
# class from its own jar.
runs_entry "trained copy" "Java home:          $TREE/jre"
[ "$(entry_source)" = "file:$TREE/lib/$DEMO_JAR_NAME" ] || fail "trained copy: the entry class came from '$(entry_source)', not its jar"
grep -q -x -F "Opened shared archive file $TREE/jre/lib/server/classes_coh.jsa." "$SCRATCH/vm-messages.txt" \
  || fail "trained copy: the trained archive is not mapped"

# A replaced jar of the same name with an entry of its own.
mkdir -p "$SCRATCH/src/com/vellumbry/corvane/entry" "$SCRATCH/classes"
cat >"$SCRATCH/src/com/vellumbry/corvane/entry/CorvaneProcessEarlyEntry.java" <<'JAVA'
package com.vellumbry.corvane.entry;
public final class CorvaneProcessEarlyEntry {
    public static int startCorvane(String[] args) {
        System.out.println("replaced entry");
        return 1;
    }
}
JAVA
{ "$CORVANE_TEST_JDK_HOME/bin/javac" --release 17 -d "$SCRATCH/classes" "$SCRATCH/src/com/vellumbry/corvane/entry/CorvaneProcessEarlyEntry.java" \
  && "$CORVANE_TEST_JDK_HOME/bin/jar" --create --file "$TREE/lib/$DEMO_JAR_NAME" -C "$SCRATCH/classes" .; } \
  || { fail "cannot build the replacement jar"; finish; }

runs_entry "replaced jar" "replaced entry"
[[ $(entry_source) == file:* ]] || fail "replaced jar: the entry class came from '$(entry_source)', not from the jar"
grep -q -x -F "Opened shared archive file $TREE/jre/lib/server/classes_coh.jsa." "$SCRATCH/vm-messages.txt" \
  || fail "replaced jar: the default archive is not mapped"
grep -q -x 'java.lang.Object source: shared objects file' "$SCRATCH/vm-messages.txt" \
  || fail "replaced jar: the runtime's classes do not come from the default archive"
grep -q -x 'full module graph: enabled' "$SCRATCH/vm-messages.txt" || fail "replaced jar: no full module graph"
note "replaced jar: entry from $(entry_source)"
finish
