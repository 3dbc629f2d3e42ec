// The Flatpak repository of tools/publish: an OSTree archive repository in <repo>/flatpak/
// where each .flatpak bundle becomes a signed commit on top of its branch, with a signed
// summary, the newest --keep commits of each branch kept; beside it <name>.flatpakrepo (the remote) and
// <name>.flatpakref (the application and its remote), which a user opens or gives to
// flatpak --user install.
package com.vellumbry.corvane.ship;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Base64;
import java.util.List;
import java.util.TreeSet;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

final class FlatpakRepository {
    static final String FOLDER = "flatpak";
    private static final Pattern APP_REF = Pattern.compile("(?m)^app/([^/\\s]+)/([^/\\s]+)/([^/\\s]+)$");
    private static final Pattern RUNTIME = Pattern.compile("(?m)^runtime=([^/\\s]+)/");
    private static final Pattern URL = Pattern.compile("(?m)^Url=(.*)/" + FOLDER + "/$");

    private FlatpakRepository() {
    }

    /** The repository's web address: --url, else the one the folder's .flatpakrepo names; null when neither. */
    static String url(PublishOptions options, Path repo) {
        if (!options.url().isEmpty()) {
            return options.url().replaceAll("/+$", "");
        }
        Path remote = repo.resolve(options.name() + ".flatpakrepo");
        Matcher m = URL.matcher(Files.isRegularFile(remote) ? Exec.read(remote) : "");
        return m.find() ? m.group(1) : null;
    }

    /** Imports the bundles into {@code work}'s flatpak/, signs, prunes and writes the remote's files. */
    static void publish(Path work, String url, PublishOptions options, Signing signing, Path scratch, Console console) {
        Path dir = work.resolve(FOLDER);
        if (!Files.isDirectory(dir)) {
            Exec.output(List.of("ostree", "init", "--mode=archive", "--repo=" + dir), scratch,
                    "ostree cannot make the Flatpak repository");
        }
        for (Path bundle : options.flatpaks()) {
            // Imported beside, then committed on top of the branch: its commit's parent is the
            // version before, so that the branch has a history for --keep to keep.
            Path incoming = scratch.resolve("flatpak-incoming");
            Workspace.removeTree(incoming);
            Exec.output(List.of("ostree", "init", "--mode=archive", "--repo=" + incoming), scratch,
                    "ostree cannot make a repository");
            Exec.output(List.of("flatpak", "build-import-bundle", "--no-update-summary", incoming.toString(), bundle.toString()),
                    scratch, "flatpak cannot import " + bundle.getFileName());
            Matcher ref = APP_REF.matcher(Exec.output(List.of("ostree", "refs", "--repo=" + incoming), scratch,
                    "ostree cannot list the refs of " + bundle.getFileName()));
            if (!ref.find()) {
                throw Console.fail(bundle.getFileName() + " holds no application");
            }
            if (!follows(dir, incoming, ref.group(), bundle, scratch, console)) {
                continue;
            }
            List<String> argv = new ArrayList<>(List.of("flatpak", "build-commit-from", "--src-repo=" + incoming,
                    "--untrusted", "--no-update-summary"));
            argv.addAll(signArguments(signing));
            argv.addAll(List.of(dir.toString(), ref.group()));
            Exec.output(argv, scratch, "flatpak cannot commit " + bundle.getFileName() + " to the Flatpak repository");
            console.say("committed " + bundle.getFileName() + " to " + FOLDER + "/ as " + ref.group());
        }
        List<String> update = new ArrayList<>(List.of("flatpak", "build-update-repo", "--title=" + options.label(),
                "--default-branch=" + FlatpakFormat.BRANCH, "--prune", "--prune-depth=" + (options.keep() - 1)));
        update.addAll(signArguments(signing));
        update.add(dir.toString());
        Exec.output(update, scratch, "flatpak cannot update the Flatpak repository's summary");
        writeRemoteFiles(work, dir, url, options, signing, scratch);
    }

    /**
     * Whether the bundle's commit ({@code ref} of {@code incoming}) goes on top of the branch: false
     * when the branch is at these files already. A user's flatpak update takes no older commit, so
     * the branch never goes back to an older version, nor to other files of the same version.
     */
    private static boolean follows(Path dir, Path incoming, String ref, Path bundle, Path scratch, Console console) {
        String published = Exec.output(List.of("ostree", "refs", "--repo=" + dir), scratch,
                "ostree cannot list the Flatpak repository");
        if (!published.lines().toList().contains(ref)) {
            return true;
        }
        FlatpakFormat.Commit head = FlatpakFormat.commit(dir, ref, scratch);
        FlatpakFormat.Commit added = FlatpakFormat.commit(incoming, ref, scratch);
        if (head.contents().equals(added.contents())) {
            console.say(bundle.getFileName() + " is in the Flatpak repository already");
            return false;
        }
        int order = Versions.debian(added.version(), head.version());
        if (order == 0) {
            throw Console.fail("the Flatpak repository holds " + ref + " " + head.version()
                    + " with other contents already: give the package a new version");
        }
        if (order < 0) {
            throw Console.fail("the Flatpak repository's " + ref + " is at version " + head.version() + ", newer than "
                    + bundle.getFileName() + "'s " + added.version() + ": flatpak update takes no older version");
        }
        return true;
    }

    /** Signed by every key: each commit and the summary. */
    private static List<String> signArguments(Signing signing) {
        List<String> argv = new ArrayList<>();
        signing.keys().forEach(key -> argv.add("--gpg-sign=" + key));
        if (signing.home() != null) {
            argv.add("--gpg-homedir=" + signing.home());
        }
        return argv;
    }

    /**
     * <name>.flatpakrepo and <name>.flatpakref: the keys as Flatpak takes them (base64 of the binary
     * keyring), and for the application the Flathub remote as its runtime's source when its runtime is
     * one of Flathub's (Freedesktop, GNOME, KDE); no runtime source otherwise.
     */
    private static void writeRemoteFiles(Path work, Path dir, String url, PublishOptions options, Signing signing,
                                         Path scratch) {
        Path keyring = scratch.resolve("flatpak-keyring.gpg");
        signing.exportPublic(false, keyring, scratch);
        String key;
        try {
            key = Base64.getEncoder().encodeToString(Files.readAllBytes(keyring));
        } catch (IOException e) {
            throw Console.fail("cannot read the exported keys: " + e.getMessage());
        }
        String remoteUrl = url + "/" + FOLDER + "/";
        RepoFiles.write(work.resolve(options.name() + ".flatpakrepo"), ("[Flatpak Repo]\nTitle=" + options.label()
                + "\nUrl=" + remoteUrl + "\nDefaultBranch=" + FlatpakFormat.BRANCH + "\nGPGKey=" + key + "\n")
                .getBytes(StandardCharsets.UTF_8));
        String refs = Exec.output(List.of("ostree", "refs", "--repo=" + dir), scratch, "ostree cannot list the Flatpak repository");
        TreeSet<String> apps = new TreeSet<>();
        String ref = null;
        for (Matcher m = APP_REF.matcher(refs); m.find(); ) {
            apps.add(m.group(1));
            ref = m.group();
        }
        if (apps.size() > 1) {
            throw Console.fail("the Flatpak repository would hold several applications (" + String.join(" ", apps)
                    + "): publish each into a repository folder of its own");
        }
        if (ref == null) {
            return;
        }
        Matcher runtime = RUNTIME.matcher(Exec.output(List.of("ostree", "cat", "--repo=" + dir, ref, "/metadata"), scratch,
                "ostree cannot read the metadata of " + ref));
        String runtimeRepo = runtime.find() ? FlatpakFormat.runtimeRepo(runtime.group(1)) : null;
        RepoFiles.write(work.resolve(options.name() + ".flatpakref"), ("[Flatpak Ref]\nTitle=" + options.label()
                + "\nName=" + apps.first() + "\nSuggestRemoteName=" + options.name() + "\nBranch=" + FlatpakFormat.BRANCH + "\nUrl=" + remoteUrl
                + "\nIsRuntime=false\nGPGKey=" + key + "\n" + (runtimeRepo != null ? "RuntimeRepo=" + runtimeRepo + "\n" : ""))
                .getBytes(StandardCharsets.UTF_8));
    }
}
