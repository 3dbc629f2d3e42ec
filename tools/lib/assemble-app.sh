# The application side of tools/assemble-tree: the jars' Class-Path chains and
# manifests (read by AppJars.java), the entry bridge, the tree's JVM options
# file and resource folders. Source from assemble-tree after its inputs are
# checked; uses its die, say, JDK, JDK_MAJOR, SCRATCH and WORK.

BRIDGE_JAR=corvane-bridge.jar
TREE_OPTIONS_FILE=jvm-options.txt
APP_MAIN_CLASS=""
APP_OPTIONS=()
APP_MODULES=""

# Replaces JARS with the class-path order of the given jars and the jars their
# manifests name; sets APP_MAIN_CLASS (empty when the jars provide the entry
# class), APP_OPTIONS and APP_MODULES from the manifests.
app_read_jars() {
  local main_args=() facts kind value
  [ -n "$MAIN_CLASS" ] && main_args=(--main-class "$MAIN_CLASS")
  facts=$("$JDK/bin/java" "$ROOT/tools/lib/AppJars.java" "${main_args[@]}" "${JARS[@]}" 2>"$SCRATCH/appjars.err") \
    || die "$(grep -m1 -v '^$' "$SCRATCH/appjars.err" || echo "cannot read the jars with $JDK/bin/java")"
  JARS=()
  while IFS=' ' read -r kind value; do
    case $kind in
      jar) JARS+=("$value") ;;
      main-class) APP_MAIN_CLASS=$value ;;
      option) APP_OPTIONS+=("$value") ;;
      module) APP_MODULES="$APP_MODULES,$value" ;;
      note) say "$value" ;;
    esac
  done <<<"$facts"
  # The bridge's exit watcher reads the VM's thread counts.
  [ -n "$APP_MAIN_CLASS" ] && APP_MODULES="$APP_MODULES,java.management"
  APP_MODULES=${APP_MODULES#,}
  [ ${#JARS[@]} -gt 0 ] || die "cannot read the jars with $JDK/bin/java: it named none"
  local jar
  for jar in "${JARS[@]}"; do
    [ "$(basename -- "$jar")" != "$BRIDGE_JAR" ] || die "a jar is named $BRIDGE_JAR, the name of the tree's entry bridge"
  done
}

# Checks the --resources folders: each a readable directory whose entries do
# not take the name of a jar or of a file of the tree's lib/.
app_check_resources() {
  local dir entry jar
  declare -A taken=([manifest-bootstrap.txt]=1 ["$TREE_OPTIONS_FILE"]=1 ["$BRIDGE_JAR"]=1)
  for jar in "${JARS[@]}"; do taken[$(basename -- "$jar")]=1; done
  for dir in "${RESOURCES[@]}"; do
    [ -d "$dir" ] && [ -r "$dir" ] || die "resources folder not found or not readable: $dir"
    while IFS= read -r entry; do
      [ -z "${taken[$entry]:-}" ] || die "resources folder $dir holds $entry, a name lib/ already uses"
      taken[$entry]=1
    done < <(ls -A -- "$dir")
  done
}

# Writes lib/jvm-options.txt: the manifests' options, then the --jvm-option
# ones (later lines win); no file when there are none.
app_write_options() {
  local lines=("${APP_OPTIONS[@]}" "${JVM_OPTIONS[@]}")
  [ ${#lines[@]} -gt 0 ] || return 0
  printf '%s\n' "${lines[@]}" >"$WORK/lib/$TREE_OPTIONS_FILE" || die "cannot write lib/$TREE_OPTIONS_FILE"
  say "lib/$TREE_OPTIONS_FILE: ${#lines[@]} option(s)"
}

# The main thread's class: a Thread subclass with the main class's name, so that
# windows get the window class java gives them. Without it (a name that javac
# cannot take) the bridge still runs main, on a plain thread.
app_compile_named_thread() {
  local out=$1 pkg simple src
  grep -q -E '^([A-Za-z_$][A-Za-z0-9_$]*\.)*[A-Za-z_$][A-Za-z0-9_$]*$' <<<"$APP_MAIN_CLASS" || return 0
  simple=${APP_MAIN_CLASS##*.}
  pkg=""
  [ "$simple" != "$APP_MAIN_CLASS" ] && pkg=${APP_MAIN_CLASS%.*}
  src="$SCRATCH/bridge-thread/src/$simple.java"
  mkdir -p "$SCRATCH/bridge-thread/src" "$SCRATCH/bridge-thread/classes"
  {
    [ -n "$pkg" ] && printf 'package %s;\n' "$pkg"
    printf 'public class %s extends java.lang.Thread {\n' "$simple"
    printf '    public %s(java.lang.Runnable body, java.lang.String name) { super(body, name); }\n' "$simple"
    printf '    @Override public void run() { super.run(); }\n}\n'
  } >"$src"
  if ! "$JDK/bin/javac" --release "$JDK_MAJOR" -nowarn -d "$SCRATCH/bridge-thread/classes" "$src" >"$SCRATCH/thread-javac.log" 2>&1; then
    say "NOTE: no main thread class named $APP_MAIN_CLASS ($(head -n1 "$SCRATCH/thread-javac.log")): its windows get the class java-lang-Thread"
    return 0
  fi
  cp -- "$SCRATCH/bridge-thread/classes/${APP_MAIN_CLASS//.//}.class" "$out" || die "cannot copy the main thread class"
}

# Builds lib/corvane-bridge.jar, the entry class that starts APP_MAIN_CLASS.
app_build_bridge() {
  local classes="$SCRATCH/bridge-classes" meta
  meta="$classes/META-INF/corvane-bridge"
  mkdir -p "$meta" || die "cannot create $meta"
  local sources
  mapfile -t sources < <(find "$ROOT/tools/bridge" -name '*.java' | sort)
  "$JDK/bin/javac" --release "$JDK_MAJOR" -encoding UTF-8 -nowarn -d "$classes" "${sources[@]}" >"$SCRATCH/bridge-javac.log" 2>&1 \
    || die "cannot compile the entry bridge with $JDK/bin/javac: $(head -n1 "$SCRATCH/bridge-javac.log")"
  printf '%s\n' "$APP_MAIN_CLASS" >"$meta/main-class"
  app_compile_named_thread "$meta/main-thread.bin"
  "$JDK/bin/jar" --create --file "$WORK/lib/$BRIDGE_JAR" -C "$classes" . >"$SCRATCH/bridge-jar.log" 2>&1 \
    || die "cannot build lib/$BRIDGE_JAR: $(head -n1 "$SCRATCH/bridge-jar.log")"
  say "entry bridge lib/$BRIDGE_JAR starts $APP_MAIN_CLASS"
}

# Copies the jars (and the bridge first, when there is one) into lib/, writes
# the bootstrap manifest and copies the resource folders' contents.
app_install_jars() {
  local jar dir
  [ -n "$APP_MAIN_CLASS" ] && app_build_bridge
  {
    [ -n "$APP_MAIN_CLASS" ] && echo "$BRIDGE_JAR"
    for jar in "${JARS[@]}"; do
      cp -- "$jar" "$WORK/lib/" || die "cannot copy $jar"
      basename -- "$jar"
    done
  } >"$WORK/lib/manifest-bootstrap.txt" || die "cannot write the bootstrap manifest"
  for dir in "${RESOURCES[@]}"; do
    cp -R -- "$dir/." "$WORK/lib/" || die "cannot copy the resources folder $dir"
  done
}
