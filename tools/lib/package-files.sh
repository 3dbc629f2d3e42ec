# The files that tools/package writes around an install tree: desktop entry,
# AppStream metainfo, Debian control data, copyright, changelog, manual page.
# Source from tools/package; every function reads its P_* variables.

# Escapes text for XML content and attribute values.
xml_escape() {
  local s=$1
  s=${s//&/&amp;}; s=${s//</&lt;}; s=${s//>/&gt;}; s=${s//\"/&quot;}
  printf '%s' "$s"
}

# The description's paragraphs (separated by blank lines), one per line.
description_paragraphs() {
  awk 'BEGIN { RS = ""; } { gsub(/[ \t]*\n[ \t]*/, " "); print }' <<<"$P_DESCRIPTION"
}

write_desktop_entry() {
  cat <<EOT
[Desktop Entry]
Type=Application
Name=$P_DISPLAY_NAME
Comment=$P_SUMMARY
Exec=$P_NAME
Icon=$P_NAME
Terminal=false
Categories=$P_CATEGORIES
StartupWMClass=$P_WM_CLASS
EOT
}

write_metainfo() {
  local paragraph
  printf '<?xml version="1.0" encoding="UTF-8"?>\n<component type="desktop-application">\n'
  printf '  <id>%s</id>\n' "$(xml_escape "$P_APP_ID")"
  printf '  <metadata_license>FSFAP</metadata_license>\n'
  printf '  <project_license>%s</project_license>\n' "$(xml_escape "$P_LICENSE")"
  printf '  <name>%s</name>\n' "$(xml_escape "$P_DISPLAY_NAME")"
  printf '  <summary>%s</summary>\n' "$(xml_escape "$P_SUMMARY")"
  printf '  <developer_name>%s</developer_name>\n' "$(xml_escape "$P_DEVELOPER")"
  printf '  <description>\n'
  while IFS= read -r paragraph; do
    printf '    <p>%s</p>\n' "$(xml_escape "$paragraph")"
  done < <(description_paragraphs)
  printf '  </description>\n'
  printf '  <launchable type="desktop-id">%s.desktop</launchable>\n' "$(xml_escape "$P_APP_ID")"
  [ -n "$P_HOMEPAGE" ] && printf '  <url type="homepage">%s</url>\n' "$(xml_escape "$P_HOMEPAGE")"
  printf '  <provides>\n    <binary>%s</binary>\n  </provides>\n' "$(xml_escape "$P_NAME")"
  printf '  <releases>\n    <release version="%s" date="%s"/>\n  </releases>\n' "$(xml_escape "$P_VERSION")" "$P_DATE"
  printf '  <content_rating type="oars-1.1"/>\n</component>\n'
}

# The control file's Description: the summary, then the paragraphs wrapped
# and indented, with " ." between them.
control_description() {
  local paragraph first=1
  printf 'Description: %s\n' "$P_SUMMARY"
  while IFS= read -r paragraph; do
    [ "$first" = 1 ] || printf ' .\n'
    first=0
    fold -s -w 78 <<<"$paragraph" | sed 's/ *$//; s/^/ /'
  done < <(description_paragraphs)
}

write_control() {
  printf 'Package: %s\nVersion: %s\nArchitecture: amd64\nMaintainer: %s\n' "$P_NAME" "$P_VERSION" "$P_MAINTAINER"
  printf 'Installed-Size: %s\n' "$P_INSTALLED_SIZE"
  [ -n "$P_DEPENDS" ] && printf 'Depends: %s\n' "$P_DEPENDS"
  printf 'Section: misc\nPriority: optional\n'
  [ -n "$P_HOMEPAGE" ] && printf 'Homepage: %s\n' "$P_HOMEPAGE"
  control_description
}

write_copyright() {
  cat <<EOT
$P_DISPLAY_NAME, packaged for Debian by $P_MAINTAINER on $P_DATE
with corvane's tools/package.
${P_HOMEPAGE:+
Upstream: $P_HOMEPAGE
}
Copyright: the authors of $P_DISPLAY_NAME ($P_DEVELOPER).
License: $P_LICENSE

The package holds the application's own files, a Java runtime made from the
JDK with jlink (GNU General Public License version 2 with the Classpath
exception; its legal notices are in /opt/$P_NAME/jre/legal/) and the corvane
launcher. On Debian systems the full text of the GNU General Public License
version 2 is in /usr/share/common-licenses/GPL-2.
EOT
}

write_lintian_overrides() {
  cat <<EOT
# A self-contained application: the install tree stays whole under /opt, and
# its private Java runtime carries the libraries the JDK builds in (zlib).
$P_NAME: dir-or-file-in-opt
$P_NAME: embedded-library
EOT
}

# Strips the tree's ELF files as Debian's packaging does (debug symbols and
# comments out, dynamic symbols kept).
strip_programs() {
  local file
  while IFS= read -r -d '' file; do
    readelf -h "$file" >/dev/null 2>&1 || continue
    case $file in
      *.so|*.so.*) strip --remove-section=.comment --remove-section=.note --strip-unneeded "$file" ;;
      *) strip --remove-section=.comment --remove-section=.note "$file" ;;
    esac || die "cannot strip $file"
  done < <(find "$1" -type f \( -name '*.so' -o -name '*.so.*' -o -perm -u+x \) -print0)
}

write_changelog() {
  printf '%s (%s) unstable; urgency=medium\n\n  * Packaged with corvane'"'"'s tools/package.\n\n -- %s  %s\n' \
    "$P_NAME" "$P_VERSION" "$P_MAINTAINER" "$(LC_ALL=C date -u -R -d "@$P_EPOCH")"
}

write_manual_page() {
  local upper
  upper=$(tr '[:lower:]' '[:upper:]' <<<"$P_NAME")
  printf '.TH %s 1 "%s" "%s %s"\n.SH NAME\n%s \\- %s\n' "$upper" "$P_DATE" "$P_NAME" "$P_VERSION" "$P_NAME" \
    "$(sed 's/\\/\\\\/g; s/^\./\\\&./' <<<"$P_SUMMARY")"
  printf '.SH SYNOPSIS\n.B %s\n[\\fIarguments\\fR...]\n.SH DESCRIPTION\n' "$P_NAME"
  description_paragraphs | sed 's/\\/\\\\/g; s/^\./\\\&./; 1!s/^/.PP\n/'
  printf '.PP\nThe launcher keeps a log in\n.IR ~/.local/share/Vellumbry/Corvane/logs/corvane-native.log .\n'
}

# Depends: the packages that hold the shared libraries the tree's ELF files
# need and the tree itself does not ship. Sets P_DEPENDS; names a library no
# package provides on stderr.
compute_depends() {
  local tree=$1 lib path pkg candidates
  declare -A shipped=() packages=()
  while IFS= read -r lib; do shipped[$lib]=1; done < <(find "$tree" -name '*.so*' -printf '%f\n')
  while IFS= read -r lib; do
    [ -n "$lib" ] && [ -z "${shipped[$lib]:-}" ] || continue
    pkg=""
    while IFS= read -r path; do
      candidates=("$path" "$(readlink -f "$path")")
      case $path in /usr/*) candidates+=("${path#/usr}") ;; *) candidates+=("/usr$path") ;; esac
      for path in "${candidates[@]}"; do
        pkg=$(dpkg-query -S "$path" 2>/dev/null | head -n1 | cut -d: -f1) && [ -n "$pkg" ] && break
      done
      [ -n "$pkg" ] && break
    done < <(ldconfig -p | awk -v l="$lib" '$1 == l && /x86-64/ { print $NF }')
    if [ -n "$pkg" ]; then packages[$pkg]=1; else say "no installed package provides $lib: left out of Depends"; fi
  done < <(find "$tree" -type f \( -name '*.so*' -o -perm -u+x \) -exec readelf -d {} + 2>/dev/null \
             | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort -u)
  P_DEPENDS=$(printf '%s\n' "${!packages[@]}" | sed '/^$/d' | sort | paste -sd, - | sed 's/,/, /g')
}
