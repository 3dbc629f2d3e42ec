// The Flatpak: a single-file bundle of the tree under /app/lib/<name>, its commands in /app/bin,
// its menu entries, icons and file types exported under the app id, and a class archive made for
// /app. The staged folder is a Flatpak build folder (metadata, files/, export/ by build-finish);
// flatpak build-export commits it into a scratch repository, build-bundle makes the file, and
// build-import-bundle with ostree ls reads it back.
package com.vellumbry.corvane.ship;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.time.Instant;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import java.util.stream.Stream;

/**
 * @param runtime    the runtime's id and branch, "org.freedesktop.Platform//24.08"
 * @param finishArgs the sandbox's permissions, as flatpak build-finish takes them
 * @param console    where the class archive's note goes
 */
record FlatpakFormat(String runtime, List<String> finishArgs, Console console) implements PackageFormat {
    /** Every version goes to one branch: an installed one updates from the repository's newer commit. */
    static final String BRANCH = "stable";
    /** OSTree stores no times: every file Flatpak deploys has the time 0. */
    static final long DEPLOYED_TIME = 0;
    /** A line of ostree ls -R: type and mode, uid, gid, size, path, " -> target" for a link. */
    private static final Pattern LISTED = Pattern.compile("(\\S)\\S* +\\d+ +\\d+ +\\d+ (/.*?)(?: -> .*)?");
    private static final Pattern CONTENT_CHECKSUM = Pattern.compile("(?m)^ContentChecksum: +(\\S+)$");
    /** The subject build-export gives a commit, "<name> <version>", indented in ostree show's output. */
    private static final Pattern SUBJECT_VERSION = Pattern.compile("(?m)^ {4}\\S+ (\\S+)$");
    private static final Pattern IMPORTED = Pattern.compile("(?m)^(app)/([^/\\s]+)/([^/\\s]+)/([^/\\s]+)$");

    /** The tools a Flatpak needs; null when they are there, else what is missing. */
    static String missingTools() {
        for (String tool : List.of("flatpak", "ostree", "bwrap")) {
            if (!Exec.onPath(tool)) {
                return tool + " is not installed (packages: flatpak, ostree, bubblewrap)";
            }
        }
        return null;
    }

    @Override
    public void checkTools() {
        String missing = missingTools();
        if (missing != null) {
            throw Console.fail(missing);
        }
    }

    @Override
    public String folder() {
        return "flatpak";
    }

    @Override
    public List<String> scripts() {
        return List.of();
    }

    @Override
    public String fileName(Package p) {
        return p.name() + "-" + p.upstreamVersion() + "-" + p.arch() + ".flatpak";
    }

    /** The remote that has the runtime {@code runtime} (id...): Flathub for the Freedesktop, GNOME and KDE ones; else null. */
    static String runtimeRepo(String runtime) {
        return runtime.matches("org\\.(freedesktop|gnome|kde)\\.[^/]*(/.*)?") ? "https://dl.flathub.org/repo/flathub.flatpakrepo" : null;
    }

    /** The runtime's ref for the package's CPU: id/arch/branch. */
    String runtimeRef(Package p) {
        return runtime.replace("//", "/" + p.arch() + "/");
    }

    /**
     * The shared files as a build folder: the tree in files/lib/<name> (a copy of its own: its times
     * become the deployed ones and its archive another), the commands in files/bin, files/share with
     * the icons named by the app id, the metadata and build-finish's exports.
     */
    @Override
    public void stage(Package p, Path root, Path scratch) {
        Path files = root.resolve("files");
        Path tree = files.resolve("lib").resolve(p.name());
        Path opt = root.resolve("opt").resolve(p.name());
        try {
            Files.createDirectories(tree.getParent());
            Files.move(root.resolve("usr/share"), files.resolve("share"));
        } catch (IOException e) {
            throw Console.fail("cannot stage the files of " + fileName(p) + ": " + e.getMessage());
        }
        Exec.output(List.of("cp", "-a", "--", opt.toString(), tree.toString()), scratch,
                "cannot stage the files of " + fileName(p));
        Workspace.removeTree(root.resolve("opt"));
        Workspace.removeTree(root.resolve("usr"));
        // dpkg's and rpm's checksums, and the archive made for /opt: not the Flatpak's.
        for (String file : List.of("verify-copies", ShippedArchive.ARCHIVE, ShippedArchive.RECORD)) {
            Workspace.removeTree(tree.resolve(file));
        }
        PackageTree.link(files.resolve("bin").resolve(p.name()), "../lib/" + p.name() + "/corvane");
        p.commands().forEach(command -> PackageTree.link(files.resolve("bin").resolve(command.name()),
                "../lib/" + p.name() + "/corvane"));
        exportedByAppId(p, files.resolve("share"));
        ShippedArchive.make(TreeRecord.read(tree), tree, Path.of("/app/lib", p.name()), DEPLOYED_TIME, scratch, console);
        // What build-init writes, without asking for the runtime to be installed here.
        PackageRoot.add(root, "metadata", "[Application]\nname=" + p.appId() + "\nruntime=" + runtimeRef(p) + "\n");
        List<String> finish = new ArrayList<>(List.of("flatpak", "build-finish", "--command=" + p.name()));
        finish.addAll(finishArgs);
        finish.add(root.toString());
        Exec.output(finish, scratch, "flatpak build-finish failed");
    }

    /** Flatpak exports only files named by the app id: the icons get its name, the menu entries name them so. */
    private static void exportedByAppId(Package p, Path share) {
        try (Stream<Path> paths = Files.walk(share.resolve("icons"))) {
            for (Path icon : paths.filter(f -> f.getParent().getFileName().toString().equals("apps")).toList()) {
                String name = icon.getFileName().toString();
                Files.move(icon, icon.resolveSibling(p.appId() + name.substring(name.lastIndexOf('.'))));
            }
        } catch (IOException e) {
            throw Console.fail("cannot stage the icon of " + p.name() + ": " + e.getMessage());
        }
        try (Stream<Path> paths = Files.list(share.resolve("applications"))) {
            for (Path entry : paths.toList()) {
                String text = Files.readString(entry, StandardCharsets.UTF_8);
                // A hard link of the other formats' entry: a file of its own here.
                Files.delete(entry);
                Files.writeString(entry, text.replace("\nIcon=" + p.name() + "\n", "\nIcon=" + p.appId() + "\n"));
            }
        } catch (IOException e) {
            throw Console.fail("cannot stage the menu entries of " + p.name() + ": " + e.getMessage());
        }
    }

    /** The runtime brings what the programs need. */
    @Override
    public List<String> dependencies(Path tree, Path scratch) {
        return List.of();
    }

    @Override
    public Path build(Package p, Path root, List<String> dependencies, Map<String, String> scripts, Path stage, Path scratch) {
        Path repo = scratch.resolve("flatpak-repo");
        Exec.output(List.of("flatpak", "build-export", "--arch=" + p.arch(), "--subject=" + p.name() + " " + p.version(),
                "--timestamp=" + Instant.ofEpochSecond(PackageOptions.sourceDateEpoch()), repo.toString(), root.toString(),
                BRANCH), scratch, "flatpak build-export failed");
        Path bundle = stage.resolve(fileName(p));
        List<String> argv = new ArrayList<>(List.of("flatpak", "build-bundle", "--arch=" + p.arch()));
        String runtimeRepo = runtimeRepo(runtime);
        if (runtimeRepo != null) {
            argv.add("--runtime-repo=" + runtimeRepo);
        }
        argv.addAll(List.of(repo.toString(), bundle.toString(), p.appId(), BRANCH));
        Exec.output(argv, scratch, "flatpak build-bundle failed");
        return bundle;
    }

    /** The staged paths below the build folder as the commit holds them: /metadata, /files/..., /export/.... */
    @Override
    public Contents wanted(Package p, List<String> staged) {
        return new Contents(p.appId(), p.version(), p.arch(), staged.stream().map(PackageFormat::installed).sorted().toList());
    }

    @Override
    public Contents readBack(Path file, Path scratch) {
        Path repo = scratch.resolve("flatpak-read-back");
        Workspace.removeTree(repo);
        Exec.output(List.of("ostree", "init", "--repo=" + repo, "--mode=archive"), scratch, "ostree cannot make a repository");
        Exec.output(List.of("flatpak", "build-import-bundle", "--no-update-summary", repo.toString(), file.toString()), scratch,
                "flatpak cannot read back " + file.getFileName());
        Matcher ref = IMPORTED.matcher(Exec.output(List.of("ostree", "refs", "--repo=" + repo), scratch,
                "ostree cannot list the refs of " + file.getFileName()));
        if (!ref.find()) {
            return new Contents("", "", "", List.of());
        }
        String refName = ref.group();
        Commit commit = commit(repo, refName, scratch);
        String listing = Exec.output(List.of("ostree", "ls", "-R", "--repo=" + repo, refName), scratch,
                "ostree cannot list " + file.getFileName());
        return new Contents(ref.group(2), commit.version(), ref.group(3), listed(listing));
    }

    /**
     * A commit as build-export made it.
     *
     * @param contents the checksum of its files alone: two commits of the same files have the same
     * @param version  the package's version, the second word of its subject ("" when it has none)
     */
    record Commit(String contents, String version) {
    }

    /** The commit that {@code ref} of the OSTree repository {@code repo} points to. */
    static Commit commit(Path repo, String ref, Path scratch) {
        String shown = Exec.output(List.of("ostree", "show", "--repo=" + repo, ref), scratch,
                "ostree cannot read the commit of " + ref);
        Matcher contents = CONTENT_CHECKSUM.matcher(shown);
        Matcher version = SUBJECT_VERSION.matcher(shown);
        return new Commit(contents.find() ? contents.group(1) : "", version.find() ? version.group(1) : "");
    }

    /** The paths of ostree ls -R's lines, the root left out, sorted. */
    static List<String> listed(String listing) {
        List<String> files = new ArrayList<>();
        for (String line : listing.lines().toList()) {
            Matcher m = LISTED.matcher(line);
            if (m.matches() && !m.group(2).equals("/")) {
                files.add(m.group(2));
            }
        }
        return files.stream().sorted().toList();
    }
}
