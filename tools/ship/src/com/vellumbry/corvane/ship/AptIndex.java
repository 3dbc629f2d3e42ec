// The index files of an apt repository: the Packages stanzas and the Release file
// that names the indexes with their sizes and hashes. Pure functions of their facts.
package com.vellumbry.corvane.ship;

import java.time.Instant;
import java.time.ZoneOffset;
import java.time.format.DateTimeFormatter;
import java.util.List;
import java.util.Locale;
import java.util.regex.Pattern;

final class AptIndex {
    private AptIndex() {
    }

    /** A file as Release and Packages name it. */
    record FileFacts(String path, long size, String md5, String sha256) {
    }

    /** What Release says about the repository besides its files. */
    record ReleaseFacts(String origin, String label, String suite, Instant date) {
    }

    /** The fields a stanza sets itself, with their continuation lines: a package's own would come first. */
    private static final Pattern OWN_FIELDS =
            Pattern.compile("(?mi)^(Filename|Size|MD5sum|SHA1|SHA256|SHA512):.*\n(?:[ \t].*\n)*");

    /** A package's stanza: its control fields as dpkg-deb gives them, then where the file is and its hashes. */
    static String stanza(String control, FileFacts file) {
        return OWN_FIELDS.matcher(control.strip() + "\n").replaceAll("")
                + "Filename: " + file.path() + "\n"
                + "Size: " + file.size() + "\n"
                + "MD5sum: " + file.md5() + "\n"
                + "SHA256: " + file.sha256() + "\n";
    }

    /** Packages: the stanzas, each followed by a blank line. */
    static String packages(List<String> stanzas) {
        StringBuilder out = new StringBuilder();
        stanzas.forEach(s -> out.append(s).append('\n'));
        return out.toString();
    }

    /**
     * Release of one suite with component main for {@code arches}. No Valid-Until: a machine that
     * updates unattended keeps accepting the last Release however long it goes unchanged.
     */
    static String release(ReleaseFacts facts, List<String> arches, List<FileFacts> indexes) {
        StringBuilder out = new StringBuilder();
        out.append("Origin: ").append(facts.origin()).append('\n')
           .append("Label: ").append(facts.label()).append('\n')
           .append("Suite: ").append(facts.suite()).append('\n')
           .append("Codename: ").append(facts.suite()).append('\n')
           .append("Date: ").append(DateTimeFormatter.ofPattern("EEE, dd MMM yyyy HH:mm:ss 'UTC'", Locale.ROOT)
                   .format(facts.date().atZone(ZoneOffset.UTC))).append('\n')
           .append("Architectures: ").append(String.join(" ", arches)).append('\n')
           .append("Components: main\n")
           .append("MD5Sum:\n");
        indexes.forEach(f -> out.append(hashLine(f.md5(), f)));
        out.append("SHA256:\n");
        indexes.forEach(f -> out.append(hashLine(f.sha256(), f)));
        return out.toString();
    }

    private static String hashLine(String hash, FileFacts file) {
        return String.format(Locale.ROOT, " %s %16d %s", hash, file.size(), file.path()) + "\n";
    }
}
