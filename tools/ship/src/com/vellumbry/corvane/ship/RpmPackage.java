// The rpm of a package: the Debian package's root without its Debian-only files, plus a
// repository entry and keys of its own, built by rpmbuild in a _topdir of the workspace.
package com.vellumbry.corvane.ship;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.TreeSet;
import java.util.stream.Stream;

final class RpmPackage {
    /** What only a Debian system reads: left out of the rpm. */
    private static final List<String> DEBIAN_ONLY = List.of("DEBIAN", "usr/share/lintian");

    private RpmPackage() {
    }

    /** Builds the rpm from the staged package root {@code root}; returns the file, in {@code stage}. */
    static Path build(Package p, Path root, Path stage, Path scratch) {
        Path rpmRoot = stage.resolve("rpm-root");
        // Hard links: nothing below changes a staged file, and rpmbuild only reads them.
        Exec.output(List.of("cp", "-a", "--link", "--", root + "/.", rpmRoot.toString()), scratch,
                "cannot stage the rpm's files");
        DEBIAN_ONLY.forEach(path -> Workspace.removeTree(rpmRoot.resolve(path)));
        executableLibraries(rpmRoot.resolve("opt").resolve(p.name()));
        if (p.repository() != null) {
            writeRepository(p, rpmRoot, scratch);
        }
        Path topdir = stage.resolve("rpmbuild");
        Path recipe = topdir.resolve(p.name() + ".rpmbuild");
        String quotedRoot = "'" + RpmFiles.escape(rpmRoot.toString()).replace("'", "'\\''") + "'";
        write(recipe, RpmFiles.buildRecipe(p, quotedRoot, ElfLibraries.rpmRequires(rpmRoot.resolve("opt").resolve(p.name()), scratch),
                paths(p, rpmRoot)));
        List<String> argv = List.of("rpmbuild", "-bb", "--quiet", "--target", "x86_64",
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
        Path rpm = topdir.resolve("RPMS/x86_64").resolve(p.rpmFile());
        if (status != 0 || !Files.isRegularFile(rpm)) {
            String text = Exec.read(out);
            throw Console.fail("rpmbuild failed: " + ClassDataArchives.firstMatching(text.lines().toList(), ".*(error|rror:).*"));
        }
        return rpm;
    }

    /**
     * Shared libraries as rpm distributions install them, executable (0755; Debian's are 0644):
     * each gets an inode of its own first, so that the .deb's and the .tar.gz's files keep their mode.
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

    /** The package's files and links below {@code rpmRoot}, relative; the tree as the one folder "opt/<name>". */
    private static List<String> paths(Package p, Path rpmRoot) {
        Path opt = rpmRoot.resolve("opt").resolve(p.name());
        TreeSet<String> paths = new TreeSet<>(List.of("opt/" + p.name()));
        try (Stream<Path> files = Files.walk(rpmRoot)) {
            files.filter(f -> !f.startsWith(opt) && !Files.isDirectory(f, LinkOption.NOFOLLOW_LINKS))
                    .forEach(f -> paths.add(rpmRoot.relativize(f).toString()));
        } catch (IOException e) {
            throw Console.fail("cannot read " + rpmRoot + ": " + e.getMessage());
        }
        return new ArrayList<>(paths);
    }

    /** /etc/yum.repos.d/<name>.repo and the publisher's keys, armored, under /etc/pki/rpm-gpg/. */
    private static void writeRepository(Package p, Path rpmRoot, Path scratch) {
        if (!Exec.onPath("gpg")) {
            throw Console.fail("gpg is not installed (package: gnupg); it converts the repository keys for the rpm");
        }
        List<String> keyFiles = RpmFiles.keyFiles(p);
        for (int i = 0; i < keyFiles.size(); i++) {
            Path key = p.repository().keys().get(i);
            write(rpmRoot.resolve(keyFiles.get(i).substring(1)), armored(key, scratch.resolve("gnupg-" + i), scratch));
        }
        write(rpmRoot.resolve("etc/yum.repos.d").resolve(p.name() + ".repo"), RpmFiles.repoFile(p, keyFiles));
        PackageRoot.setModes(rpmRoot.resolve("etc"));
    }

    /** The public keys of a key file (armored or binary) as one armored block, through a GnuPG home of its own. */
    private static String armored(Path key, Path home, Path scratch) {
        Path out = home.resolve("key.asc");
        try {
            Files.createDirectories(home);
            Files.setPosixFilePermissions(home, PosixFilePermissions.fromString("rwx------"));
        } catch (IOException e) {
            throw Console.fail("cannot create " + home + ": " + e.getMessage());
        }
        List<String> gpg = List.of("gpg", "--homedir", home.toString(), "--batch", "--no-tty", "--quiet");
        Exec.output(concat(gpg, "--import", key.toString()), scratch, "cannot read the repository key " + key);
        Exec.output(concat(gpg, "--armor", "--output", out.toString(), "--export"), scratch,
                "cannot export the repository key " + key);
        String text = Exec.read(out);
        if (!text.contains("-----BEGIN PGP PUBLIC KEY BLOCK-----")) {
            throw Console.fail("no public key in the repository key " + key);
        }
        return text;
    }

    private static List<String> concat(List<String> head, String... tail) {
        List<String> all = new ArrayList<>(head);
        all.addAll(List.of(tail));
        return all;
    }

    private static void write(Path file, String text) {
        try {
            Files.createDirectories(file.getParent());
            Files.writeString(file, text, StandardCharsets.UTF_8);
        } catch (IOException e) {
            throw Console.fail("cannot write " + file + ": " + e.getMessage());
        }
    }
}
