# Class-data sharing for tools/assemble-tree: dumps the tree's default archives
# with the runtime's own java and the option list the launcher logs, optionally
# trained on runs of the application, and checks with the VM's own logging that
# they are used. Sourced by assemble-tree: uses its variables (WORK, SCRATCH,
# JDK, JARS, AGGRESSIVE...) and its say and die.

# The class list a trained tree's archives were dumped from, kept beside them.
TRAINED_LIST_NAME=trained-classes.lst
# Where the probe entry lives below lib/, apart from the application's jars.
PROBE_DIR=.cds-probe
TRAIN=0 TRAIN_SECONDS=60 TRAIN_ARGS=()
TRAIN_DISPLAY="" TRAIN_XVFB_PID=""

# Checks the training options before anything is built.
train_check_inputs() {
  [[ $TRAIN_SECONDS =~ ^[0-9]+$ ]] && [ "$TRAIN_SECONDS" -ge 1 ] && [ "$TRAIN_SECONDS" -le 3600 ] \
    || die "--train-seconds needs a whole number of seconds from 1 to 3600, not '$TRAIN_SECONDS'"
  [ "$TRAIN" = 1 ] || return 0
  [ "$CDS" = 1 ] || die "--train makes a class-data-sharing archive: it cannot go with --no-cds"
  [ -n "${DISPLAY:-}" ] || command -v Xvfb >/dev/null 2>&1 \
    || die "--train needs a display for the application: DISPLAY is not set and Xvfb is not installed (Debian package xvfb)"
}

# Runs the tree's launcher with a JVM arguments file holding "$@" (after the
# tag, the CORVANE_AGGRESSIVE_OPTIMIZATIONS value and the kind: "probe", the
# probe entry, no display; "app", the application with the training display,
# arguments and time limit). The native log goes to $SCRATCH/<tag>, the
# console output to $SCRATCH/<tag>.out. Sets RUN_STATUS (124: time limit).
run_tree() {
  local tag=$1 aggressive=$2 kind=$3; shift 3
  local logs="$SCRATCH/$tag" env_args=(-u DISPLAY) v
  mkdir -p "$logs"
  printf '%s\n' "$@" >"$SCRATCH/$tag.args"
  for v in "${OPTION_VARIABLES[@]}"; do env_args+=(-u "$v"); done
  env_args+=(CORVANE_AGGRESSIVE_OPTIMIZATIONS="$aggressive" CORVANE_NATIVE_LOG_DIR_OVERRIDE="$logs")
  if [ "$kind" = probe ]; then
    echo "$PROBE_DIR/corvane-cds-probe.jar" >"$WORK/lib/manifest-bootstrap.txt"
    env "${env_args[@]}" timeout 120 "$WORK/corvane" "--jvm-args=$SCRATCH/$tag.args" >"$SCRATCH/$tag.out" 2>&1 </dev/null
  else
    printf '%s' "$APP_MANIFEST" >"$WORK/lib/manifest-bootstrap.txt"
    env "${env_args[@]}" DISPLAY="$TRAIN_DISPLAY" timeout -k 30 "$TRAIN_SECONDS" \
      "$WORK/corvane" "--jvm-args=$SCRATCH/$tag.args" "${TRAIN_ARGS[@]}" >"$SCRATCH/$tag.out" 2>&1 </dev/null
  fi
  RUN_STATUS=$?
}

# The VM's own messages in a native log, one per line, without the hook's prefix
# and without the separate decoration pieces ("[0.004s]", "[info]", "[cds]").
vm_messages() {
  sed -n 's/.* jvm_vprintf JVM:  //p' "$1" | grep -v -E '^(\[[^]]*\])? *$'
}

# The option list of a run's "JVM Args:" block in native log $1, one per line,
# without the hook entries, the class path and the lines of JVM arguments file $2.
launcher_options() {
  awk 'index($0, " startJVM JVM Args:") { block = 1; next }
       block && /^\t/ { print substr($0, 2); next }
       block { exit }' "$1" \
    | grep -v -x -F -f "$2" | grep -v -x -e vfprintf -e exit -e abort -e '' -e '-Djava\.class\.path=.*'
}

# Writes lines $2... into the JDK option file $1, each quoted as one argument.
write_argfile() {
  local file=$1 line; shift
  for line in "$@"; do
    line=${line//\\/\\\\}
    printf '"%s"\n' "${line//\"/\\\"}"
  done >"$file"
}

# Dumps the default archive for CORVANE_AGGRESSIVE_OPTIMIZATIONS=$1 with the
# runtime's java and the launcher's option list; with a class list ($2) it holds
# those classes, linked ahead of time. Then checks that a probe run maps it with
# the full module graph. Adds it to ARCHIVES.
dump_default_archive() {
  local aggressive=$1 list=$2 options=() extra=() archive messages log
  run_tree "options-$aggressive" "$aggressive" probe -Xshare:off
  [ "$RUN_STATUS" = 0 ] || die "the launcher's option probe (CORVANE_AGGRESSIVE_OPTIMIZATIONS=$aggressive) ended with status $RUN_STATUS: $(tail -n1 "$SCRATCH/options-$aggressive.out")"
  mapfile -t options < <(launcher_options "$SCRATCH/options-$aggressive/corvane-native.log" "$SCRATCH/options-$aggressive.args")
  [ ${#options[@]} -gt 0 ] || die "the launcher logged no option list (no 'JVM Args:' block in its native log)"
  write_argfile "$SCRATCH/dump-$aggressive.argfile" "${options[@]}"
  [ -n "$list" ] && extra=(-XX:SharedClassListFile="$list")
  # Ahead-of-time class linking came with JDK 24.
  [ -n "$list" ] && [ "$JDK_MAJOR" -ge 24 ] && extra+=(-XX:+AOTClassLinking)
  touch "$SCRATCH/before-dump-$aggressive"
  sleep 0.01
  "$WORK/jre/bin/java" "@$SCRATCH/dump-$aggressive.argfile" -Xshare:dump "${extra[@]}" \
    >"$SCRATCH/dump-$aggressive.out" 2>&1 </dev/null
  local status=$?
  archive=$(find "$WORK/jre/lib/server" -maxdepth 1 -name '*.jsa' -newer "$SCRATCH/before-dump-$aggressive" -printf '%f\n' | head -n1)
  [ "$status" = 0 ] && [ -n "$archive" ] \
    || die "the archive dump (CORVANE_AGGRESSIVE_OPTIMIZATIONS=$aggressive) failed with status $status: $(grep -m1 -i -E 'error|fail' "$SCRATCH/dump-$aggressive.out" || tail -n1 "$SCRATCH/dump-$aggressive.out")"

  run_tree "probe-$aggressive" "$aggressive" probe -Xlog:cds
  log="$SCRATCH/probe-$aggressive/corvane-native.log"
  [ "$RUN_STATUS" = 0 ] || die "the archive probe run ended with status $RUN_STATUS: $(grep -m1 -E 'ERROR|Failed' "$log" 2>/dev/null)"
  messages=$(vm_messages "$log")
  grep -q -E "^Opened (shared )?archive (file )?$WORK/jre/lib/server/$archive\.?\$" <<<"$messages" \
    || die "the probe run did not use the new archive $archive: $(grep -m1 -i -E 'disabl|mismatch|fail|error|not ' <<<"$messages")"
  if grep -q -x 'full module graph: enabled' <<<"$messages"; then
    ARCHIVES+=("$archive${list:+ trained} (full module graph)")
  elif [ "$JDK_MAJOR" -ge 24 ]; then
    die "the archive $archive is used but without the full module graph: $(grep -m1 -i 'module graph' <<<"$messages")"
  else
    ARCHIVES+=("$archive${list:+ trained} (without the full module graph on JDK $JDK_MAJOR)")
  fi
  say "archive $archive dumped with CORVANE_AGGRESSIVE_OPTIMIZATIONS=$aggressive and in use: ${ARCHIVES[-1]}"
}

# The caller's display, else a private Xvfb on a free display number.
start_display() {
  if [ -n "${DISPLAY:-}" ]; then
    TRAIN_DISPLAY=$DISPLAY
    return 0
  fi
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$SCRATCH/display" >/dev/null 2>"$SCRATCH/xvfb.log" &
  TRAIN_XVFB_PID=$!
  local i
  for ((i = 0; i < 100; i++)); do
    [ -s "$SCRATCH/display" ] && break
    kill -0 "$TRAIN_XVFB_PID" 2>/dev/null || break
    sleep 0.1
  done
  [ -s "$SCRATCH/display" ] || die "Xvfb did not start for the training run: $(tail -n1 "$SCRATCH/xvfb.log")"
  TRAIN_DISPLAY=":$(head -n1 "$SCRATCH/display" | tr -d '[:space:]')"
  say "training on a private Xvfb, display $TRAIN_DISPLAY"
}

stop_display() {
  [ -n "$TRAIN_XVFB_PID" ] || return 0
  kill "$TRAIN_XVFB_PID" 2>/dev/null && wait "$TRAIN_XVFB_PID" 2>/dev/null
  TRAIN_XVFB_PID=""
}

# One application run for training; its end is fine whether the application
# ended itself or the time limit ended it.
train_run() {
  local tag=$1; shift
  run_tree "$tag" "$TRAIN_VARIANT" app "$@"
  case $RUN_STATUS in
    0) ;;
    124|137) say "training run $tag ended at the time limit of $TRAIN_SECONDS s" ;;
    *) say "training run $tag: the application ended with status $RUN_STATUS (log: $(grep -m1 -E 'ERROR' "$SCRATCH/$tag/corvane-native.log" 2>/dev/null))" ;;
  esac
}

# Checks the run with the trained default archive: it is mapped with the full
# module graph, and the runtime's classes the application loads come from it.
# The application's own classes load from their jars.
check_trained_archive() {
  local log="$SCRATCH/train-check/corvane-native.log" messages runtime shared
  messages=$(vm_messages "$log")
  grep -q -E "^Opened (shared )?archive (file )?$WORK/jre/lib/server/[^/]*\.jsa\.?\$" <<<"$messages" \
    || die "the check run did not map the trained archive: $(grep -m1 -i -E 'mismatch|not the one|error|disabl' <<<"$messages")"
  grep -q -x 'full module graph: enabled' <<<"$messages" || [ "$JDK_MAJOR" -lt 24 ] \
    || die "the check run with the trained archive has no full module graph: $(grep -m1 -i 'module graph' <<<"$messages")"
  grep -q -E '^com\.vellumbry\.corvane\.entry\.CorvaneProcessEarlyEntry source: ' <<<"$messages" \
    || die "the check run loaded no entry class (status $RUN_STATUS): $(tail -n1 "$SCRATCH/train-check.out")"
  runtime=$(grep -c -E '^[^ ]+ source: (jrt:/|shared objects file)' <<<"$messages")
  shared=$(grep -c -E '^[^ ]+ source: shared objects file' <<<"$messages")
  [ $((shared * 2)) -gt "$runtime" ] \
    || die "only $shared of the $runtime runtime classes of the check run come from the trained archive"
  say "trained archive in use: $shared of the $runtime runtime classes the application loaded came from it"
}

# Trains the default archives on the application: a run records the classes it
# loads, the archives are dumped from the runtime's part of them, and a second
# run checks that the runtime's classes then come from the archive. The
# application's own classes are left to its jars: an archived class keeps the
# path of the jar it was dumped from as its code source, which a tree that is
# moved or installed no longer has, and a changed jar would cost the archive.
train_archives() {
  local aggressive
  TRAIN_VARIANT=$AGGRESSIVE
  start_display
  say "training run: the application once, up to $TRAIN_SECONDS s"
  train_run train-list "-XX:DumpLoadedClassList=$SCRATCH/classes.lst"
  grep -q -F 'com/vellumbry/corvane/entry/CorvaneProcessEarlyEntry' "$SCRATCH/classes.lst" 2>/dev/null \
    || die "the training run loaded no entry class (status $RUN_STATUS): $(tail -n1 "$SCRATCH/train-list.out")"
  for aggressive in "${VARIANTS[@]}"; do
    dump_default_archive "$aggressive" "$SCRATCH/classes.lst"
  done
  say "check run: the application with the trained archive"
  train_run train-check -Xlog:cds -Xlog:class+load
  check_trained_archive
  stop_display
  cp -- "$SCRATCH/classes.lst" "$WORK/jre/lib/server/$TRAINED_LIST_NAME" || die "cannot keep the training class list"
}

# The class-data-sharing step of assemble-tree: the default archives for both
# option lists (compact object headers, JDK 24+, and without), trained when
# asked. Expects the jars and their manifest in lib/ and leaves them as found.
make_archives() {
  mkdir -p "$SCRATCH/probe-src/com/vellumbry/corvane/entry" "$SCRATCH/probe-classes" "$WORK/lib/$PROBE_DIR"
  # A tiny entry that returns 1 ("exit with status 0 at once") for the probes.
  cat >"$SCRATCH/probe-src/com/vellumbry/corvane/entry/CorvaneProcessEarlyEntry.java" <<'EOF'
package com.vellumbry.corvane.entry;
public final class CorvaneProcessEarlyEntry {
    public static int startCorvane(String[] args) { return 1; }
}
EOF
  "$JDK/bin/javac" --release 11 -d "$SCRATCH/probe-classes" \
      "$SCRATCH/probe-src/com/vellumbry/corvane/entry/CorvaneProcessEarlyEntry.java" >"$SCRATCH/javac.log" 2>&1 \
    && "$JDK/bin/jar" --create --file "$WORK/lib/$PROBE_DIR/corvane-cds-probe.jar" -C "$SCRATCH/probe-classes" . \
    || die "cannot build the probe entry with $JDK/bin/javac: $(head -n1 "$SCRATCH/javac.log")"
  APP_MANIFEST=$(cat "$WORK/lib/manifest-bootstrap.txt")$'\n'

  VARIANTS=(0)
  [ "$JDK_MAJOR" -ge 24 ] && VARIANTS=(1 0)
  if [ "$TRAIN" = 1 ]; then
    train_archives
  else
    local aggressive
    for aggressive in "${VARIANTS[@]}"; do
      dump_default_archive "$aggressive" ""
    done
  fi
  rm -rf "${WORK:?}/lib/$PROBE_DIR"
  printf '%s' "$APP_MANIFEST" >"$WORK/lib/manifest-bootstrap.txt" || die "cannot write the bootstrap manifest"
}
