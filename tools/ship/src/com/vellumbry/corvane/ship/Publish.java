// tools/publish: adds package files to a signed apt, rpm and Flatpak repository folder that
// any static web host can serve. The new state is built in a copy beside the folder
// and renamed into place at the end: a failed or interrupted publish changes nothing.
package com.vellumbry.corvane.ship;

import java.io.IOException;
import java.nio.channels.FileChannel;
import java.nio.channels.FileLock;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardOpenOption;
import java.util.List;

final class Publish {
    private Publish() {
    }

    static void run(String[] args, Console console) {
        PublishOptions options = PublishOptions.parse(args, console);
        if (options == null) {
            return;
        }
        Path repo = followLink(options.repo());
        Path parent = repo.getParent();
        if (parent == null || !Files.isDirectory(parent) || !Files.isWritable(parent)) {
            throw Console.fail("cannot make the repository's new state beside " + repo + ": its folder is not writable");
        }
        if (Files.exists(repo) && !Files.isDirectory(repo)) {
            throw Console.fail("not a folder: " + repo);
        }
        // The kinds that get packages, or have some already.
        List<Repository<?>> kinds = Repository.KINDS.stream()
                .filter(kind -> !kind.files(options).isEmpty() || Files.isDirectory(repo.resolve(kind.names().folder()))).toList();
        for (Repository<?> kind : kinds) {
            if (!Exec.onPath(kind.names().tool())) {
                throw Console.fail(kind.names().tool() + " is not installed (package " + kind.names().toolPackage() + ")");
            }
        }
        boolean flatpak = !options.flatpaks().isEmpty() || Files.isDirectory(repo.resolve(FlatpakRepository.FOLDER));
        String url = flatpak ? FlatpakRepository.url(options, repo) : null;
        if (flatpak) {
            for (String tool : List.of("flatpak", "ostree")) {
                if (!Exec.onPath(tool)) {
                    throw Console.fail(tool + " is not installed (package " + tool + "): it keeps the Flatpak repository");
                }
            }
            if (url == null) {
                throw Console.fail("the Flatpak repository's files name its web address: give --url <address of " + repo + ">");
            }
        }
        // Held until the process ends: a second publish into the folder would start
        // from the same old state and drop what the first one added.
        FileLock lock = lockFor(parent.resolve("." + repo.getFileName() + ".publish-lock"), repo);
        Workspace workspace = Workspace.create(parent, repo.getFileName().toString(), "publishing",
                "cannot create a directory in " + parent);
        Path work = workspace.work();
        Path scratch = workspace.scratch();
        Signing signing = Signing.check(options.keys(), options.home(), scratch);

        RepoFiles.copy(repo, work);
        for (Repository<?> kind : kinds) {
            kind.publish(new Repository.Work(work.resolve(kind.names().folder()), options, signing, scratch, console));
        }
        if (flatpak) {
            FlatpakRepository.publish(work, url, options, signing, scratch, console);
        }
        signing.exportPublic(false, work.resolve(options.name() + "-archive-keyring.gpg"), scratch);
        signing.exportPublic(true, work.resolve("key.asc"), scratch);
        workspace.moveInto(repo);
        console.say("published " + (options.debs().size() + options.rpms().size() + options.flatpaks().size())
                + " package file(s), signed by "
                + String.join(" ", options.keys()));
        System.out.println(repo);
        try {
            lock.release();
        } catch (IOException e) {
            // The lock goes with the process anyway.
        }
    }

    /** A repository folder given as a symbolic link is published where the link leads, and the link stays. */
    private static Path followLink(Path repo) {
        if (!Files.isSymbolicLink(repo)) {
            return repo;
        }
        try {
            return repo.toRealPath();
        } catch (IOException e) {
            throw Console.fail("the repository folder " + repo + " is a symbolic link that leads nowhere: " + e.getMessage());
        }
    }

    private static FileLock lockFor(Path file, Path repo) {
        try {
            FileChannel channel = FileChannel.open(file, StandardOpenOption.CREATE, StandardOpenOption.WRITE);
            FileLock lock = channel.tryLock();
            if (lock == null) {
                throw Console.fail("another publish into " + repo + " is running: publish one at a time");
            }
            return lock;
        } catch (IOException e) {
            throw Console.fail("cannot lock " + file + ": " + e.getMessage());
        }
    }
}
