#!/usr/bin/env bash
# Fixture: assembles the demo tree from the build's launcher and the demo jar
# with tools/assemble-tree, trained on the demo (its training mode ends after
# the first paint, on assemble-tree's own Xvfb), and checks its layout.
source "$(dirname "$0")/lib.sh"
TREE=$CORVANE_TEST_DEMO_TREE

env_args=()
if [ "$CORVANE_TEST_JDK_MAJOR" -lt "$CORVANE_TEST_JDK_MINIMUM" ]; then
  note "JDK $CORVANE_TEST_JDK_MAJOR is older than $CORVANE_TEST_JDK_MINIMUM: assembling with CORVANE_AGGRESSIVE_OPTIMIZATIONS=0"
  env_args+=(CORVANE_AGGRESSIVE_OPTIMIZATIONS=0)
fi
# Under AddressSanitizer the VM's writing of the archive layer trips the memcpy
# interceptor inside libjvm.so (see asan-jvm.supp).
if [ -n "${ASAN_OPTIONS:-}" ]; then
  export ASAN_OPTIONS="$ASAN_OPTIONS:suppressions=$CORVANE_TEST_SOURCE_DIR/tests/desktop/asan-jvm.supp"
fi
rm -rf "$TREE"
# A second jar, so that the manifest's order is checked too.
mkdir -p "$SCRATCH/extra" && echo "extra" >"$SCRATCH/extra/extra.txt"
"$CORVANE_TEST_JDK_HOME/bin/jar" --create --file "$SCRATCH/aaa-extra.jar" -C "$SCRATCH/extra" . || { fail "cannot make a jar"; finish; }

env -u DISPLAY "${env_args[@]}" CORVANE_DEMO_MODE=train timeout 540 "$CORVANE_TEST_SOURCE_DIR/tools/assemble-tree" \
  --train --train-seconds 120 --launcher "$CORVANE_TEST_LAUNCHER" --jdk "$CORVANE_TEST_JDK_HOME" --dest "$TREE" \
  "$CORVANE_TEST_DEMO_JAR" "$SCRATCH/aaa-extra.jar" 2>"$SCRATCH/assemble.err"
status=$?
cat "$SCRATCH/assemble.err"
[ "$status" = 0 ] || { fail "tools/assemble-tree ended with status $status"; finish; }
grep -q "runtime $(sed -n 's/^JAVA_VERSION="\(.*\)"$/\1/p' "$CORVANE_TEST_JDK_HOME/release")" "$SCRATCH/assemble.err" \
  || fail "tools/assemble-tree did not say which runtime version it used"

{ [ -x "$TREE/corvane" ] && cmp -s "$TREE/corvane" "$CORVANE_TEST_LAUNCHER"; } || fail "the tree's corvane is not the build's launcher"
[ -f "$TREE/jre/lib/server/libjvm.so" ] || fail "no jre/lib/server/libjvm.so in the tree"
modules=$(sed -n 's/^MODULES="\(.*\)"$/\1/p' "$TREE/jre/release")
for m in java.base java.desktop java.logging java.management jdk.unsupported; do
  grep -q -w "$m" <<<"$modules" || fail "the runtime lacks module $m (has: $modules)"
done
grep -q -w jdk.jlink <<<"$modules" && fail "the runtime holds jdk.jlink, a development tool the default leaves out"
[ ! -e "$TREE/jre/include" ] || fail "the runtime has header files (jre/include)"
[ ! -e "$TREE/jre/man" ] || fail "the runtime has man pages (jre/man)"
manifest=$(cat "$TREE/lib/manifest-bootstrap.txt")
wanted=$(printf '%s\n%s' "$(basename "$CORVANE_TEST_DEMO_JAR")" aaa-extra.jar)
[ "$manifest" = "$wanted" ] || fail "manifest-bootstrap.txt is '$manifest', wanted the jars in the given order: '$wanted'"
cmp -s "$TREE/lib/$(basename "$CORVANE_TEST_DEMO_JAR")" "$CORVANE_TEST_DEMO_JAR" || fail "the demo jar in lib/ differs"
[ -f "$TREE/lib/aaa-extra.jar" ] || fail "lib/aaa-extra.jar missing"
[ ! -e "$TREE/lib/jvm-options.txt" ] || fail "lib/jvm-options.txt was written, though nothing asked for an option"
grep -q -x 'javax/swing/JFrame id: [0-9]*' "$TREE/jre/lib/server/trained-classes.lst" 2>/dev/null \
  || fail "jre/lib/server/trained-classes.lst does not show training on the demo's window"

# The tree's record says what later steps need, as assembly found it.
record=$(grep -v '^#' "$TREE/lib/corvane-tree.txt" 2>/dev/null | grep -E '^(name|launcher-version|entry|window-class|class-data)=' | paste -sd' ')
[ "$record" = "name=$(basename "$TREE") launcher-version=$CORVANE_TEST_VERSION entry=own window-class=com-vellumbry-corvane-entry-CorvaneProcessEarlyEntry class-data=trained" ] \
  || fail "lib/corvane-tree.txt says '$record'"
extra=$(find "$TREE/lib" -mindepth 1 -maxdepth 1 -printf '%f\n' | grep -v -x -e manifest-bootstrap.txt -e aaa-extra.jar -e corvane-tree.txt -e "$(basename "$CORVANE_TEST_DEMO_JAR")")
[ -z "$extra" ] || fail "lib/ holds files it should not: $extra"
leftovers=$(find "$(dirname "$TREE")" -mindepth 1 -maxdepth 1 -printf '%f\n' | grep -F ".$(basename "$TREE").")
[ -z "$leftovers" ] || fail "temporary directories left next to the tree: $leftovers"
finish
