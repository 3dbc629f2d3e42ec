// One kind of repository in a folder of tools/publish (apt/, rpm/): the sequence every
// kind follows (pool, add, prune, index, sign; Publish holds the lock and the new state's
// copy for all kinds) is written here once; each kind fills the slots: how it reads a
// package file, where the file lies, how versions order, its indexes and signatures.
package com.vellumbry.corvane.ship;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Comparator;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;

/** @param <P> what the kind reads from a package file: its name, version and architecture */
sealed interface Repository<P> permits AptRepository, RpmRepository {
    /** The kinds, in the order a publish makes them. */
    List<Repository<?>> KINDS = List.of(new AptRepository(), new RpmRepository());

    /** What one publish of a kind works with: its folder in the new state, and how it signs. */
    record Work(Path dir, PublishOptions options, Signing signing, Path scratch, Console console) {
    }

    /** A package file of the pool and what was read from it. */
    record Stored<P>(P facts, Path file) {
    }

    /**
     * What names a kind: its folder in the repository folder, the folder in that of its package
     * files ("" for itself) and how their names end, the program it runs and the Debian package
     * that has it, what a package of changed contents needs, and how messages name its pool.
     */
    record Names(String folder, String pool, String extension, String tool, String toolPackage, String bump,
                 String poolName) {
    }

    Names names();

    /** The package files of the command line that it takes. */
    List<Path> files(PublishOptions options);

    /** Reads a package file; fails on one whose facts would lead out of the pool. */
    P read(Path file, Path scratch);

    /** Where the package lies, relative to the kind's folder. */
    String target(P facts);

    /** How messages name the package. */
    String label(P facts);

    /** The versions of one group compete for --keep's places. */
    String group(P facts);

    /** Version order: negative when {@code a} is older. */
    int compare(P a, P b);

    /** Writes the indexes of {@code kept} (its files in the pool). */
    void index(Work work, List<Stored<P>> kept);

    /** Signs the indexes. */
    void sign(Work work);

    /** Adds the package files to the kind's folder, keeps the newest --keep versions of each group, indexes and signs. */
    default void publish(Work work) {
        List<Stored<P>> pool = new ArrayList<>();
        for (Path file : RepoFiles.walk(work.dir().resolve(names().pool()))) {
            if (RepoFiles.isPackage(file) && file.getFileName().toString().endsWith(names().extension())) {
                pool.add(new Stored<>(read(file, work.scratch()), file));
            }
        }
        for (Path file : files(work.options())) {
            P facts = read(file, work.scratch());
            Path target = work.dir().resolve(target(facts));
            if (Files.exists(target)) {
                if (!RepoFiles.same(file, target)) {
                    throw Console.fail("the repository holds " + label(facts) + " with other contents already: give the package "
                            + names().bump());
                }
                work.console().say(label(facts) + " is in the repository already");
                continue;
            }
            RepoFiles.add(file, target);
            pool.add(new Stored<>(facts, target));
        }
        List<Stored<P>> dropped = dropped(pool, work.options().keep());
        for (Stored<P> old : dropped) {
            work.console().say("removing " + label(old.facts()) + " from " + names().poolName());
            RepoFiles.remove(old.file(), work.dir().resolve(names().pool()));
        }
        List<Stored<P>> kept = new ArrayList<>(pool);
        kept.removeAll(dropped);
        index(work, kept);
        sign(work);
    }

    /** What leaves the pool: per group, all but the newest {@code keep} versions (groups in order, newest first). */
    default List<Stored<P>> dropped(List<Stored<P>> pool, int keep) {
        Map<String, List<Stored<P>>> groups = new TreeMap<>();
        pool.forEach(s -> groups.computeIfAbsent(group(s.facts()), k -> new ArrayList<>()).add(s));
        List<Stored<P>> dropped = new ArrayList<>();
        Comparator<Stored<P>> newestFirst = (a, b) -> compare(b.facts(), a.facts());
        for (List<Stored<P>> versions : groups.values()) {
            versions.sort(newestFirst);
            dropped.addAll(versions.subList(Math.min(keep, versions.size()), versions.size()));
        }
        return dropped;
    }
}
