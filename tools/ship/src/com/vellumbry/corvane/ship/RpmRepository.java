// The rpm half of a repository folder (<repo>/rpm/): the newest versions of each
// package, repodata/ made by createrepo_c, repomd.xml's detached signature and the
// publisher's public key for dnf's gpgkey.
package com.vellumbry.corvane.ship;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Comparator;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;

final class RpmRepository {
    private RpmRepository() {
    }

    private record Rpm(RpmHeader header, Path file) {
    }

    /** Adds {@code rpms} to the rpm folder, keeps the newest {@code keep} versions of each package, indexes and signs. */
    static void publish(Path dir, List<Path> rpms, PublishOptions options, Signing signing, Path scratch, Console console) {
        if (!Exec.onPath("createrepo_c")) {
            throw Console.fail("createrepo_c is not installed (package createrepo-c)");
        }
        List<Rpm> pool = new ArrayList<>();
        for (Path file : RepoFiles.walk(dir)) {
            if (RepoFiles.isPackage(file) && !file.startsWith(dir.resolve("repodata"))) {
                pool.add(new Rpm(RpmHeader.read(file), file));
            }
        }
        for (Path file : rpms) {
            RpmHeader header = RpmHeader.read(file);
            Path target = dir.resolve(header.fileName());
            if (Files.exists(target)) {
                if (!RepoFiles.same(file, target)) {
                    throw Console.fail("the repository holds " + header.fileName()
                            + " with other contents already: give the package a new version or release");
                }
                console.say(header.fileName() + " is in the repository already");
                continue;
            }
            RepoFiles.add(file, target);
            pool.add(new Rpm(header, target));
        }
        prune(pool, options.keep(), dir, console);
        // --update reuses the metadata of the packages that did not change.
        Exec.output(List.of("createrepo_c", "--update", "--quiet", dir.toString()), scratch, "createrepo_c failed");
        Path repomd = dir.resolve("repodata/repomd.xml");
        signing.detachSign(repomd, dir.resolve("repodata/repomd.xml.asc"), scratch);
        signing.exportPublic(true, dir.resolve("RPM-GPG-KEY-" + options.name()), scratch);
    }

    /** Per name and architecture the newest {@code keep} versions stay; older files go. */
    private static void prune(List<Rpm> pool, int keep, Path top, Console console) {
        Map<String, List<Rpm>> groups = new TreeMap<>();
        pool.forEach(r -> groups.computeIfAbsent(r.header().name() + "." + r.header().arch(), k -> new ArrayList<>()).add(r));
        Comparator<Rpm> newestFirst = (a, b) -> Versions.rpm(b.header().epoch(), b.header().version(), b.header().release(),
                a.header().epoch(), a.header().version(), a.header().release());
        for (List<Rpm> versions : groups.values()) {
            versions.sort(newestFirst);
            for (Rpm old : versions.subList(Math.min(keep, versions.size()), versions.size())) {
                console.say("removing " + old.file().getFileName() + " from the rpm repository");
                RepoFiles.remove(old.file(), top);
            }
        }
    }
}
