# shellcheck shell=sh
# The version copies of an installed application, for the package's
# maintainer scripts: the packager puts this text in each of them, after the
# lines that set BASE=/opt/<name> (and in postinst PACKAGE_VERSION and COPY,
# this version's copy folder name). POSIX sh: the scripts run under dash.
#
# Every version runs from versions/<copy>/, a hard-link copy of the package's
# files made at configure; the command and the menu entry go through the link
# "current". An upgrade renames new files over the package's paths, so a
# running instance keeps finding its own version's files in its copy, also
# those it opens only later. The launcher of a copy still in use becomes a
# link to current/corvane, so that a restart through it brings up the newest
# version, and a watcher removes the copy once its last process has ended.
#
# Beside the copies, in versions/: .<copy>.origin, the installation a copy was
# made from (device:inode of $BASE/corvane, and the version); .<copy>.watch,
# held by the copy's watcher; .<copy>.new, a copy being made; .lock, which
# serialises configure, removal and the watchers; and in an rpm's install
# .watcher.sh, the script the watchers run.

VERSIONS=$BASE/versions
# The script a watcher runs: the calling one, unless it set another (rpm
# deletes its scriptlets once they have run).
VERSIONS_SCRIPT=${VERSIONS_SCRIPT:-$0}
VERSIONS_LOCK=$VERSIONS/.lock
# Seconds between a watcher's checks, and checks between its full scans.
VERSIONS_WATCH_SECONDS=3
VERSIONS_WATCH_SCAN=20
VERSIONS_NL='
'

versions_warn() {
  echo "${BASE##*/}: $*" >&2
}

# Prints the ids of the processes that have a file below copy $1 mapped: the
# path field of a line of /proc/<pid>/maps begins with "$1/". A process that
# ended meanwhile does not count, nor a mapping of a deleted file, except the
# copy's launcher that prune replaced by a link: a launcher not yet past its
# start (waiting for the process it takes over from) still loads the runtime
# of its copy. A process whose maps cannot be read counts, unless it started
# before the copy was made (the time of its record), so it is no instance
# started from it. Fails when this cannot be told at all.
versions_users() {
  vu_dir=$(readlink -f "$1") || return 1
  vu_made=$(stat -c %Y "$VERSIONS/.${1##*/}.origin" 2>/dev/null) || vu_made=""
  vu_hz=$(getconf CLK_TCK 2>/dev/null) || vu_hz=""
  [ -r /proc/self/maps ] || return 1
  set -- /proc/[0-9]*/maps
  [ -e "$1" ] || return 1
  vu_out=$(VERSIONS_DIR=$vu_dir/ VERSIONS_MADE=$vu_made VERSIONS_HZ=$vu_hz awk '
    BEGIN {
      dir = ENVIRON["VERSIONS_DIR"]; n = length(dir); pids = ""
      made = ENVIRON["VERSIONS_MADE"]; hz = ENVIRON["VERSIONS_HZ"]; boot = ""
      while (0 < (getline line < "/proc/stat")) if (line ~ /^btime [0-9]+$/) boot = substr(line, 7)
      close("/proc/stat")
      if (made !~ /^[0-9]+$/ || hz !~ /^[1-9][0-9]*$/ || boot == "") made = ""
      for (i = 1; i < ARGC; i++) {
        f = ARGV[i]; use = 0
        while (0 < (r = getline line < f)) {
          sub(/^[^ ]+ +[^ ]+ +[^ ]+ +[^ ]+ +[^ ]+ */, "", line)
          if (substr(line, 1, n) == dir && (line !~ / \(deleted\)$/ || line == dir "corvane (deleted)")) { use = 1; break }
        }
        close(f)
        p = f; sub(/\/maps$/, "", p)
        if (!use && r < 0) {
          # unreadable: counts unless the process has gone or started (field
          # 22 of its stat, in clock ticks after boot) 2 s before the copy
          s = p "/stat"; use = (getline line < s) > 0; close(s)
          if (use && made != "") {
            sub(/.*\) /, "", line); split(line, st, " ")
            if (st[20] ~ /^[0-9]+$/ && boot + st[20] / hz + 2 < made) use = 0
          }
        }
        if (use) { sub(/^\/proc\//, "", p); pids = pids p " " }
      }
      print pids "end"
    }' "$@") || return 1
  case $vu_out in *end) ;; *) return 1 ;; esac
  printf '%s' "${vu_out%end}"
}

# Copies the package's files in $BASE into directory $1 with cp -a and the
# further options given (-l: hard links), leaving out the copies, current,
# verify-copies and what a removal or configure may have left.
versions_copy_tree() {
  vc_dest=$1
  shift
  for vc_entry in "$BASE"/* "$BASE"/.[!.]* "$BASE"/..?*; do
    [ -e "$vc_entry" ] || [ -L "$vc_entry" ] || continue
    case ${vc_entry##*/} in
      versions | current | verify-copies | .current.new | .versions.gone) continue ;;
    esac
    cp -a "$@" -- "$vc_entry" "$vc_dest/" || return 1
  done
}

# Points current at a complete copy of the package's files as installed now
# and sets CURRENT to it: the copy current names when it was made from this
# installation (configure run again), else a new one, versions/<copy> or,
# while that name is taken, versions/<copy>_copy2, _copy3...
versions_make_current() {
  vm_origin="$(stat -c %d:%i "$BASE/corvane") $PACKAGE_VERSION"
  vm_cur=$(readlink "$BASE/current") || vm_cur=""
  vm_name=${vm_cur#versions/}
  # A copy left half made by an interrupted configure.
  rm -rf "$VERSIONS"/.*.new
  if [ -n "$vm_name" ] && [ "$vm_cur" = "versions/$vm_name" ] && [ -d "$VERSIONS/$vm_name" ] \
    && [ "$(cat "$VERSIONS/.$vm_name.origin" 2>/dev/null)" = "$vm_origin" ]; then
    CURRENT=$VERSIONS/$vm_name
    return 0
  fi
  vm_name=$COPY
  vm_n=1
  while [ -e "$VERSIONS/$vm_name" ] || [ -L "$VERSIONS/$vm_name" ]; do
    vm_n=$((vm_n + 1))
    vm_name=${COPY}_copy$vm_n
  done
  vm_work=$VERSIONS/.$vm_name.new
  mkdir "$vm_work"
  if ! vm_err=$(versions_copy_tree "$vm_work" -l 2>&1); then
    rm -rf "$vm_work"
    mkdir "$vm_work"
    versions_copy_tree "$vm_work" || { rm -rf "$vm_work"; return 1; }
    versions_warn "hard links failed (${vm_err%%"$VERSIONS_NL"*}), so $VERSIONS/$vm_name is a full copy"
  fi
  mv -T "$vm_work" "$VERSIONS/$vm_name"
  echo "$vm_origin" >"$VERSIONS/.$vm_name.origin"
  ln -s -f -n "versions/$vm_name" "$BASE/.current.new"
  mv -T -f "$BASE/.current.new" "$BASE/current"
  CURRENT=$VERSIONS/$vm_name
}

# Starts the watcher of copy $1: VERSIONS_SCRIPT run again, in a session of
# its own, standard streams on /dev/null and other descriptors (the lock) closed,
# so that neither dpkg nor apt waits for it.
versions_watch_start() {
  if [ ! -r "$VERSIONS_SCRIPT" ] \
    || ! CORVANE_WATCH_COPY=$1 setsid -f /bin/sh "$VERSIONS_SCRIPT" </dev/null >/dev/null 2>&1 3>&- 4>&- 5>&- 6>&- 7>&- 8>&- 9>&-; then
    versions_warn "warning: cannot start the watcher of $VERSIONS/$1, it stays until the next configure"
  fi
}

# Removes the copies other than CURRENT that no process uses. The launcher of
# one in use becomes a link to current/corvane and a watcher removes the copy
# once its last process has ended. Best effort: a failure is a warning.
versions_prune() {
  for vp_dir in "$VERSIONS"/*; do
    if [ ! -d "$vp_dir" ] || [ "$vp_dir" = "$CURRENT" ]; then continue; fi
    vp_name=${vp_dir##*/}
    if vp_pids=$(versions_users "$vp_dir") && [ -z "$vp_pids" ]; then
      { rm -rf "$vp_dir" && rm -f "$VERSIONS/.$vp_name.origin" "$VERSIONS/.$vp_name.watch"; } \
        || versions_warn "warning: cannot remove the unused copy $vp_dir"
      continue
    fi
    if [ ! -L "$vp_dir/corvane" ]; then
      { ln -s -f -n ../../current/corvane "$vp_dir/.corvane.new" && mv -T -f "$vp_dir/.corvane.new" "$vp_dir/corvane"; } \
        || versions_warn "warning: cannot turn the launcher of $vp_dir into a link to current/corvane"
    fi
    if [ -n "$vp_pids" ]; then
      versions_watch_start "$vp_name"
    else
      versions_warn "warning: cannot tell whether a process uses $vp_dir, so it is kept"
    fi
  done
  # Records of copies that have gone.
  for vp_rec in "$VERSIONS"/.*.origin "$VERSIONS"/.*.watch; do
    vp_name=${vp_rec#"$VERSIONS"/.}
    if [ -e "$vp_rec" ] && [ ! -d "$VERSIONS/${vp_name%.*}" ]; then
      rm -f "$vp_rec" || versions_warn "warning: cannot remove $vp_rec"
    fi
  done
  return 0
}

# Configure: a current copy, then the others pruned, holding the lock.
versions_configure() {
  mkdir -p "$VERSIONS"
  exec 9>>"$VERSIONS_LOCK"
  flock -w 300 9 || { versions_warn "cannot lock $VERSIONS_LOCK"; return 1; }
  versions_make_current
  versions_prune
  exec 9>&-
}

# The watcher of copy $1, run by versions_watch_start. It ends when another
# watcher of the copy runs, when the copy or $BASE has gone, when the use of
# the copy cannot be told or when the copy cannot be removed.
versions_watch() {
  set +e
  cd / || return 0
  vw_name=$1
  case $vw_name in '' | */* | .*) return 0 ;; esac
  vw_dir=$VERSIONS/$vw_name
  [ -d "$vw_dir" ] || return 0
  { flock -n 8 || return 0; versions_watch_wait; } 8>>"$VERSIONS/.$vw_name.watch"
}

# Checks every few seconds whether the processes that used the copy are still
# there (cheap: no process started), scans all of /proc when they have gone
# or after a number of checks, and removes the copy once no process uses it.
versions_watch_wait() {
  vw_pids=$(versions_users "$vw_dir") || return 0
  vw_checks=0
  vw_failures=0
  while sleep "$VERSIONS_WATCH_SECONDS" && [ -d "$vw_dir" ]; do
    if [ -n "$vw_pids" ]; then
      vw_checks=$((vw_checks + 1))
      vw_alive=""
      if [ "$vw_checks" -lt "$VERSIONS_WATCH_SCAN" ]; then
        for vw_pid in $vw_pids; do
          # The link fails for a process that has ended (also a zombie).
          if [ -e "/proc/$vw_pid/exe" ]; then vw_alive=1; break; fi
        done
      fi
      [ -z "$vw_alive" ] || continue
      vw_checks=0
      vw_pids=$(versions_users "$vw_dir") || return 0
      [ -z "$vw_pids" ] || continue
    fi
    versions_watch_remove
    case $? in
      0) return 0 ;;
      3) ;;
      *) vw_failures=$((vw_failures + 1)); [ "$vw_failures" -lt 10 ] || return 0 ;;
    esac
  done
}

# Removes the watched copy under the lock, unless it has become current.
# Status 0: done (removed, gone, current, or its use cannot be told); 3: a
# process uses it again (vw_pids); other: failed.
# shellcheck disable=SC2094 # stat reads the lock file's identity, not its content
versions_watch_remove() {
  {
    flock -w 60 9 || return 1
    # The lock file of a removal of all copies is no longer in place.
    vw_lock=$(stat -L -c %d:%i /proc/self/fd/9 2>/dev/null) || return 0
    [ "$vw_lock" = "$(stat -c %d:%i "$VERSIONS_LOCK" 2>/dev/null)" ] || return 0
    [ -d "$vw_dir" ] || return 0
    [ "$(readlink "$BASE/current")" != "versions/$vw_name" ] || return 0
    vw_pids=$(versions_users "$vw_dir") || return 0
    [ -z "$vw_pids" ] || return 3
    rm -rf "$vw_dir" || return 1
    rm -f "$VERSIONS/.$vw_name.origin" "$VERSIONS/.$vw_name.watch"
  } 9>>"$VERSIONS_LOCK"
}

# Removes every copy and current, for the removal of the package. The copies
# are renamed away at once under the lock: a watcher finds its copy gone, and
# cannot add a file to a directory being removed.
versions_remove_all() {
  if [ -d "$VERSIONS" ]; then
    exec 9>>"$VERSIONS_LOCK"
    flock -w 60 9 || versions_warn "warning: cannot lock $VERSIONS_LOCK, removing the copies anyway"
    rm -rf "$BASE/.versions.gone"
    mv -T "$VERSIONS" "$BASE/.versions.gone"
    exec 9>&-
  fi
  rm -rf "$BASE/.versions.gone" "$VERSIONS" "$BASE/current" "$BASE/.current.new"
}
