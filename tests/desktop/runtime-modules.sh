#!/usr/bin/env bash
# The tree's runtime through tools/assemble-tree and the real launcher: by default
# an application that reaches the JDK only through reflection and service loading
# prints what it prints under java of the same JDK; manifest Add-Opens naming a
# module the JDK lacks and a modular jar requiring one do not stop the assembly,
# and --modules minimal still finds the JDBC the code uses; --add-modules of a
# module the JDK lacks fails.
source "$(dirname "$0")/lib.sh"
JDK=$CORVANE_TEST_JDK_HOME
APPS="$CORVANE_TEST_SOURCE_DIR/tests/desktop/runtime-apps"

# probe.jar; app.jar (Add-Opens, Add-Exports, Class-Path: modlib.jar), modlib.jar an
# explicit module requiring org.example.absent, which only exists at compile time.
mkdir -p "$SCRATCH/probe" "$SCRATCH/absent" "$SCRATCH/modlib" "$SCRATCH/opens" "$SCRATCH/jars"
printf 'Class-Path: modlib.jar\nAdd-Opens: javafx.graphics/com.sun.javafx.application java.desktop/sun.awt\nAdd-Exports: java.base/no.such.pkg\n' \
  >"$SCRATCH/app.mf"
# compile <classes> <sources folder> [javac option...]
compile() {
  local classes=$1 folder=$2 sources
  shift 2
  mapfile -t sources < <(find "$APPS/$folder" -name '*.java')
  "$JDK/bin/javac" "$@" -d "$classes" "${sources[@]}"
}
{ compile "$SCRATCH/probe" probe \
  && compile "$SCRATCH/absent" absent \
  && compile "$SCRATCH/modlib" modular --module-path "$SCRATCH/absent" \
  && compile "$SCRATCH/opens" opens -cp "$SCRATCH/modlib" \
  && "$JDK/bin/jar" --create --file "$SCRATCH/probe.jar" --main-class runtimeprobe.Probe -C "$SCRATCH/probe" . \
  && "$JDK/bin/jar" --create --file "$SCRATCH/jars/modlib.jar" -C "$SCRATCH/modlib" . \
  && "$JDK/bin/jar" --create --file "$SCRATCH/jars/app.jar" --manifest "$SCRATCH/app.mf" --main-class opensapp.Main \
    -C "$SCRATCH/opens" .; } || { fail "cannot make the test jars"; finish; }

# assemble <tree> <assemble-tree option>... -- <jar>...: sets STATUS; stderr in <tree>.err
assemble() {
  local tree=$1
  shift
  env "${demo_env[@]}" timeout 300 "$CORVANE_TEST_SOURCE_DIR/tools/assemble-tree" --no-cds \
    --launcher "$CORVANE_TEST_LAUNCHER" --jdk "$JDK" --dest "$tree" "$@" 2>"$tree.err"
  STATUS=$?
}
modules_of() { sed -n 's/^MODULES="\(.*\)"$/\1/p' "$1/jre/release"; }
# The tree's start against java of the same JDK: the same standard output.
same_as_java() {
  local name=$1 tree=$2
  shift 2
  local want got
  want=$("$JDK/bin/java" "$@" 2>/dev/null </dev/null)
  got=$(env -u DISPLAY "${demo_env[@]}" timeout 60 "$tree/corvane" 2>"$SCRATCH/run.err" </dev/null)
  [ -n "$want" ] || fail "$name: java printed nothing"
  [ "$got" = "$want" ] || fail "$name: the tree printed"$'\n'"$got"$'\n'"java printed"$'\n'"$want"$'\n'"stderr: $(head -n 3 "$SCRATCH/run.err")"
}

# Every facility of the probe, as java has it.
assemble "$SCRATCH/probe-tree" "$SCRATCH/probe.jar"
if [ "$STATUS" != 0 ]; then
  fail "the probe: assemble-tree ended with status $STATUS: $(tail -n 1 "$SCRATCH/probe-tree.err")"
else
  same_as_java "the probe's facilities" "$SCRATCH/probe-tree" -cp "$SCRATCH/probe.jar" runtimeprobe.Probe
  modules=$(modules_of "$SCRATCH/probe-tree")
  for m in jdk.jlink jdk.jpackage jdk.jdeps jdk.jshell jdk.javadoc jdk.jdi; do
    grep -q -w "$m" <<<"$modules" && fail "the default runtime holds the development tool $m"
  done
  count=$(wc -w <<<"$modules")
  grep -q "assembled .* with runtime [^ ]* ($count modules, [0-9.]* MiB, from " "$SCRATCH/probe-tree.err" \
    || fail "the last line does not give the runtime's $count modules and size: $(tail -n 1 "$SCRATCH/probe-tree.err")"
fi

# name | --modules | modules the runtime must hold | modules it must lack
CASES=(
  "default|default|java.sql java.desktop java.naming jdk.zipfs jdk.localedata|jdk.jlink"
  "minimal|minimal|java.sql java.desktop jdk.localedata|java.naming jdk.zipfs jdk.charsets"
)
for row in "${CASES[@]}"; do
  IFS='|' read -r name choice must lack <<<"$row"
  tree="$SCRATCH/app-$name"
  assemble "$tree" --modules "$choice" "$SCRATCH/jars/app.jar"
  [ "$STATUS" = 0 ] || { fail "$name: assemble-tree ended with status $STATUS: $(tail -n 1 "$tree.err")"; continue; }
  grep -q -F "Add-Opens javafx.graphics/com.sun.javafx.application of app.jar: the JDK has no module javafx.graphics; left out, as java does" "$tree.err" \
    || fail "$name: no note on the Add-Opens of javafx.graphics"
  grep -q -F "Add-Exports java.base/no.such.pkg of app.jar: module java.base holds no package no.such.pkg; left out, as java does" "$tree.err" \
    || fail "$name: no note on the Add-Exports of a package java.base lacks"
  grep -q "NOTE: jdeps" "$tree.err" && fail "$name: jdeps failed on the modular jar: $(grep "NOTE: jdeps" "$tree.err")"
  options=$(paste -sd' ' "$tree/lib/jvm-options.txt")
  [ "$options" = "--add-opens=java.desktop/sun.awt=ALL-UNNAMED --add-opens=java.management/sun.management=ALL-UNNAMED" ] || fail "$name: lib/jvm-options.txt is '$options'"
  modules=$(modules_of "$tree")
  for m in $must; do
    grep -q -w "$m" <<<"$modules" || fail "$name: the runtime lacks $m (has: $modules)"
  done
  for m in $lack; do
    grep -q -w "$m" <<<"$modules" && fail "$name: the runtime holds $m (has: $modules)"
  done
  same_as_java "$name" "$tree" -jar "$SCRATCH/jars/app.jar"
  note "$name: $(wc -w <<<"$modules") modules"
done

assemble "$SCRATCH/unknown-tree" --quiet --add-modules java.sql,no.such.module "$SCRATCH/probe.jar"
[ "$STATUS" = 1 ] || fail "--add-modules no.such.module: status $STATUS, wanted 1"
{ [ "$(wc -l <"$SCRATCH/unknown-tree.err")" = 1 ] && grep -q -F "has no module no.such.module" "$SCRATCH/unknown-tree.err"; } \
  || fail "--add-modules no.such.module: not one line naming the module: $(cat "$SCRATCH/unknown-tree.err")"
[ ! -e "$SCRATCH/unknown-tree" ] || fail "--add-modules no.such.module left a tree behind"
finish
