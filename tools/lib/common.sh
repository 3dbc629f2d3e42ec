# shellcheck shell=bash
# Shared shell helpers for the project's scripts. Source, don't run.

# The project's top folder.
corvane_root() { (cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd); }

# What the runtime's X11 toolkit needs to open a window, a font included, one per line.
corvane_desktop_packages() {
  printf '%s\n' libxext6 libxrender1 libxtst6 libxi6 libfreetype6 libfontconfig1 fonts-dejavu-core
}

# What tools/package runs to build and check its packages, one per line.
corvane_packaging_packages() {
  printf '%s\n' dpkg-dev lintian rpm rpmlint
}

corvane_say() { printf '%s\n' "$*" >&2; }

# Installs the Debian packages among "$@" that are not installed yet.
corvane_ensure_packages() {
  local missing=() pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  corvane_say "Installing missing packages: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq >/dev/null || { corvane_say "apt-get update failed"; return 1; }
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null \
    || { corvane_say "apt-get install ${missing[*]} failed"; return 1; }
}

# The JDK lookup and the oldest JDK the launcher's default options run on
# come from find-jdk, which CMake and the shipping tools ask too.
corvane_find_jdk_script() { echo "$(corvane_root)/tools/lib/find-jdk"; }

# Major version of the JDK at $1 (0 when unknown).
corvane_jdk_major() { "$(corvane_find_jdk_script)" --major "$1"; }

# Prints the JDK to use: JAVA_HOME when it holds javac, else the newest JDK
# under /usr/lib/jvm. Prints nothing when there is none.
corvane_find_jdk() { "$(corvane_find_jdk_script)"; }

# Makes sure some JDK exists (installs Debian's 17 when there is none), exports
# JAVA_HOME to the chosen one and says plainly when it is too old for the
# launcher's default options.
corvane_setup_jdk() {
  local jdk minimum major
  jdk=$(corvane_find_jdk)
  if [ -z "$jdk" ]; then
    corvane_ensure_packages openjdk-17-jdk-headless || return 1
    jdk=$(corvane_find_jdk)
  fi
  [ -n "$jdk" ] || { corvane_say "No JDK found and none could be installed"; return 1; }
  export JAVA_HOME="$jdk"
  major=$(corvane_jdk_major "$jdk")
  minimum=$("$(corvane_find_jdk_script)" --minimum)
  if [ "$major" -lt "$minimum" ]; then
    corvane_say "NOTE: only JDK $major ($jdk) is available. The launcher's default options need $minimum or newer"
    corvane_say "      (-XX:+UseCompactObjectHeaders); runs use CORVANE_AGGRESSIVE_OPTIMIZATIONS=0 and the tests"
    corvane_say "      that need the default option list are skipped."
    export CORVANE_AGGRESSIVE_OPTIMIZATIONS=0
  else
    corvane_say "Using JDK $major at $jdk"
  fi
}

# The demo's window needs the runtime's X11 toolkit, its libraries and a font.
# Debian's JDK packages are headless: the matching JRE package brings the toolkit.
corvane_ensure_desktop_runtime() {
  local packages
  mapfile -t packages < <(corvane_desktop_packages)
  corvane_ensure_packages "${packages[@]}" || return 1
  [ -f "$JAVA_HOME/lib/libawt_xawt.so" ] && return 0
  case $JAVA_HOME in
    /usr/lib/jvm/java-*-openjdk-*)
      local major
      major=$(corvane_jdk_major "$JAVA_HOME")
      corvane_say "The JDK at $JAVA_HOME is headless; installing openjdk-$major-jre for the window"
      corvane_ensure_packages "openjdk-$major-jre" || return 1 ;;
  esac
  [ -f "$JAVA_HOME/lib/libawt_xawt.so" ] \
    || corvane_say "NOTE: the JDK at $JAVA_HOME has no X11 toolkit: the demo shows its report instead of a window"
  return 0
}

# corvane_configure <build dir> <cmake arguments...>: configures the project
# into the build folder, the output in <build dir>/configure.log (its end shown
# when it fails).
corvane_configure() {
  local dir=$1; shift
  local log="$dir/configure.log"
  mkdir -p "$dir" && cmake -S "$(corvane_root)" -B "$dir" "$@" >"$log" 2>&1 && return 0
  tail -n 30 "$log" >&2
  corvane_say "cmake configure failed (log: $log)"
  return 1
}

# corvane_build <build dir> [target...]: builds the targets (all when none)
# with CORVANE_BUILD_JOBS jobs (default: one a core), the output in
# <build dir>/build.log (its end shown when it fails).
corvane_build() {
  local dir=$1; shift
  local log="$dir/build.log" targets=()
  [ $# -gt 0 ] && targets=(--target "$@")
  cmake --build "$dir" -j "${CORVANE_BUILD_JOBS:-$(nproc)}" "${targets[@]}" >"$log" 2>&1 && return 0
  tail -n 40 "$log" >&2
  corvane_say "build failed (log: $log)"
  return 1
}
