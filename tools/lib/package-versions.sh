# Version copies of an installed application, for the package's maintainer
# scripts (tools/package puts this text into them, after BASE=/opt/<name> and
# VERSION=<package version>). POSIX sh: the scripts run under dash.
#
# Every version runs from versions/<version>/, a copy of the package's tree
# made of hard links, and the command and menu entry go through the link
# "current". An upgrade renames new files over the package's paths: the copy
# keeps the old files, so a running instance finds its own version's files
# also when it opens them only later (native libraries, jars, runtime data).
# Its launcher is replaced by a link to current/corvane, so that restarting
# through its own tree brings up the newest version.

# True when a running process has a file below directory $1 mapped (its
# launcher, runtime, libraries or jars).
versions_in_use() {
  grep -q -s -F "$1/" /proc/[0-9]*/maps
}

# Copies the package's tree into a new version directory and points current
# at it. The name is the version, or <version>-2, -3... while an instance of
# a reinstalled version still runs from the older copy.
versions_make_current() {
  mkdir -p "$BASE/versions"
  rm -rf "$BASE"/versions/.*.new
  name=$VERSION
  n=1
  while [ -e "$BASE/versions/$name" ]; do
    n=$((n + 1))
    name=$VERSION-$n
  done
  work="$BASE/versions/.$name.new"
  mkdir "$work"
  for entry in "$BASE"/* "$BASE"/.[!.]*; do
    [ -e "$entry" ] || [ -L "$entry" ] || continue
    case ${entry##*/} in versions | current | .current.new) continue ;; esac
    cp -a -l "$entry" "$work/" 2>/dev/null || cp -a "$entry" "$work/"
  done
  mv "$work" "$BASE/versions/$name"
  ln -s -f -n "versions/$name" "$BASE/.current.new"
  mv -T -f "$BASE/.current.new" "$BASE/current"
  CURRENT="$BASE/versions/$name"
}

# Removes the version directories that no process uses; the launcher of one
# still in use forwards to the current version.
versions_prune() {
  for dir in "$BASE"/versions/*; do
    [ -d "$dir" ] && [ "$dir" != "$CURRENT" ] || continue
    if versions_in_use "$dir"; then
      ln -s -f -n ../../current/corvane "$dir/.corvane.new"
      mv -T -f "$dir/.corvane.new" "$dir/corvane"
    else
      rm -rf "$dir"
    fi
  done
}

# Everything this file made, for the package's removal.
versions_remove_all() {
  rm -rf "$BASE/versions" "$BASE/current" "$BASE/.current.new"
}
