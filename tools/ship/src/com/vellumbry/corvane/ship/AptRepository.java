// The apt half of a repository folder (<repo>/apt/): package files in
// pool/main/<letter>/<name>/, the newest versions of each package indexed in
// dists/<suite>/main/binary-<arch>/Packages (amd64 and arm64), and Release, InRelease and Release.gpg.
package com.vellumbry.corvane.ship;

import com.vellumbry.corvane.api.TreeRecordFile;
import java.nio.charset.StandardCharsets;
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

final class AptRepository implements Repository<AptRepository.Deb> {
    private static final Pattern FIELD = Pattern.compile("(?m)^(Package|Version|Architecture): *(\\S+) *$");
    /** The CPUs the repository serves, each with an index (empty when it has no package for it). */
    static final List<String> ARCHES = List.of("amd64", "arm64");

    /** A package file's control fields as dpkg-deb prints them, and the three that place it. */
    record Deb(String name, String version, String arch, String control) {
    }

    @Override
    public Names names() {
        return new Names("apt", "pool", ".deb", "dpkg-deb", "dpkg", "a new version", "the apt pool");
    }

    @Override
    public List<Path> files(PublishOptions options) {
        return options.debs();
    }

    @Override
    public Deb read(Path file, Path scratch) {
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
        if (!TreeRecordFile.isApplicationName(fields.get("Package"))) {
            throw Console.fail("the package " + file + " has no valid Package name: " + fields.get("Package"));
        }
        if (!fields.get("Version").matches("([0-9]{1,9}:)?[A-Za-z0-9][A-Za-z0-9.+~:-]*")) {
            throw Console.fail("the package " + file + " has no valid Version: " + fields.get("Version"));
        }
        String arch = fields.get("Architecture");
        if (!ARCHES.contains(arch) && !arch.equals("all")) {
            throw Console.fail("the repository is for " + String.join(" and ", ARCHES) + "; " + file + " is for " + arch);
        }
        return new Deb(fields.get("Package"), fields.get("Version"), arch, control);
    }

    @Override
    public String target(Deb deb) {
        return "pool/main/" + deb.name().charAt(0) + "/" + deb.name() + "/" + DebFormat.fileName(deb.name(), deb.version(), deb.arch());
    }

    @Override
    public String label(Deb deb) {
        return deb.name() + " " + deb.version();
    }

    @Override
    public String group(Deb deb) {
        // Each CPU's versions are kept by themselves.
        return deb.name() + " " + deb.arch();
    }

    @Override
    public int compare(Deb a, Deb b) {
        return Versions.debian(a.version(), b.version());
    }

    /** dists/<suite>/ made anew: Packages (and .gz) of the packages by name and version, and Release. */
    @Override
    public void index(Work work, List<Stored<Deb>> kept) {
        Path apt = work.dir();
        Path suite = apt.resolve("dists").resolve(work.options().suite());
        Workspace.removeTree(suite);
        List<AptIndex.FileFacts> indexes = new ArrayList<>();
        for (String arch : ARCHES) {
            String folder = "main/binary-" + arch + "/";
            List<String> stanzas = new ArrayList<>();
            kept.stream().filter(s -> s.facts().arch().equals(arch) || s.facts().arch().equals("all"))
                    .sorted(Comparator.comparing((Stored<Deb> s) -> s.facts().name()).thenComparing(Stored::facts, this::compare))
                    .forEach(s -> stanzas.add(AptIndex.stanza(s.facts().control(),
                            RepoFiles.facts(s.file(), apt.relativize(s.file()).toString()))));
            byte[] packages = AptIndex.packages(stanzas).getBytes(StandardCharsets.UTF_8);
            RepoFiles.write(suite.resolve(folder + "Packages"), packages);
            RepoFiles.write(suite.resolve(folder + "Packages.gz"), PackageTree.gzip(packages));
            for (String name : List.of("Packages", "Packages.gz")) {
                indexes.add(RepoFiles.facts(suite.resolve(folder + name), folder + name));
            }
        }
        AptIndex.ReleaseFacts facts = new AptIndex.ReleaseFacts(work.options().origin(), work.options().label(),
                work.options().suite(), Instant.now().truncatedTo(ChronoUnit.SECONDS));
        RepoFiles.write(suite.resolve("Release"), AptIndex.release(facts, ARCHES, indexes).getBytes(StandardCharsets.UTF_8));
    }

    /** InRelease and Release.gpg: Release clearsigned, and its detached signature. */
    @Override
    public void sign(Work work) {
        Path suite = work.dir().resolve("dists").resolve(work.options().suite());
        work.signing().clearsign(suite.resolve("Release"), suite.resolve("InRelease"), work.scratch());
        work.signing().detachSign(suite.resolve("Release"), suite.resolve("Release.gpg"), work.scratch());
    }
}
