// tools/publish's command line, checked: the repository folder, the signing keys and
// the package files to add.
package com.vellumbry.corvane.ship;

import com.vellumbry.corvane.api.TreeRecordFile;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

/**
 * @param repo     the repository folder (made when missing)
 * @param keys     the GnuPG key ids or fingerprints that sign
 * @param home     the GnuPG home, or null for gpg's own choice
 * @param keep     how many versions of each package stay
 * @param suite    the apt suite (and codename)
 * @param origin   Release's Origin
 * @param label    Release's Label
 * @param name     what the key files are named after
 * @param debs     the .deb files to add
 * @param rpms     the .rpm files to add
 * @param flatpaks the .flatpak bundles to add
 * @param url      the web address the repository folder is served at, or ""
 */
record PublishOptions(Path repo, List<String> keys, Path home, int keep, String suite, String origin, String label,
                      String name, List<Path> debs, List<Path> rpms, List<Path> flatpaks, String url) {
    /** name_version_arch.deb, name-version-release.arch.rpm, name-version-cpu.flatpak (the version starts with a digit) */
    private static final Pattern PACKAGE_FILE = Pattern.compile("([a-z0-9][a-z0-9.+-]+)_[^_]+_[^_]+\\.deb|(.+)-[^-]+-[^-]+\\.[^.-]+\\.rpm"
            + "|([a-z0-9][a-z0-9.+-]*?)-[0-9][^/]*-[^-]+\\.flatpak");
    private static final Set<String> WITH_VALUE = Set.of("--repo", "--key", "--gnupg-home", "--keep", "--suite",
            "--origin", "--label", "--name", "--url");

    /** The options, or null when help was asked for (and printed). */
    static PublishOptions parse(String[] args, Console console) {
        CommandLine line = CommandLine.parse(args, WITH_VALUE, Set.of("--quiet"), true);
        if (line.help()) {
            System.out.print(Usage.text("publish", Usage.installed(console)));
            return null;
        }
        console.quiet(line.has("--quiet"));
        String repo = line.value("--repo", "");
        if (repo.isEmpty()) {
            throw Console.fail("no repository folder given (--repo <dir>; see --help)");
        }
        if (line.all("--key").isEmpty()) {
            throw Console.fail("no signing key given (--key <GnuPG key id or fingerprint>; see --help)");
        }
        if (line.arguments().isEmpty()) {
            throw Console.fail("no package files given (see --help)");
        }
        List<Path> debs = new ArrayList<>();
        List<Path> rpms = new ArrayList<>();
        List<Path> flatpaks = new ArrayList<>();
        for (String file : line.arguments()) {
            Path path = Path.of(file).toAbsolutePath().normalize();
            if (!Files.isRegularFile(path) || !Files.isReadable(path)) {
                throw Console.fail("package file not readable: " + file);
            }
            if (file.endsWith(".deb")) {
                debs.add(path);
            } else if (file.endsWith(".rpm")) {
                rpms.add(path);
            } else if (file.endsWith(".flatpak")) {
                flatpaks.add(path);
            } else {
                throw Console.fail("not a .deb, .rpm or .flatpak file: " + file);
            }
        }
        String keep = line.value("--keep", "3");
        if (!keep.matches("[1-9][0-9]{0,3}")) {
            throw Console.fail("--keep takes a number of versions from 1 up: " + keep);
        }
        String suite = line.value("--suite", "stable");
        if (!suite.matches("[A-Za-z0-9][A-Za-z0-9._-]*")) {
            throw Console.fail("--suite " + suite + " is no suite name (letters, digits, . _ -)");
        }
        String home = line.value("--gnupg-home", "");
        String url = line.value("--url", "");
        if (!url.isEmpty() && !url.matches("(https?|file)://[^\\s]+")) {
            throw Console.fail("--url " + url + " is no http(s):// or file:// address");
        }
        String name = line.has("--name") ? line.value("--name", "") : nameOf(line.arguments());
        if (!TreeRecordFile.isApplicationName(name)) {
            throw Console.fail("name '" + name + "' is no package name (lower case letters, digits, + - .)");
        }
        return new PublishOptions(Path.of(repo).toAbsolutePath().normalize(), line.all("--key"),
                home.isEmpty() ? null : Path.of(home).toAbsolutePath(), Integer.parseInt(keep), suite,
                oneLine(line.value("--origin", name), "--origin"), oneLine(line.value("--label", name), "--label"),
                name, debs, rpms, flatpaks, url);
    }

    /** The key files' name by default: the packages' one name, from their file names as dpkg and rpm give them. */
    private static String nameOf(List<String> files) {
        Set<String> names = new java.util.TreeSet<>();
        for (String file : files) {
            Matcher m = PACKAGE_FILE.matcher(Path.of(file).getFileName().toString());
            if (!m.matches()) {
                throw Console.fail("cannot tell the package's name from the file name " + file + ": give --name");
            }
            names.add(m.group(1) != null ? m.group(1) : m.group(2) != null ? m.group(2) : m.group(3));
        }
        if (names.size() != 1) {
            throw Console.fail("the packages have several names (" + String.join(" ", names)
                    + "): give --name, which names the repository's key files");
        }
        return names.iterator().next();
    }

    private static String oneLine(String text, String option) {
        if (text.isBlank() || text.contains("\n") || text.contains("\r")) {
            throw Console.fail(option + " must be one line of text");
        }
        return text.strip();
    }
}
