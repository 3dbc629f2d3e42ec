// The apt half of a repository folder (<repo>/apt/): package files in
// pool/main/<letter>/<name>/, the newest versions of each package indexed in
// dists/<suite>/main/binary-amd64/Packages, and Release, InRelease and Release.gpg.
package com.vellumbry.corvane.ship;

import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.time.Instant;
import java.time.temporal.ChronoUnit;
import java.util.ArrayList;
import java.util.Comparator;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

final class AptRepository {
    private static final Pattern FIELD = Pattern.compile("(?m)^(Package|Version|Architecture): *(\\S+) *$");

    private AptRepository() {
    }

    /** A package file: its control fields as dpkg-deb prints them and where it lies. */
    record Deb(String name, String version, String arch, String control, Path file) {
        String poolPath() {
            String upstream = version.substring(version.indexOf(':') + 1);
            return "pool/main/" + name.charAt(0) + "/" + name + "/" + name + "_" + upstream + "_" + arch + ".deb";
        }
    }

    /** Adds {@code debs} to the apt folder, keeps the newest {@code keep} versions of each package, indexes and signs. */
    static void publish(Path apt, List<Path> debs, PublishOptions options, Signing signing, Path scratch, Console console) {
        List<Deb> pool = new ArrayList<>();
        for (Path file : RepoFiles.walk(apt.resolve("pool"))) {
            if (RepoFiles.isPackage(file)) {
                pool.add(read(file, scratch));
            }
        }
        for (Path file : debs) {
            Deb deb = read(file, scratch);
            Path target = apt.resolve(deb.poolPath());
            if (Files.exists(target)) {
                if (!RepoFiles.same(file, target)) {
                    throw Console.fail("the repository holds " + deb.name() + " " + deb.version()
                            + " with other contents already: give the package a new version");
                }
                console.say(deb.name() + " " + deb.version() + " is in the repository already");
                continue;
            }
            RepoFiles.add(file, target);
            pool.add(new Deb(deb.name(), deb.version(), deb.arch(), deb.control(), target));
        }
        List<Deb> kept = prune(pool, options.keep(), apt.resolve("pool"), console);
        writeIndexes(apt, kept, options, signing, scratch);
    }

    private static Deb read(Path file, Path scratch) {
        String control = Exec.output(List.of("dpkg-deb", "--field", file.toString()), scratch, "not a Debian package: " + file);
        Map<String, String> fields = new TreeMap<>();
        Matcher m = FIELD.matcher(control);
        while (m.find()) {
            fields.put(m.group(1), m.group(2));
        }
        if (fields.size() != 3) {
            throw Console.fail("the package " + file + " lacks Package, Version or Architecture");
        }
        // They name the pool's folders and file: a crafted package must not lead out of it.
        if (!fields.get("Package").matches("[a-z0-9][a-z0-9+.-]+")) {
            throw Console.fail("the package " + file + " has no valid Package name: " + fields.get("Package"));
        }
        if (!fields.get("Version").matches("([0-9]{1,9}:)?[A-Za-z0-9][A-Za-z0-9.+~:-]*")) {
            throw Console.fail("the package " + file + " has no valid Version: " + fields.get("Version"));
        }
        String arch = fields.get("Architecture");
        if (!arch.equals("amd64") && !arch.equals("all")) {
            throw Console.fail("the repository is for amd64; " + file + " is for " + arch);
        }
        return new Deb(fields.get("Package"), fields.get("Version"), arch, control, file);
    }

    /** The newest {@code keep} versions of each package; the older files leave the pool. */
    private static List<Deb> prune(List<Deb> pool, int keep, Path top, Console console) {
        Map<String, List<Deb>> byName = new TreeMap<>();
        pool.forEach(d -> byName.computeIfAbsent(d.name(), k -> new ArrayList<>()).add(d));
        List<Deb> kept = new ArrayList<>();
        for (List<Deb> versions : byName.values()) {
            versions.sort(Comparator.comparing(Deb::version, Versions::debian).reversed());
            for (int i = 0; i < versions.size(); i++) {
                if (i < keep) {
                    kept.add(versions.get(i));
                } else {
                    console.say("removing " + versions.get(i).name() + " " + versions.get(i).version() + " from the apt pool");
                    RepoFiles.remove(versions.get(i).file(), top);
                }
            }
        }
        kept.sort(Comparator.comparing(Deb::name).thenComparing(Deb::version, Versions::debian));
        return kept;
    }

    /** dists/<suite>/ made anew: Packages (and .gz), Release, InRelease, Release.gpg. */
    private static void writeIndexes(Path apt, List<Deb> debs, PublishOptions options, Signing signing, Path scratch) {
        Path suite = apt.resolve("dists").resolve(options.suite());
        Workspace.removeTree(suite);
        List<String> stanzas = new ArrayList<>();
        for (Deb deb : debs) {
            stanzas.add(AptIndex.stanza(deb.control(), RepoFiles.facts(deb.file(), apt.relativize(deb.file()).toString())));
        }
        byte[] packages = AptIndex.packages(stanzas).getBytes(StandardCharsets.UTF_8);
        String folder = "main/binary-amd64/";
        RepoFiles.write(suite.resolve(folder + "Packages"), packages);
        RepoFiles.write(suite.resolve(folder + "Packages.gz"), PackageTree.gzip(packages));
        List<AptIndex.FileFacts> indexes = new ArrayList<>();
        for (String name : List.of("Packages", "Packages.gz")) {
            indexes.add(RepoFiles.facts(suite.resolve(folder + name), folder + name));
        }
        AptIndex.ReleaseFacts facts = new AptIndex.ReleaseFacts(options.origin(), options.label(), options.suite(),
                Instant.now().truncatedTo(ChronoUnit.SECONDS));
        Path release = suite.resolve("Release");
        RepoFiles.write(release, AptIndex.release(facts, indexes).getBytes(StandardCharsets.UTF_8));
        signing.clearsign(release, suite.resolve("InRelease"), scratch);
        signing.detachSign(release, suite.resolve("Release.gpg"), scratch);
    }
}
