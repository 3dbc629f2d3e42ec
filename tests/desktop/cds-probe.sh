#!/usr/bin/env bash
# The demo tree's runtime carries a default class-data-sharing archive that
# matches the launcher's option list and is trained on the demo: the VM maps it
# with the full module graph and takes Swing's classes from it, while the
# application's classes come from its jar.
source "$(dirname "$0")/lib.sh"
[ "$CORVANE_TEST_JDK_MAJOR" -ge "$CORVANE_TEST_JDK_MINIMUM" ] || skip "JDK $CORVANE_TEST_JDK_MAJOR is older than $CORVANE_TEST_JDK_MINIMUM: the launcher's default options (compact object headers) cannot run"
require_demo_tree
TREE=$CORVANE_TEST_DEMO_TREE
ARCHIVE="$TREE/jre/lib/server/classes_coh.jsa"
[ -f "$ARCHIVE" ] || fail "no $ARCHIVE (the archive for compact object headers)"

# Checks that the last probe run ended with 0 and mapped archive $1 with the full module graph.
check_probe() {
  local archive=$1 what=$2 log="$SCRATCH/logs/corvane-native.log"
  [ "$PROBE_STATUS" = 0 ] || { fail "$what: probe run ended with status $PROBE_STATUS: $(tail -n 3 "$SCRATCH/probe.out")"; return; }
  vm_messages "$log" >"$SCRATCH/vm-messages.txt"
  grep -q -x -F "Opened shared archive file $archive." "$SCRATCH/vm-messages.txt" \
    || fail "$what: the VM did not open $archive: $(grep -m3 -i -E 'archive|shar' "$SCRATCH/vm-messages.txt" | tr '\n' '|')"
  grep -q -x 'full module graph: enabled' "$SCRATCH/vm-messages.txt" \
    || fail "$what: the full module graph is not in use: $(grep -m2 -i 'module' "$SCRATCH/vm-messages.txt" | tr '\n' '|')"
  grep -q '^use_full_module_graph = true' "$SCRATCH/vm-messages.txt" \
    || fail "$what: the VM does not report use_full_module_graph = true"
  tail -n 1 "$log" | grep -q -F 'jvm_exit JVM: exit( 0 )' || fail "$what: the native log does not end with the exit hook's line"
}

# The default option list: compact object headers, G1, both --add-opens.
probe_tree -Xlog:cds -Xlog:class+load
check_probe "$ARCHIVE" "default options"
grep -q -x -F 'javax.swing.JFrame source: shared objects file' "$SCRATCH/vm-messages.txt" \
  || fail "Swing's classes do not come from the trained archive: $(grep -m1 '^javax\.swing\.JFrame ' "$SCRATCH/vm-messages.txt")"
grep -q -E '^com\.vellumbry\.corvane\.entry\.CorvaneProcessEarlyEntry source: file:.*\.jar$' "$SCRATCH/vm-messages.txt" \
  || fail "the entry class does not come from its jar: $(grep -m1 '^com\.vellumbry\.corvane\.entry\.CorvaneProcessEarlyEntry ' "$SCRATCH/vm-messages.txt")"
note "default options: $(grep -m1 '^Opened shared archive' "$SCRATCH/vm-messages.txt"); $(grep -m1 '^full module graph' "$SCRATCH/vm-messages.txt")"

# The reduced option list (no compact headers) has its own trained archive.
saved_env=("${demo_env[@]}")
demo_env+=(CORVANE_AGGRESSIVE_OPTIMIZATIONS=0)
probe_tree -Xlog:cds
check_probe "$TREE/jre/lib/server/classes.jsa" "CORVANE_AGGRESSIVE_OPTIMIZATIONS=0"
demo_env=("${saved_env[@]}")

# With -Xshare:on the VM refuses to start when the archive does not fit.
probe_tree -Xshare:on
[ "$PROBE_STATUS" = 0 ] || fail "-Xshare:on: the VM did not start with the tree's archive (status $PROBE_STATUS)"

# Counter-check: with sharing off the same probe reports no archive at all, so
# the checks above read what the VM really did.
probe_tree -Xshare:off -Xlog:cds
vm_messages "$SCRATCH/logs/corvane-native.log" >"$SCRATCH/vm-messages.txt"
[ "$PROBE_STATUS" = 0 ] || fail "-Xshare:off probe run ended with status $PROBE_STATUS"
grep -q -e '^Opened shared archive' -e '^full module graph: enabled' "$SCRATCH/vm-messages.txt" \
  && fail "-Xshare:off: the log still reports an archive in use"
finish
