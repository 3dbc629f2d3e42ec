// A repository's index files, version order and pruning.
package com.vellumbry.corvane.ship;

import java.nio.file.Path;
import java.util.List;

import static com.vellumbry.corvane.ship.Checks.check;
import static com.vellumbry.corvane.ship.Checks.same;

final class RepositoryTest {
    private RepositoryTest() {
    }

    static void run() {
        UpdateSource repository = new UpdateSource("https://example.org/repo", List.of());
        same(repository.aptSources("my-app"), """
                Types: deb
                URIs: https://example.org/repo/apt
                Suites: stable
                Components: main
                Architectures: amd64
                Signed-By: /usr/share/keyrings/my-app-archive-keyring.gpg
                """, "the package's source entry");
        AptIndex.FileFacts packages = new AptIndex.FileFacts("main/binary-amd64/Packages", 854, "f9be", "2ccd");
        // A package's own Filename or hashes never reach the index: apt would take them.
        same(AptIndex.stanza("Package: my-app\nVersion: 1.0\nFilename: pool/other.deb\nsha256: 00\n 11\nDescription: x\n y\n\n",
                new AptIndex.FileFacts("pool/main/m/my-app/my-app_1.0_amd64.deb", 656, "dc72", "6407")), """
                Package: my-app
                Version: 1.0
                Description: x
                 y
                Filename: pool/main/m/my-app/my-app_1.0_amd64.deb
                Size: 656
                MD5sum: dc72
                SHA256: 6407
                """, "a Packages stanza");
        same(AptIndex.release(new AptIndex.ReleaseFacts("Example", "Example apps", "stable",
                java.time.Instant.ofEpochSecond(1796671481)), List.of("amd64", "arm64"), List.of(packages)), """
                Origin: Example
                Label: Example apps
                Suite: stable
                Codename: stable
                Date: Mon, 07 Dec 2026 19:24:41 UTC
                Architectures: amd64 arm64
                Components: main
                MD5Sum:
                 f9be              854 main/binary-amd64/Packages
                SHA256:
                 2ccd              854 main/binary-amd64/Packages
                """, "Release (without Valid-Until)");
        // older | newer, as dpkg --compare-versions and rpmvercmp order them
        String[][] debian = {{"1.2", "1.10"}, {"1.0~rc1", "1.0"}, {"1.0", "1.0-1"}, {"2.0", "1:0.9"}, {"1.0a", "1.0+"},
            {"1.0-1", "1.0-1.1"}};
        for (String[] row : debian) {
            check(Versions.debian(row[0], row[1]) < 0 && Versions.debian(row[1], row[0]) > 0
                    && Versions.debian(row[1], row[1]) == 0, "Debian order: " + row[0] + " < " + row[1]);
        }
        check(Versions.debian("1.01", "1.1") == 0 && Versions.debian("1:1.0", "1.0") > 0, "Debian: leading zeros, epochs");
        String[][] rpm = {{"1.2", "1.10"}, {"1.0~rc1", "1.0"}, {"1.0", "1.0^git1"}, {"1.0a", "1.0.1"}, {"1.0", "1.0.a"}};
        for (String[] row : rpm) {
            check(Versions.rpm(0, row[0], "1", 0, row[1], "1") < 0 && Versions.rpm(0, row[1], "1", 0, row[0], "1") > 0,
                    "rpm order: " + row[0] + " < " + row[1]);
        }
        check(Versions.rpm(1, "0.9", "1", 0, "1.2", "1") > 0 && Versions.rpm(0, "1.0", "1", 0, "1.0", "2") < 0
                && Versions.rpm(0, "1.0", "1", 0, "1_0", "1") == 0, "rpm: epoch, release, separators");
        pruning();
    }

    private record PruneCase(String what, List<String> pool, int keep, List<String> stay) {
    }

    /** Which versions a repository keeps: per package (rpm: and architecture) the newest --keep. */
    private static void pruning() {
        List<PruneCase> apt = List.of(new PruneCase("epoch first, then version order; each package by itself",
                List.of("my-app 1.0", "my-app 1.10", "my-app 1:0.9", "my-app 1.2", "other 0.1"), 2,
                List.of("my-app 1.10", "my-app 1:0.9", "other 0.1")));
        for (PruneCase c : apt) {
            same(String.join("|", stay(new AptRepository(), c.pool().stream()
                    .map(s -> new AptRepository.Deb(s.split(" ")[0], s.split(" ")[1], "amd64", "")).toList(), c.keep())),
                    String.join("|", c.stay()), "apt: " + c.what());
        }
        List<PruneCase> rpm = List.of(new PruneCase("epoch, version, release; each architecture by itself",
                List.of("my-app 0 1.0 1 x86_64", "my-app 0 1.0 2 x86_64", "my-app 1 0.5 1 x86_64", "my-app 0 2.0 1 noarch"), 1,
                List.of("my-app-0.5-1.x86_64.rpm", "my-app-2.0-1.noarch.rpm")));
        for (PruneCase c : rpm) {
            same(String.join("|", stay(new RpmRepository(), c.pool().stream().map(s -> s.split(" "))
                    .map(f -> new RpmHeader(f[0], Long.parseLong(f[1]), f[2], f[3], f[4])).toList(), c.keep())),
                    String.join("|", c.stay()), "rpm: " + c.what());
        }
    }

    private static <P> List<String> stay(Repository<P> kind, List<P> pool, int keep) {
        List<Repository.Stored<P>> stored = pool.stream().map(f -> new Repository.Stored<>(f, Path.of(kind.target(f)))).toList();
        List<Repository.Stored<P>> dropped = kind.dropped(stored, keep);
        return stored.stream().filter(s -> !dropped.contains(s)).map(s -> kind.label(s.facts())).toList();
    }
}
