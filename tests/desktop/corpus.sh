#!/usr/bin/env bash
# Real Java desktop applications from Debian's archive, shipped with nothing
# written for them: each one's class path, main class and JVM options as its
# start script in /usr/bin gives them become a trained tree (tools/assemble-tree)
# and a package (tools/package). Wherever java of the test JDK opens the main
# window under Xvfb, the tree's launcher must open it too, with the window
# class that the tree's record and the package's menu entry name.
#
# CORVANE_CORPUS picks the rows: "quick" (the default, a few minutes), "full"
# (every row; tools/run-benchmarks runs it), or row names separated by commas.
# A failed row's logs are kept in <build>/corpus-failed/<row>/.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/xvfb.sh"
require_apt
need_tool xdotool xdotool
need_tool xprop x11-utils
need_tool dpkg-deb dpkg
need_tool rpmbuild rpm

# One application a block of "field: value" lines ('#' lines are comments),
# blocks separated by a blank line. The fields:
#   name       the row's name (and the tree's)
#   kind       its toolkit: Swing, SWT or JavaFX
#   packages   the Debian packages to install
#   classpath  its start script's class path in order: jars, globs of jars, folders
#   main       its main class
#   title      an extended regular expression matching its main window's title
#   jvm        the JVM options its start script gives
#   args       the arguments its start script gives ahead of the user's
#   dir        the folder its start script changes to
#   quick      yes: also in quick mode
# Words are separated by blanks; title is the whole rest of the line.
ROWS=$(cat <<'EOF'
# The classic: one jar, a manifest Class-Path naming jars that are not installed.
name: gpsprune
kind: Swing
packages: gpsprune
classpath: /usr/share/gpsprune/gpsprune.jar
main: tim.prune.GpsPrune
title: ^GpsPrune$
jvm: -Djava.net.preferIPv4Stack=true

# Checks its heap before it builds its window: with a small one it shows only a
# message about low memory.
name: igv
kind: Swing
packages: igv
classpath: /usr/share/java/igv.jar
main: org.broad.igv.ui.Main
title: ^IGV$

# Its jar's Class-Path names Debian's jaxb-api, a modular jar that requires
# java.activation, a module the JDK lacks, and folders.
name: mobac
kind: Swing
packages: mobile-atlas-creator
classpath: /usr/share/mobile-atlas-creator/Mobile_Atlas_Creator.jar
main: mobac.StartMOBAC
title: ^MOBAC
jvm: -Xms64m -Xmx1024M

# jaxb-api on its Class-Path too, and scripting (javax.script) at start.
name: omegat
kind: Swing
packages: omegat
classpath: /usr/share/omegat/OmegaT.jar
main: org.omegat.Main
title: ^OmegaT
jvm: -Djava.library.path=/usr/lib/jni

# SWT names its windows itself; the start script's class path ends in a folder
# (packed into a jar in the tree), and plugins load through loaders of its own.
name: tuxguitar
kind: SWT
packages: tuxguitar
classpath: /usr/share/java/org.eclipse.swt.jar /usr/share/java/itext5.jar /usr/share/java/itext5-pdfa.jar /usr/share/java/itext5-xmlworker.jar /usr/share/java/commons-compress.jar /usr/share/tuxguitar/lib/*.jar /usr/share/tuxguitar/dist
main: org.herac.tuxguitar.app.TGMainSingleton
title: ^TuxGuitar -
jvm: -Xmx512m -Dtuxguitar.home.path=/usr/share/tuxguitar -Dtuxguitar.share.path=/usr/share/tuxguitar -Djava.library.path=/usr/lib:/usr/lib/jni
quick: yes

# Debian's openjfx on the class path; JavaFX names its windows itself. Debian's
# JDK also searches /usr/lib/x86_64-linux-gnu/jni for native libraries, where
# openjfx keeps its own: with another JDK the start script would name it.
name: pdfsam
kind: JavaFX
packages: pdfsam
classpath: /usr/share/pdfsam/lib/*.jar
main: org.pdfsam.basic.App
title: ^PDF Split and Merge
jvm: -Xmx512M -Dapp.name=pdfsam-basic -Dapp.home=/usr/share/pdfsam -Dbasedir=/usr/share/pdfsam -Dprism.lcdtext=false -Djdk.gtk.version=2 -Djava.library.path=/usr/lib/x86_64-linux-gnu/jni
quick: yes
EOF
)

MODE=${CORVANE_CORPUS:-quick}
KEEP="$CORVANE_TEST_BUILD_DIR/corpus-failed"
rm -rf "$KEEP"
SUMMARY=()

# The exit trap: the application's whole process group, Xvfb, the scratch folder.
# shellcheck disable=SC2317 # run by the EXIT trap
corpus_cleanup() {
  [ -n "$APP_PID" ] && kill -KILL -- "-$APP_PID" 2>/dev/null
  window_test_cleanup
}
trap corpus_cleanup EXIT

# picked <name> <quick>: whether MODE runs the row.
picked() {
  case $MODE in
    full) return 0 ;;
    quick) [ "$2" = yes ] ;;
    *) [[ ",$MODE," == *",$1,"* ]] ;;
  esac
}

# Whether process $1 runs (an ended child not yet waited for does not).
running() { grep -q '^State:[[:space:]]*[^Z[:space:]]' "/proc/$1/status" 2>/dev/null; }

# The first mapped window whose title matches the regular expression $1.
mapped_window() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1; }

# The titles of the mapped windows, without AWT's helper windows.
mapped_titles() {
  local id
  for id in $(xdotool search --onlyvisible --name . 2>/dev/null); do xdotool getwindowname "$id"; done \
    | grep -v -x -E 'Content window|FocusProxy' | sort -u | paste -s -d '|'
}

# The first line of the files "$@" that names an exception or error, else "".
first_error() {
  grep -h -v -E '^[[:space:]]' "$@" 2>/dev/null | grep -m 1 -E '(Exception|Error)(:|$)' | cut -c1-200
}

# The classes the files "$@" name as not found, one per line.
missing_classes() {
  grep -h -o -E '(NoClassDefFoundError|ClassNotFoundException):? [A-Za-z0-9_.$/]+' "$@" 2>/dev/null \
    | sed 's/.* //; s#/#.#g' | sort -u
}

# run_side <output> <folder> <command...>: runs the command in the folder in the
# row's environment, in a process group of its own, until the main window maps
# (at most 120 s) and 5 s more, then kills the group. Sets SIDE_WINDOW
# (window|none), SIDE_CLASS and, without a window, SIDE_WHY.
run_side() {
  local out=$1 folder=$2 id="" _; shift 2
  SIDE_WINDOW=none SIDE_CLASS="" SIDE_WHY=""
  (cd "$folder" && exec env "${ROW_ENV[@]}" setsid "$@" >"$out" 2>&1 </dev/null) &
  APP_PID=$!
  for _ in $(seq 240); do
    id=$(mapped_window "${ROW[title]}")
    [ -n "$id" ] || ! running "$APP_PID" && break
    sleep 0.5
  done
  if [ -n "$id" ]; then
    SIDE_WINDOW=window
    SIDE_CLASS=$(window_class "$id" | sed -n 's/^".*", "\(.*\)"$/\1/p')
    sleep 5
  elif running "$APP_PID"; then
    SIDE_WHY="no window titled ${ROW[title]} within 120 s (mapped: $(mapped_titles))"
  else
    SIDE_WHY="ended without its window: $(first_error "$out" "$DIR/logs"/*)"
  fi
  kill -KILL -- "-$APP_PID" 2>/dev/null
  wait "$APP_PID" 2>/dev/null
  APP_PID=""
}

# install_row: installs the row's packages where missing; false (with a summary
# line) when they cannot be installed.
install_row() {
  local package missing=()
  for package in ${ROW[packages]}; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  apt_get install --no-install-recommends "${missing[@]}" >"$DIR/apt.log" 2>&1 && return 0
  SUMMARY+=("${ROW[name]} (${ROW[kind]}): skipped, ${missing[*]} cannot be installed: $(tail -n 1 "$DIR/apt.log")")
  note "${SUMMARY[-1]}"
  return 1
}

# build_tree: the trained tree in $DIR/tree and its packages in $DIR/packages.
# Sets RECORD_CLASS, PACKAGE_CLASS and, when a tool failed, BUILD_WHY.
build_tree() {
  local item assemble=(--quiet --launcher "$CORVANE_TEST_LAUNCHER" --jdk "$CORVANE_TEST_JDK_HOME" --name "${ROW[name]}"
    --dest "$DIR/tree" --train --train-seconds 20 --main-class "${ROW[main]}")
  RECORD_CLASS="" PACKAGE_CLASS="" BUILD_WHY=""
  for item in "${JVM[@]}"; do assemble+=(--jvm-option "$item"); done
  for item in "${ARGS[@]}"; do assemble+=(--argument "$item"); done
  [ -n "${ROW[dir]:-}" ] && assemble+=(--working-dir "${ROW[dir]}")
  if ! env "${ROW_ENV[@]}" timeout 900 "$CORVANE_TEST_SOURCE_DIR/tools/assemble-tree" "${assemble[@]}" \
      "${CLASSPATH[@]}" >"$DIR/assemble.out" 2>&1; then
    BUILD_WHY="assemble-tree failed: $(tail -n 1 "$DIR/assemble.out")"
    return 1
  fi
  RECORD_CLASS=$(sed -n 's/^window-class=//p' "$DIR/tree/lib/corvane-tree.txt")
  if ! env "${ROW_ENV[@]}" timeout 900 "$CORVANE_TEST_SOURCE_DIR/tools/package" -q --no-flatpak --tree "$DIR/tree" \
      --app-id "org.example.corpus.${ROW[name]//-/_}" --maintainer "Corvane tests <tests@corvane.example.org>" \
      --out-dir "$DIR/packages" >"$DIR/package.out" 2>&1; then
    BUILD_WHY="tools/package failed: $(tail -n 1 "$DIR/package.out")"
    return 0
  fi
  PACKAGE_CLASS=$(dpkg-deb --fsys-tarfile "$DIR/packages/${ROW[name]}_"*.deb \
    | tar -x -O --wildcards './usr/share/applications/*.desktop' | sed -n 's/^StartupWMClass=//p' | head -n 1)
}

# run_row: one application, from the fields in ROW.
run_row() {
  local name=${ROW[name]} entry started=$SECONDS
  local -a entries
  DIR=$SCRATCH/$name
  note "--- $name (${ROW[kind]})"
  mkdir -p "$DIR/home" "$DIR/logs"
  install_row || return 0
  read -r -a JVM <<<"${ROW[jvm]:-}"
  read -r -a ARGS <<<"${ROW[args]:-}"
  read -r -a entries <<<"${ROW[classpath]}"
  CLASSPATH=()
  for entry in "${entries[@]}"; do
    if [[ $entry == *'*'* ]]; then
      mapfile -t -O "${#CLASSPATH[@]}" CLASSPATH < <(compgen -G "$entry" | LC_ALL=C sort)
    else
      CLASSPATH+=("$entry")
    fi
  done
  # java takes user.home from the password database, not from HOME: both keep
  # the application's settings in the row's own home.
  ROW_ENV=("${demo_env[@]}" "CORVANE_NATIVE_LOG_DIR_OVERRIDE=$DIR/logs" "HOME=$DIR/home"
    "JAVA_TOOL_OPTIONS=-Duser.home=$DIR/home")

  run_side "$DIR/java.out" "${ROW[dir]:-$DIR}" "$CORVANE_TEST_JDK_HOME/bin/java" "${JVM[@]}" \
    -cp "$(IFS=:; echo "${CLASSPATH[*]}")" "${ROW[main]}" "${ARGS[@]}"
  local java_window=$SIDE_WINDOW java_class=$SIDE_CLASS java_why=$SIDE_WHY
  local tree_window=none tree_class="" why=""
  if build_tree; then
    # From another folder: a working folder must come from the tree.
    run_side "$DIR/tree.out" "$DIR" "$DIR/tree/corvane"
    tree_window=$SIDE_WINDOW tree_class=$SIDE_CLASS why=$SIDE_WHY
  fi
  why=${BUILD_WHY:-$why}

  local classes="class n/a" missing
  if [ "$tree_window" = window ]; then
    if [ "$tree_class" = "$RECORD_CLASS" ] && [ "$tree_class" = "$PACKAGE_CLASS" ]; then
      classes="class ok ($tree_class)"
    else
      classes="class mismatch (window $tree_class, record ${RECORD_CLASS:-none}, package ${PACKAGE_CLASS:-none})"
    fi
  fi
  missing=$(comm -13 <(missing_classes "$DIR/java.out") <(missing_classes "$DIR/tree.out" "$DIR/logs"/*) | paste -s -d ' ')
  local line="$name (${ROW[kind]}): java: $java_window${java_class:+ ($java_class)}, tree: $tree_window, $classes"
  [ "$java_window" = none ] && line+="; java: $java_why"
  [ -n "$why" ] && line+="; tree: $why"
  [ -n "$missing" ] && line+="; classes the tree's run missed and java's did not: $missing"
  SUMMARY+=("$line")
  if { [ "$java_window" = window ] && [ "$tree_window" = none ]; } || [[ $classes == "class mismatch"* ]]; then
    fail "$line"
    mkdir -p "$KEEP/$name"
    cp -a "$DIR"/*.out "$DIR/logs" "$DIR/home" "$KEEP/$name/" 2>/dev/null
    cp "$DIR/tree/lib/corvane-tree.txt" "$KEEP/$name/" 2>/dev/null
  else
    note "$line"
  fi
  rm -rf "$DIR"
  note "$name took $((SECONDS - started)) s"
}

if [ "$MODE" != quick ] && [ "$MODE" != full ]; then
  for item in ${MODE//,/ }; do
    grep -q -x -F "name: $item" <<<"$ROWS" || { fail "CORVANE_CORPUS names no row '$item'"; finish; }
  done
fi
start_xvfb
declare -A ROW=()
while IFS= read -r line; do
  if [ -z "$line" ]; then
    [ ${#ROW[@]} -gt 0 ] && picked "${ROW[name]}" "${ROW[quick]:-no}" && run_row
    ROW=()
  elif [[ $line =~ ^([a-z]+):\ (.*)$ ]]; then
    ROW[${BASH_REMATCH[1]}]=${BASH_REMATCH[2]}
  fi
done <<<"$ROWS"$'\n'
stop_xvfb
note "summary (${MODE}):"
printf 'corpus: row %s\n' "${SUMMARY[@]}"
finish
