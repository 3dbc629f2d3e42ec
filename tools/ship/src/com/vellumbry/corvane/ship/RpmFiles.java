// The rpm files of a package: rpmbuild's build recipe around a finished package root and the
// yum/dnf repository entry. Pure functions of the package's facts and the templates.
package com.vellumbry.corvane.ship;

import java.time.format.DateTimeFormatter;
import java.util.HashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;

final class RpmFiles {
    private static final int WIDTH = 78;

    private RpmFiles() {
    }

    /**
     * rpmbuild's build recipe: {@code root} is the package root its install step copies, {@code requires}
     * what the package needs, {@code paths} its files and links below the root (relative; the
     * tree as "opt/<name>").
     */
    static String buildRecipe(Package p, String root, List<String> requires, List<String> paths) {
        Map<String, String> values = scriptValues(p);
        values.put("VERSIONS_FUNCTIONS", Templates.fill(Templates.read("deb/versions.sh"), values));
        for (String script : List.of("posttrans", "preun", "postun")) {
            values.put(script.toUpperCase(Locale.ROOT), escape(Templates.fill(Templates.read("rpm/" + script), values)));
        }
        String epoch = p.rpmEpoch().isEmpty() ? "" : p.rpmEpoch() + ":";
        values.put("EPOCH", epoch.isEmpty() ? "" : "Epoch: " + p.rpmEpoch() + "\n");
        values.put("VERSION", p.rpmVersion());
        values.put("RELEASE", p.rpmRelease());
        values.put("EVR", epoch + p.rpmVersion() + "-" + p.rpmRelease());
        values.put("SUMMARY", escape(p.summary()));
        values.put("LICENSE", escape(p.license()));
        values.put("URL", p.homepage().isEmpty() ? "" : "URL: " + escape(p.homepage()) + "\n");
        values.put("MAINTAINER", escape(p.maintainer()));
        values.put("REQUIRES", dependencies(p, requires));
        values.put("DESCRIPTION", escape(description(p)));
        values.put("ROOT", root);
        values.put("FILES", files(p, paths));
        values.put("CHANGELOG_DATE", DateTimeFormatter.ofPattern("EEE MMM dd yyyy", Locale.ROOT).format(p.date()));
        return Templates.fill(Templates.read("rpm/build-recipe"), values);
    }

    /** /etc/yum.repos.d/<name>.repo: the repository's rpm part, signed metadata and packages, with the package's keys. */
    static String repoFile(Package p, List<String> keyFiles) {
        return Templates.fill(Templates.read("rpm/repo"), Map.of("NAME", p.name(), "DISPLAY_NAME", p.displayName(),
                "URL", p.repository().url(), "KEYS", String.join(" ", keyFiles.stream().map(k -> "file://" + k).toList())));
    }

    /** The installed paths of the repository's keys: RPM-GPG-KEY-<name>, then -2, -3... for keys ahead of a rotation. */
    static List<String> keyFiles(Package p) {
        List<Integer> numbers = java.util.stream.IntStream.rangeClosed(1, p.repository().keys().size()).boxed().toList();
        return numbers.stream().map(n -> "/etc/pki/rpm-gpg/RPM-GPG-KEY-" + p.name() + (n == 1 ? "" : "-" + n)).toList();
    }

    private static Map<String, String> scriptValues(Package p) {
        return new HashMap<>(Map.of("NAME", p.name(), "VERSION", p.version(), "COPY", p.copyFolder()));
    }

    private static String dependencies(Package p, List<String> requires) {
        StringBuilder out = new StringBuilder();
        // What the scriptlets run beyond coreutils: named by path, which every rpm distribution resolves.
        out.append("Requires(posttrans): /usr/bin/flock, /usr/bin/setsid, /usr/bin/awk\n")
           .append("Requires(preun): /usr/bin/flock\n");
        requires.forEach(r -> out.append("Requires: ").append(r).append('\n'));
        if (!p.fileTypes().isEmpty() || !p.urlSchemes().isEmpty()) {
            // Their file triggers bring the desktop's and the MIME database up to date.
            out.append("Recommends: desktop-file-utils, shared-mime-info\n");
        }
        return out.toString();
    }

    private static String description(Package p) {
        return String.join("\n\n", p.paragraphs().stream().map(para -> String.join("\n", DebianFiles.wrap(para, WIDTH))).toList());
    }

    /** %files: the tree as one folder, every other file by itself, the copyright as licence, /etc as configuration. */
    private static String files(Package p, List<String> paths) {
        String doc = "usr/share/doc/" + p.name() + "/";
        StringBuilder out = new StringBuilder();
        if (paths.stream().anyMatch(path -> path.startsWith(doc))) {
            out.append("%dir /").append(doc, 0, doc.length() - 1).append('\n');
        }
        for (String path : paths.stream().sorted().toList()) {
            String mark = path.equals(doc + "copyright") ? "%license "
                    : path.startsWith(doc) ? "%doc "
                    : path.startsWith("etc/") ? "%config(noreplace) " : "";
            out.append(mark).append('/').append(escape(path)).append('\n');
        }
        return out.toString();
    }

    /** Text rpm takes as it is: a '%' would start a macro. */
    static String escape(String text) {
        return text.replace("%", "%%");
    }
}
