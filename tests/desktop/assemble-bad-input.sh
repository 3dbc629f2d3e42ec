#!/usr/bin/env bash
# tools/assemble-tree refuses bad input with a one-line message and a non-zero
# status, and leaves no tree (nor a temporary one) behind.
source "$(dirname "$0")/lib.sh"
TOOL="$CORVANE_TEST_SOURCE_DIR/tools/assemble-tree"
JAR=$CORVANE_TEST_DEMO_JAR
JDK=$CORVANE_TEST_JDK_HOME
env_args=(-u CORVANE_AGGRESSIVE_OPTIMIZATIONS)
[ "$CORVANE_TEST_JDK_MAJOR" -lt "$CORVANE_TEST_JDK_MINIMUM" ] && env_args=(CORVANE_AGGRESSIVE_OPTIMIZATIONS=0)

# refuses <name> <word in the message> <dest> <arguments...>
refuses() {
  local name=$1 word=$2 dest=$3; shift 3
  local parent
  parent=$(dirname "$dest")
  local before=""
  [ -d "$parent" ] && before=$(ls -A "$parent")
  env "${env_args[@]}" timeout 120 "$TOOL" --launcher "$CORVANE_TEST_LAUNCHER" --dest "$dest" "$@" \
    >"$SCRATCH/out" 2>"$SCRATCH/err" </dev/null
  local status=$? lines
  lines=$(wc -l <"$SCRATCH/err")
  [ "$status" != 0 ] || fail "$name: status 0"
  [ "$status" != 124 ] || fail "$name: timed out"
  [ "$lines" = 1 ] || fail "$name: $lines lines on stderr, wanted one: $(tr '\n' '|' <"$SCRATCH/err")"
  grep -q -i -- "$word" "$SCRATCH/err" || fail "$name: the message does not say '$word': $(cat "$SCRATCH/err")"
  [ ! -s "$SCRATCH/out" ] || fail "$name: output on stdout: $(head -n 2 "$SCRATCH/out")"
  [ ! -e "$dest" ] || fail "$name: $dest was created"
  if [[ $parent == "$SCRATCH"* ]] && [ -d "$parent" ] && [ "$(ls -A "$parent")" != "$before" ]; then
    fail "$name: files left in $parent: $(find "$parent" -mindepth 1 -maxdepth 1 -printf '%f ')"
  fi
  note "$name: status $status: $(cat "$SCRATCH/err")"
}

mkdir -p "$SCRATCH/out-dir"
D="$SCRATCH/out-dir/tree"

refuses "missing jar" "not found" "$D" --jdk "$JDK" "$JAR" "$SCRATCH/no-such.jar"
refuses "empty jar list" "no jars" "$D" --jdk "$JDK"
mkdir -p "$SCRATCH/a-dir.jar" && ln -s . "$SCRATCH/a-dir.jar/loop"
refuses "class path folder with a link loop" "cannot pack the class path folder" "$D" --jdk "$JDK" "$SCRATCH/a-dir.jar"
rm "$SCRATCH/a-dir.jar/loop"
cp "$JAR" "$SCRATCH/a-dir.jar/$(basename "$JAR")"
refuses "two jars of one name" "same file name" "$D" --jdk "$JDK" "$JAR" "$SCRATCH/a-dir.jar/$(basename "$JAR")"
cp "$JAR" "$SCRATCH/app:1.jar"
refuses "jar name with the class path separator" "rename it" "$D" --jdk "$JDK" "$SCRATCH/app:1.jar"
refuses "missing launcher" "launcher" "$D" --jdk "$JDK" "$JAR" --launcher "$SCRATCH/no-corvane"

# Jars without the entry class: no main class at all, a main class in none of
# the jars, a main class beside the entry class.
mkdir -p "$SCRATCH/chain/classes/app"
printf 'package app;\npublic class Main { public static void main(String[] a) {} }\n' >"$SCRATCH/chain/classes/app/Main.java"
"$JDK/bin/javac" -d "$SCRATCH/chain/classes" "$SCRATCH/chain/classes/app/Main.java" || fail "cannot compile app.Main"
"$JDK/bin/jar" --create --file "$SCRATCH/chain/plain.jar" -C "$SCRATCH/chain/classes" app || fail "cannot make the plain jar"
refuses "no main class" "give --main-class" "$D" --jdk "$JDK" "$SCRATCH/chain/plain.jar"
refuses "main class in no jar" "in none of the jars" "$D" --jdk "$JDK" --main-class app.Other "$SCRATCH/chain/plain.jar"
refuses "main class beside the entry class" "provide the entry class" "$D" --jdk "$JDK" --main-class app.Main "$JAR"
refuses "resources folder missing" "resources folder" "$D" --jdk "$JDK" --resources "$SCRATCH/no-such-dir" "$SCRATCH/chain/plain.jar" --main-class app.Main
refuses "blank --jvm-option" "one option on one line" "$D" --jdk "$JDK" --no-cds --jvm-option "" "$JAR"
refuses "missing --splash image" "splash image not found" "$D" --jdk "$JDK" --splash "$SCRATCH/no-such.png" "$JAR"
printf 'plain text\n' >"$SCRATCH/text.png"
refuses "--splash file that is no image" "not a PNG, GIF or JPEG" "$D" --jdk "$JDK" --splash "$SCRATCH/text.png" "$JAR"

# Unwritable destination: a read-only directory (root ignores modes, so it
# gets a place where nobody can create anything).
if [ "$(id -u)" = 0 ]; then
  refuses "unwritable destination" "not writable" "/proc/corvane-desktop-test-tree" --jdk "$JDK" "$JAR"
else
  mkdir -p "$SCRATCH/read-only" && chmod 0555 "$SCRATCH/read-only"
  refuses "unwritable destination" "not writable" "$SCRATCH/read-only/tree" --jdk "$JDK" "$JAR"
  chmod 0755 "$SCRATCH/read-only"
fi
echo "a file" >"$SCRATCH/plain-file"
refuses "destination below a file" "not writable" "$SCRATCH/plain-file/tree" --jdk "$JDK" "$JAR"

# Training options.
refuses "--train-seconds 0" "train-seconds" "$D" --jdk "$JDK" --train --train-seconds 0 "$JAR"
refuses "--train-seconds not a number" "train-seconds" "$D" --jdk "$JDK" --train-seconds=ten "$JAR"
refuses "--train with --no-cds" "no-cds" "$D" --jdk "$JDK" --train --no-cds "$JAR"
# No DISPLAY and no Xvfb: a PATH of everything in /usr/bin and /bin but Xvfb.
mkdir -p "$SCRATCH/no-xvfb-bin"
for tool in /usr/bin/* /bin/*; do ln -sf "$tool" "$SCRATCH/no-xvfb-bin/"; done
rm -f "$SCRATCH/no-xvfb-bin/Xvfb"
saved_env=("${env_args[@]}")
env_args+=(-u DISPLAY PATH="$SCRATCH/no-xvfb-bin")
refuses "--train without a display or Xvfb" "Xvfb" "$D" --jdk "$JDK" --train "$JAR"
env_args=("${saved_env[@]}")
# A training whose check run cannot map the trained archive fails: the caller's
# JAVA_TOOL_OPTIONS reach the application's runs, not the dumps and probes.
env_args+=(JAVA_TOOL_OPTIONS=-Xshare:off CORVANE_DEMO_MODE=train)
refuses "--train, the check run maps no archive" "did not map the trained archive" "$D" --quiet --jdk "$JDK" --train "$JAR"
env_args=("${saved_env[@]}")

# A non-empty directory that is no install tree is never replaced.
mkdir -p "$SCRATCH/precious" && echo keep >"$SCRATCH/precious/data.txt"
env "${env_args[@]}" timeout 120 "$TOOL" --launcher "$CORVANE_TEST_LAUNCHER" --dest "$SCRATCH/precious" --jdk "$JDK" "$JAR" \
  >/dev/null 2>"$SCRATCH/err"
status=$?
{ [ "$status" != 0 ] && [ "$(wc -l <"$SCRATCH/err")" = 1 ]; } || fail "non-tree destination: status $status, message: $(cat "$SCRATCH/err")"
{ [ "$(cat "$SCRATCH/precious/data.txt" 2>/dev/null)" = keep ] && [ "$(ls -A "$SCRATCH/precious")" = data.txt ]; } \
  || fail "non-tree destination: its contents changed"

# JDKs that cannot serve: one without jlink, one that is no JDK; and one older than the full set's.
fake_jdk() {  # fake_jdk <dir> <version> [with-jlink]
  mkdir -p "$1/bin"
  printf 'JAVA_VERSION="%s"\n' "$2" >"$1/release"
  printf '#!/bin/sh\nexec "%s/bin/java" "$@"\n' "$JDK" >"$1/bin/java" && chmod +x "$1/bin/java"
  if [ "${3:-}" = with-jlink ]; then
    printf '#!/bin/sh\necho "fake jlink called" >&2\nexit 1\n' >"$1/bin/jlink" && chmod +x "$1/bin/jlink"
  fi
}
fake_jdk "$SCRATCH/jdk-no-jlink" 25.0.1
refuses "JDK without jlink" "no jlink" "$D" --jdk "$SCRATCH/jdk-no-jlink" "$JAR"
# An older JDK is taken with a note: the record names its runtime, whose launcher gives it the lighter set.
fake_jdk "$SCRATCH/jdk-17" 17.0.9 with-jlink
env -u CORVANE_AGGRESSIVE_OPTIMIZATIONS timeout 120 "$TOOL" --launcher "$CORVANE_TEST_LAUNCHER" --dest "$D" --quiet \
  --jdk "$SCRATCH/jdk-17" "$JAR" >/dev/null 2>"$SCRATCH/err" </dev/null
{ grep -q "NOTE: JDK 17 is older than $CORVANE_TEST_JDK_MINIMUM: the tree's launcher gives its runtime the lighter" \
    "$SCRATCH/err" && grep -q "fake jlink called" "$SCRATCH/err"; } \
  || fail "JDK 17 is not taken with a note: $(tr '\n' '|' <"$SCRATCH/err")"
[ ! -e "$D" ] || fail "JDK 17: $D was made though jlink failed"
[ "$CORVANE_TEST_JDK_MAJOR" -lt "$CORVANE_TEST_JDK_MINIMUM" ] && env_args=(CORVANE_AGGRESSIVE_OPTIMIZATIONS=0)
refuses "missing JDK directory" "JDK directory not found" "$D" --jdk "$SCRATCH/no-such-jdk" "$JAR"
fake_jdk "$SCRATCH/jdk-broken" 25.0.1 with-jlink
# It gets that far only after its progress lines: --quiet keeps just the error.
refuses "jlink fails" "jlink failed" "$D" --quiet --jdk "$SCRATCH/jdk-broken" "$JAR"

# Interrupted half way (during jlink): no tree and no temporary directory stay.
mkdir -p "$SCRATCH/interrupted"
"$TOOL" --launcher "$CORVANE_TEST_LAUNCHER" --dest "$SCRATCH/interrupted/tree" --jdk "$JDK" "$JAR" >/dev/null 2>&1 &
tool_pid=$!
# True once jlink writes the runtime into the temporary tree.
jlink_running() {
  local jre
  for jre in "$SCRATCH"/interrupted/.tree.assembling.*/jre; do [ -d "$jre" ] && return 0; done
  return 1
}
for _ in $(seq 300); do
  jlink_running && break
  sleep 0.1
done
kill -TERM "$tool_pid"
for _ in $(seq 600); do kill -0 "$tool_pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$tool_pid" 2>/dev/null; then
  kill -KILL "$tool_pid"; fail "interrupted: assemble-tree did not end within 60 s of SIGTERM"
fi
wait "$tool_pid"
status=$?
[ "$status" != 0 ] || fail "interrupted: status 0"
left=$(ls -A "$SCRATCH/interrupted")
[ -z "$left" ] || fail "interrupted: left behind: $left"
note "interrupted during jlink: status $status, nothing left"
finish
