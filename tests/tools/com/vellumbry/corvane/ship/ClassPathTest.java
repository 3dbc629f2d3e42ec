// How jars' Class-Path entries are followed, and left out of the tree's copies.
package com.vellumbry.corvane.ship;

import java.io.IOException;
import java.io.OutputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import java.util.jar.Attributes;
import java.util.jar.JarEntry;
import java.util.jar.JarFile;
import java.util.jar.JarOutputStream;
import java.util.jar.Manifest;
import java.util.stream.Collectors;

import static com.vellumbry.corvane.ship.Checks.check;
import static com.vellumbry.corvane.ship.Checks.same;

final class ClassPathTest {
    private ClassPathTest() {
    }

    static void run() throws IOException {
        Path dir = Files.createTempDirectory("ship-test");
        try {
            Files.createDirectories(dir.resolve("lib/folder"));
            jar(dir.resolve("missing.jar"), "missing-dep.jar");
            jar(dir.resolve("folder.jar"), "lib/folder/");
            jar(dir.resolve("chain.jar"), "lib/b.jar");
            jar(dir.resolve("lib/b.jar"), "c.jar");
            jar(dir.resolve("lib/c.jar"), null);
            jar(dir.resolve("cycle.jar"), "lib/back.jar");
            jar(dir.resolve("lib/back.jar"), "../cycle.jar");
            jar(dir.resolve("url.jar"), "file:lib/c.jar lib/%5Bd%5D.jar lib/[d].jar");
            jar(dir.resolve("lib/[d].jar"), null);
            // given jar | jars in order | words the notes hold
            String[][] rows = {
                {"missing.jar", "missing.jar", "missing-dep.jar of missing.jar is missing"},
                {"folder.jar", "folder.jar", "lib/folder/ of folder.jar is a folder"},
                {"chain.jar", "chain.jar b.jar c.jar", ""},
                {"cycle.jar", "cycle.jar back.jar", ""},
                {"url.jar", "url.jar c.jar [d].jar", ""},
            };
            for (String[] row : rows) {
                AppJars.Facts facts = AppJars.read(List.of(dir.resolve(row[0])), "", List.of());
                same(facts.jars().stream().map(p -> p.getFileName().toString()).collect(Collectors.joining(" ")), row[1],
                        "class path of " + row[0]);
                String notes = String.join("; ", facts.notes());
                check(notes.contains(row[2]) && notes.isEmpty() == row[2].isEmpty(),
                        "notes of " + row[0] + " should hold '" + row[2] + "': " + notes);
                same(facts.mainClass(), "app.Main", "main class of " + row[0]);
            }
            try {
                AppJars.read(List.of(dir.resolve("not-there.jar")), "", List.of());
                check(false, "a jar named on the command line that is missing fails");
            } catch (Failure f) {
                check(f.getMessage().startsWith("jar not found: "), "missing jar: " + f.getMessage());
            }
            packsGivenFolders(dir);
        } finally {
            Workspace.removeTree(dir);
        }
        copiesClassPath();
    }

    /** A folder given among the jars: a jar of its name in its place, its files (links followed) in name order. */
    private static void packsGivenFolders(Path dir) throws IOException {
        Path dist = dir.resolve("dist");
        Files.createDirectories(dist.resolve("conf"));
        Files.writeString(dist.resolve("conf/app.properties"), "k=v\n");
        Files.writeString(dist.resolve("b.txt"), "b");
        Files.createSymbolicLink(dist.resolve("a-link.txt"), dist.resolve("b.txt"));
        Console quiet = new Console("test");
        quiet.quiet(true);
        List<Path> given = ClassPathFolders.packed(List.of(dir.resolve("lib/c.jar"), dist), quiet);
        AppJars.Facts facts = AppJars.read(given, "", List.of());
        same(facts.jars().stream().map(p -> p.getFileName().toString()).collect(Collectors.joining(" ")), "c.jar dist.jar",
                "class path with the folder dist");
        try (JarFile jar = new JarFile(given.get(1).toFile())) {
            same(jar.stream().map(JarEntry::getName).collect(Collectors.joining(" ")), "a-link.txt b.txt conf/ conf/app.properties",
                    "entries of dist.jar");
            same(new String(jar.getInputStream(jar.getEntry("a-link.txt")).readAllBytes()), "b", "the link's file");
        }
    }

    private record ManifestCase(String name, String manifest, String wanted) {
    }

    private record EntryCase(String entry, boolean leaves) {
    }

    /** A tree's copy of a jar: its manifest without Class-Path, and which entries a kept one opens outside lib/. */
    private static void copiesClassPath() {
        List<ManifestCase> manifests = List.of(
                new ManifestCase("continuation lines and CRLF; a section's Class-Path stays",
                        "Manifest-Version: 1.0\r\nClass-Path: a.jar /usr/share/java/b\r\n .jar\r\nMain-Class: x.Main\r\n\r\n"
                                + "Name: x/\r\nClass-Path: c.jar\r\n",
                        "Manifest-Version: 1.0\r\nMain-Class: x.Main\r\n\r\nName: x/\r\nClass-Path: c.jar\r\n"),
                new ManifestCase("any case; the other attributes untouched",
                        "Manifest-Version: 1.0\nclass-PATH: ../b.jar\nMulti-Release: true\nX-Class-Path: y\n",
                        "Manifest-Version: 1.0\nMulti-Release: true\nX-Class-Path: y\n"),
                new ManifestCase("bare CR line ends", "Class-Path: a.jar\rMain-Class: x.Main\r", "Main-Class: x.Main\r"),
                new ManifestCase("no line end after the last line", "Manifest-Version: 1.0\nClass-Path: a.jar",
                        "Manifest-Version: 1.0\n"),
                new ManifestCase("no Class-Path", "Manifest-Version: 1.0\n\nName: x/\nClass-Path: c.jar\n", null));
        for (ManifestCase c : manifests) {
            byte[] in = c.manifest().getBytes(java.nio.charset.StandardCharsets.UTF_8);
            byte[] out = JarCopies.withoutClassPath(in);
            if (c.wanted() == null) {
                check(out == in, c.name() + ": the manifest is left as it is");
            } else {
                same(new String(out, java.nio.charset.StandardCharsets.UTF_8), c.wanted(), c.name());
            }
        }
        List<EntryCase> entries = List.of(
                new EntryCase("c.jar", false),
                new EntryCase("sub/c.jar", false),
                new EntryCase("../c.jar", true),
                new EntryCase("sub/../../c.jar", true),
                new EntryCase("%2E%2E/c.jar", true),
                new EntryCase("/usr/share/java/c.jar", true),
                new EntryCase("file:/usr/share/java/c.jar", true),
                new EntryCase("file://localhost/usr/share/java/c.jar", true),
                new EntryCase("file://build-host/c.jar", false),
                new EntryCase("https://example.org/c.jar", false));
        for (EntryCase c : entries) {
            boolean leaves = !JarCopies.leavingLib(List.of(c.entry()), Path.of("/opt/app/lib/signed.jar")).isEmpty();
            check(leaves == c.leaves(), "Class-Path entry " + c.entry() + " of lib/signed.jar should "
                    + (c.leaves() ? "" : "not ") + "count as leaving lib/");
        }
    }

    /** A jar with app/Main.class, Main-Class app.Main and the given Class-Path (none when null). */
    private static void jar(Path file, String classPath) throws IOException {
        Manifest manifest = new Manifest();
        manifest.getMainAttributes().put(Attributes.Name.MANIFEST_VERSION, "1.0");
        manifest.getMainAttributes().put(Attributes.Name.MAIN_CLASS, "app.Main");
        if (classPath != null) {
            manifest.getMainAttributes().put(Attributes.Name.CLASS_PATH, classPath);
        }
        try (OutputStream out = Files.newOutputStream(file); JarOutputStream jar = new JarOutputStream(out, manifest)) {
            jar.putNextEntry(new JarEntry("app/Main.class"));
            jar.closeEntry();
        }
    }
}
