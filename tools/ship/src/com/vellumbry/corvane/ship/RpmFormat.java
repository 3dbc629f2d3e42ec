// The rpm: the shared files with executable libraries, a yum repository entry and keys of
// its own, described by rpmbuild's build recipe (a template) and built by rpmbuild in a
// _topdir of the stage; read back with rpm -qp --queryformat and rpm -qlp.
package com.vellumbry.corvane.ship;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.nio.file.attribute.PosixFilePermissions;
import java.time.format.DateTimeFormatter;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.Set;
import java.util.stream.IntStream;

final class RpmFormat implements PackageFormat {

    @Override
    public void checkTools() {
        if (!Exec.onPath("rpmbuild")) {
            throw Console.fail("rpmbuild is not installed (package: rpm)");
        }
    }

    @Override
    public String folder() {
        return "rpm";
    }

    @Override
    public List<String> scripts() {
        return List.of("posttrans", "preun", "postun");
    }

    @Override
    public String fileName(Package p) {
        return fileName(p.name(), p.rpmVersion(), p.rpmRelease(), p.arch());
    }

    /** name-version-release.arch.rpm, as rpmbuild names its files. */
    static String fileName(String name, String version, String release, String arch) {
        return name + "-" + version + "-" + release + "." + arch + ".rpm";
    }

    /** [epoch:]version-release, as rpm prints it. */
    private static String evr(Package p) {
        return (p.rpmEpoch().isEmpty() ? "" : p.rpmEpoch() + ":") + p.rpmVersion() + "-" + p.rpmRelease();
    }

    @Override
    public void stage(Package p, Path root, Path scratch) {
        executableLibraries(root.resolve("opt").resolve(p.name()));
        if (p.repository() != null) {
            List<String> keyFiles = keyFiles(p);
            for (int i = 0; i < keyFiles.size(); i++) {
                PackageRoot.add(root, keyFiles.get(i).substring(1),
                        Signing.publicKeys(List.of(p.repository().keys().get(i)), true, scratch));
            }
            PackageRoot.add(root, "etc/yum.repos.d/" + p.name() + ".repo", repoFile(p, keyFiles));
        }
    }

    /**
     * Shared libraries as rpm distributions install them, executable (0755; Debian's are 0644):
     * each gets an inode of its own first, so that the other formats' files keep their mode.
     */
    private static void executableLibraries(Path tree) {
        for (Path library : ElfLibraries.elfFiles(tree)) {
            if (!library.getFileName().toString().matches(".*\\.so(\\..*)?")) {
                continue;
            }
            Path copy = library.resolveSibling("." + library.getFileName() + ".rpm");
            try {
                Files.copy(library, copy, StandardCopyOption.COPY_ATTRIBUTES);
                Files.setPosixFilePermissions(copy, PosixFilePermissions.fromString("rwxr-xr-x"));
                Files.move(copy, library, StandardCopyOption.REPLACE_EXISTING, StandardCopyOption.ATOMIC_MOVE);
            } catch (IOException e) {
                throw Console.fail("cannot stage " + library + " for the rpm: " + e.getMessage());
            }
        }
    }

    @Override
    public List<String> dependencies(Path tree, Path scratch) {
        return ElfLibraries.rpmRequires(tree, scratch);
    }

    @Override
    public Path build(Package p, Path root, List<String> dependencies, Map<String, String> scripts, Path stage, Path scratch) {
        Path topdir = stage.resolve("rpmbuild");
        Path recipe = topdir.resolve(p.name() + ".rpmbuild");
        String quotedRoot = "'" + escape(root.toString()).replace("'", "'\\''") + "'";
        PackageRoot.add(topdir, recipe.getFileName().toString(),
                buildRecipe(p, quotedRoot, dependencies, recipePaths(p, PackageRoot.listing(root)), scripts));
        List<String> argv = List.of("rpmbuild", "-bb", "--quiet", "--target", p.arch(),
                "--define", "_topdir " + topdir, "--define", "_tmppath " + scratch,
                "--define", "_buildhost localhost",
                // verify-copies checks the running copy against these digests: SHA-256.
                "--define", "_binary_filedigest_algorithm 8",
                // Build time and file times no later than SOURCE_DATE_EPOCH, as the .deb and the .tar.gz.
                "--define", "use_source_date_epoch_as_buildtime 1", "--define", "clamp_mtime_to_source_date_epoch 1",
                recipe.toString());
        Path out = scratch.resolve("rpmbuild.out");
        int status = Exec.run(new Exec.Command(argv,
                Map.of("SOURCE_DATE_EPOCH", Long.toString(PackageOptions.sourceDateEpoch())), Set.of(), 0, scratch), out);
        Path rpm = topdir.resolve("RPMS").resolve(p.arch()).resolve(fileName(p));
        if (status != 0 || !Files.isRegularFile(rpm)) {
            String text = Exec.read(out);
            throw Console.fail("rpmbuild failed: " + ClassDataArchives.firstMatching(text.lines().toList(), ".*(error|rror:).*"));
        }
        return rpm;
    }

    /** %files' paths: the tree as the one folder "opt/<name>", every other file and link by itself. */
    private static List<String> recipePaths(Package p, List<String> staged) {
        String tree = "opt/" + p.name() + "/";
        List<String> paths = new ArrayList<>(List.of("opt/" + p.name()));
        staged.stream().filter(s -> !s.startsWith(tree) && !s.endsWith("/")).forEach(paths::add);
        return paths;
    }

    /** The tree under /opt/<name> with its folders, every other file and link, the documentation's folder. */
    @Override
    public Contents wanted(Package p, List<String> staged) {
        String tree = "opt/" + p.name() + "/";
        String doc = "usr/share/doc/" + p.name() + "/";
        boolean docs = staged.stream().anyMatch(s -> s.startsWith(doc) && !s.equals(doc));
        return new Contents(p.name(), evr(p), p.arch(), staged.stream()
                .filter(s -> s.startsWith(tree) || !s.endsWith("/") || (docs && s.equals(doc)))
                .map(PackageFormat::installed).sorted().toList());
    }

    @Override
    public Contents readBack(Path file, Path scratch) {
        List<String> rpm = List.of("rpm", "-qp", "--nosignature", "--nodigest");
        String[] fields = Exec.output(concat(rpm, "--queryformat",
                "%{NAME}\\n%|EPOCH?{%{EPOCH}:}:{}|%{VERSION}-%{RELEASE}\\n%{ARCH}\\n", file.toString()),
                scratch, "rpm cannot read back " + file.getFileName()).split("\n");
        String files = Exec.output(concat(rpm, "--list", file.toString()), scratch, "rpm cannot list " + file.getFileName());
        return new Contents(fields[0], fields.length > 1 ? fields[1] : "", fields.length > 2 ? fields[2] : "",
                files.lines().filter(l -> l.startsWith("/")).sorted().toList());
    }

    /**
     * rpmbuild's build recipe: {@code root} is the package root its install step copies, {@code requires}
     * what the package needs, {@code paths} its files and links below the root (relative; the
     * tree as "opt/<name>"), {@code scripts} the scriptlets by name.
     */
    static String buildRecipe(Package p, String root, List<String> requires, List<String> paths, Map<String, String> scripts) {
        Map<String, String> values = new HashMap<>();
        StringBuilder scriptlets = new StringBuilder();
        scripts.forEach((script, text) -> scriptlets.append('%').append(script).append('\n').append(escape(text))
                .append(text.endsWith("\n") ? "" : "\n"));
        values.put("SCRIPTLETS", scriptlets.toString());
        values.put("NAME", p.name());
        values.put("EPOCH", p.rpmEpoch().isEmpty() ? "" : "Epoch: " + p.rpmEpoch() + "\n");
        values.put("VERSION", p.rpmVersion());
        values.put("RELEASE", p.rpmRelease());
        values.put("EVR", evr(p));
        values.put("SUMMARY", escape(p.summary()));
        values.put("LICENSE", escape(p.license()));
        values.put("URL", p.homepage().isEmpty() ? "" : "URL: " + escape(p.homepage()) + "\n");
        values.put("MAINTAINER", escape(p.maintainer()));
        values.put("REQUIRES", dependencies(p, requires, !scripts.isEmpty()));
        values.put("DESCRIPTION", escape(String.join("\n\n", p.description().stream().map(l -> String.join("\n", l)).toList())));
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
        return IntStream.rangeClosed(1, p.repository().keys().size())
                .mapToObj(n -> "/etc/pki/rpm-gpg/RPM-GPG-KEY-" + p.name() + (n == 1 ? "" : "-" + n)).toList();
    }

    private static String dependencies(Package p, List<String> requires, boolean scriptlets) {
        StringBuilder out = new StringBuilder();
        if (scriptlets) {
            // What the scriptlets run beyond coreutils: named by path, which every rpm distribution resolves.
            out.append("Requires(posttrans): /usr/bin/flock, /usr/bin/setsid, /usr/bin/awk\n")
               .append("Requires(preun): /usr/bin/flock\n");
        }
        requires.forEach(r -> out.append("Requires: ").append(r).append('\n'));
        List<String> recommends = p.recommends(new RpmFormat());
        if (!recommends.isEmpty()) {
            out.append("Recommends: ").append(String.join(", ", recommends)).append('\n');
        }
        return out.toString();
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

    private static List<String> concat(List<String> head, String... tail) {
        List<String> all = new ArrayList<>(head);
        all.addAll(List.of(tail));
        return all;
    }
}
