#!/usr/bin/env bash
# A trained tree serves its own classes from a per-user archive made for the
# place it lies in: a copy makes one on its first start and then takes the
# entry class from it with its code source naming the copy's jar; moved, it
# makes another; two cold starts at once both run and make one archive; with
# its jar replaced it runs the new jar's classes, which no archive holds.
source "$(dirname "$0")/lib.sh"
[ "$CORVANE_TEST_JDK_MAJOR" -ge "$CORVANE_TEST_JDK_MINIMUM" ] || skip "JDK $CORVANE_TEST_JDK_MAJOR is older than $CORVANE_TEST_JDK_MINIMUM: the checks read the archive for compact object headers"
require_demo_tree
TREE="$SCRATCH/tree"
MOVED="$SCRATCH/moved tree"
DEMO_JAR_NAME=$(basename "$CORVANE_TEST_DEMO_JAR")
NAME=$(sed -n 's/^name=//p' "$CORVANE_TEST_DEMO_TREE/lib/corvane-tree.txt")
ARCHIVES="$SCRATCH/cache/corvane/$NAME"
cp -a "$CORVANE_TEST_DEMO_TREE" "$TREE" || { fail "cannot copy the demo tree"; finish; }
printf '%s\n' -Xlog:cds -Xlog:class+load >"$SCRATCH/check.args"

# start <tree> <tag>: one report run; its output and VM messages under <tag>.
start() {
  local logs="$SCRATCH/logs-$2"
  rm -rf "$logs" && mkdir -p "$logs"
  env -u DISPLAY "${demo_env[@]}" CORVANE_NATIVE_LOG_DIR_OVERRIDE="$logs" CORVANE_DEMO_MODE=report timeout 60 \
    "$1/corvane" "--jvm-args=$SCRATCH/check.args" >"$SCRATCH/$2.out" 2>&1 </dev/null
  local status=$?
  vm_messages "$logs/corvane-native.log" >"$SCRATCH/$2.vm"
  [ "$status" = 0 ] || fail "$2: status $status: $(tail -n 3 "$SCRATCH/$2.out" | tr '\n' '|')"
}
# entry_source <tag>: where the entry class came from.
entry_source() {
  sed -n 's/^com\.vellumbry\.corvane\.entry\.CorvaneProcessEarlyEntry source: //p' "$SCRATCH/$1.vm" | head -n1
}
code_source() { sed -n 's/^Code source: *//p' "$SCRATCH/$1.out"; }
archive_count() { find "$ARCHIVES" -maxdepth 1 -name 'app-*.jsa' 2>/dev/null | wc -l; }
# wait_archives <n>: waits (bounded) until the background dumps have left n archives.
wait_archives() {
  local i
  for ((i = 0; i < 240; i++)); do
    [ "$(archive_count)" -ge "$1" ] && [ -z "$(find "$ARCHIVES" -maxdepth 1 -name '*.tmp')" ] && return 0
    sleep 0.5
  done
  fail "no application class archive $1 appeared in $ARCHIVES: $(find "$ARCHIVES" -mindepth 1 -printf "%f " 2>&1)"
  return 1
}
# served_from_archive <tree> <tag>: the entry class came from the archive and names the tree's jar.
served_from_archive() {
  grep -q -F "Opened shared archive file $ARCHIVES/app-" "$SCRATCH/$2.vm" || fail "$2: the application archive is not mapped"
  [ "$(entry_source "$2")" = "shared objects file (top)" ] || [ "$(entry_source "$2")" = "shared objects file" ] \
    || fail "$2: the entry class came from '$(entry_source "$2")', not from the archive"
  [ "$(code_source "$2")" = "file:${1// /%20}/lib/$DEMO_JAR_NAME" ] \
    || fail "$2: the code source is '$(code_source "$2")', not the tree's jar"
}

# Two cold starts at once: both run, one archive results.
start "$TREE" cold-a & start "$TREE" cold-b & wait
wait_archives 1
[ "$(archive_count)" = 1 ] || fail "two cold starts left $(archive_count) archives"
start "$TREE" warm
served_from_archive "$TREE" warm

# Moved: a new archive for the new place; the classes name the jars where they are now.
mv "$TREE" "$MOVED" || { fail "cannot move the tree"; finish; }
start "$MOVED" moved-first
[ "$(code_source moved-first)" = "file:${MOVED// /%20}/lib/$DEMO_JAR_NAME" ] || fail "moved, first start: code source '$(code_source moved-first)'"
wait_archives 2
start "$MOVED" moved
served_from_archive "$MOVED" moved

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
  && "$CORVANE_TEST_JDK_HOME/bin/jar" --create --file "$MOVED/lib/$DEMO_JAR_NAME" -C "$SCRATCH/classes" .; } \
  || { fail "cannot build the replacement jar"; finish; }

start "$MOVED" replaced
grep -q -x -F "replaced entry" "$SCRATCH/replaced.out" || fail "replaced jar: the old entry ran: $(head -n 3 "$SCRATCH/replaced.out" | tr '\n' '|')"
[[ $(entry_source replaced) == file:* ]] || fail "replaced jar: the entry class came from '$(entry_source replaced)', not from the jar"
grep -q -x -F "Opened shared archive file $MOVED/jre/lib/server/classes_coh.jsa." "$SCRATCH/replaced.vm" \
  || fail "replaced jar: the trained default archive is not mapped"
grep -q -x 'java.lang.Object source: shared objects file' "$SCRATCH/replaced.vm" \
  || fail "replaced jar: the runtime's classes do not come from the default archive"
grep -q -x 'full module graph: enabled' "$SCRATCH/replaced.vm" || fail "replaced jar: no full module graph"
note "archives: $(find "$ARCHIVES" -mindepth 1 -printf "%f ")"
finish
