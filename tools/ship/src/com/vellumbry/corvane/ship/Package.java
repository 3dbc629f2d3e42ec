// What a package says about its application: every fact tools/package writes into
// the package's files, read from its options and the tree's record.
package com.vellumbry.corvane.ship;

import java.time.LocalDate;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;

/**
 * @param name        the package and command name
 * @param version     the Debian version, an epoch ("1:") allowed
 * @param displayName the name in menus
 * @param summary     one line, without a final full stop
 * @param paragraphs  the description's paragraphs
 * @param categories  freedesktop categories, ending in ';'
 * @param maintainer  "Name <email>"
 * @param developer   who made the application
 * @param copyright   the upstream copyright notice, or ""
 * @param homepage    the application's web page, or ""
 * @param license     an SPDX expression
 * @param appId       the AppStream id, reverse-DNS
 * @param windowClass the windows' WM_CLASS
 * @param date        the release date
 * @param changelogDate the date in the changelog's RFC 2822 form
 * @param commands    the tree's further commands, each a command in /usr/bin
 * @param menus       the commands that get a menu entry of their own, with their names in menus
 * @param fileTypes   the file types the application opens
 * @param urlSchemes  the URL schemes it opens
 * @param repository  the repository the package names as its source of updates, or null
 * @param arch        the CPU its programs are for, as JDKs name it (x86_64, aarch64)
 * @param recommended what the package's programs run besides, by format folder ("deb", "rpm"), in that
 *                    format's names
 */
record Package(String name, String version, String displayName, String summary, List<String> paragraphs,
               String categories, String maintainer, String developer, String copyright, String homepage,
               String license, String appId, String windowClass, LocalDate date, String changelogDate,
               List<TreeRecord.Command> commands, Map<String, String> menus, List<FileTypes.FileType> fileTypes,
               List<String> urlSchemes, UpdateSource repository, String arch, Map<String, List<String>> recommended) {
    /** The width of the description's lines, in every format. */
    static final int WIDTH = 78;


    /** The desktop file id of a further command's menu entry: the app id and the command, as D-Bus names allow. */
    String menuId(String command) {
        return appId + "." + command.replaceAll("[^A-Za-z0-9_]", "_").replaceFirst("^([0-9])", "_$1");
    }

    /** The version without its epoch: what file names carry. */
    String upstreamVersion() {
        return withoutEpoch(version);
    }

    static String withoutEpoch(String version) {
        return version.substring(version.indexOf(':') + 1);
    }

    /** The folder the version's copy runs from: never a ':' (the launcher refuses it in its install directory). */
    String copyFolder() {
        return version.replace(':', '_');
    }

    String tarFolder() {
        return name + "-" + upstreamVersion();
    }

    String tarFile() {
        return tarFolder() + "-linux-" + arch + ".tar.gz";
    }

    /** rpm's Epoch: the Debian version's epoch, "" without one. */
    String rpmEpoch() {
        int colon = version.indexOf(':');
        return colon < 0 ? "" : version.substring(0, colon);
    }

    /** rpm's Version: the upstream version before the Debian revision, '-' (which rpm refuses there) as '_'. */
    String rpmVersion() {
        String upstream = upstreamVersion();
        int dash = upstream.lastIndexOf('-');
        return (dash < 0 ? upstream : upstream.substring(0, dash)).replace('-', '_');
    }

    /** rpm's Release: the Debian revision, else 1. */
    String rpmRelease() {
        String upstream = upstreamVersion();
        int dash = upstream.lastIndexOf('-');
        return dash < 0 ? "1" : upstream.substring(dash + 1);
    }

    /**
     * What the package recommends in {@code format}: what its programs run, and for one that opens
     * files or links, the tools whose triggers bring the desktop's and the MIME database up to date.
     */
    List<String> recommends(PackageFormat format) {
        List<String> all = new ArrayList<>(recommended.getOrDefault(format.folder(), List.of()));
        if (!fileTypes.isEmpty() || !urlSchemes.isEmpty()) {
            all.addAll(List.of("desktop-file-utils", "shared-mime-info"));
        }
        return all;
    }

    /** The description's paragraphs, each in lines of at most WIDTH characters (a longer word stands alone). */
    List<List<String>> description() {
        List<List<String>> out = new ArrayList<>();
        for (String paragraph : paragraphs) {
            List<String> lines = new ArrayList<>();
            StringBuilder line = new StringBuilder();
            for (String word : paragraph.strip().split("\\s+")) {
                if (line.length() > 0 && line.length() + 1 + word.length() > WIDTH) {
                    lines.add(line.toString());
                    line.setLength(0);
                }
                line.append(line.length() > 0 ? " " : "").append(word);
            }
            if (line.length() > 0) {
                lines.add(line.toString());
            }
            out.add(lines);
        }
        return out;
    }

    /** A version with a Debian revision has a changelog.Debian; one without, a changelog. */
    String changelogFile() {
        return upstreamVersion().contains("-") ? "changelog.Debian.gz" : "changelog.gz";
    }
}
