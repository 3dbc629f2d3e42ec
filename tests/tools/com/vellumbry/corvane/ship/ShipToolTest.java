// The shipping program's pure parts against written-out expectations: the package's
// files, the tree's record, how jars' Class-Path entries are followed (and left out of
// the tree's copies), the runtime's module choice, and the repository's index files and
// version order.
package com.vellumbry.corvane.ship;

import java.io.IOException;
import java.io.OutputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.time.LocalDate;
import java.util.List;
import java.util.jar.Attributes;
import java.util.jar.JarEntry;
import java.util.jar.JarOutputStream;
import java.util.jar.Manifest;
import java.util.stream.Collectors;

public final class ShipToolTest {
    private static int failures;

    public static void main(String[] args) throws IOException {
        packageFiles();
        appIds();
        treeRecord();
        contract();
        classPathRules();
        runtimeModules();
        repositoryFiles();
        pruning();
        System.out.println(failures == 0 ? "all checks passed" : failures + " check(s) failed");
        System.exit(failures == 0 ? 0 : 1);
    }

    private static void check(boolean ok, String what) {
        if (!ok) {
            failures++;
            System.out.println("FAIL: " + what);
        }
    }

    private static void same(String actual, String wanted, String what) {
        check(actual.equals(wanted), what + ":\n--- got\n" + actual + "\n--- wanted\n" + wanted);
    }

    private static final FileTypes.FileType DOC = FileTypes.parse("application/x-my-app;mya,myapp;My <App> document");
    private static final FileTypes.FileType PNG = FileTypes.parse("image/png;png;PNG image;icon.svg");
    private static final TreeRecord.Command TOOL = new TreeRecord.Command("my-tool", "org.example.Tool", "org-example-Tool");

    private static Package sample(String homepage, String version) {
        return new Package("my-app", version, "My <App> & Co", "Edits things", List.of(
                "First paragraph, long enough to be wrapped by the control file's writer at seventy-eight characters.",
                "Second."), "Office;", "Jane Doe <jane@example.org>", "Jane Doe", "2024 Jane Doe", homepage,
                "GPL-3.0-or-later", "org.example.my_app", "org-example-Main", LocalDate.of(2026, 12, 7),
                "Mon, 07 Dec 2026 10:00:00 +0000", List.of(TOOL), java.util.Map.of("my-tool", "My Tool"),
                homepage.isEmpty() ? List.of() : List.of(DOC, PNG), homepage.isEmpty() ? List.of() : List.of("myapp"), null);
    }

    private static void packageFiles() {
        Package full = sample("https://example.org/app", "1:2.0-1");
        same(DebFormat.control(full, List.of("libc6 (>= 2.36)", "libx11-6"), 12345), """
                Package: my-app
                Version: 1:2.0-1
                Architecture: amd64
                Maintainer: Jane Doe <jane@example.org>
                Installed-Size: 12345
                Depends: libc6 (>= 2.36), libx11-6
                Recommends: desktop-file-utils, shared-mime-info
                Section: misc
                Priority: optional
                Homepage: https://example.org/app
                Description: Edits things
                 First paragraph, long enough to be wrapped by the control file's writer at
                 seventy-eight characters.
                 .
                 Second.
                """, "control file (its template) with every field");
        String bare = DebFormat.control(sample("", "2.0"), List.of(), 1);
        check(!bare.contains("Depends:") && !bare.contains("Homepage:"), "control file without depends or homepage: " + bare);
        same(DesktopFiles.desktopEntry(full), """
                [Desktop Entry]
                Type=Application
                Name=My <App> & Co
                Comment=Edits things
                Exec=my-app %U
                Icon=my-app
                Terminal=false
                Categories=Office;
                StartupWMClass=org-example-Main
                MimeType=application/x-my-app;image/png;x-scheme-handler/myapp;
                """, "desktop entry that opens files and links");
        check(DesktopFiles.desktopEntry(sample("", "2.0")).lines().noneMatch(l -> l.startsWith("MimeType=") || l.contains("%")),
                "a desktop entry without file types opens nothing");
        same(FileTypes.execArguments(List.of(DOC), List.of()), " %F", "files alone are passed as paths");
        same(FileTypes.definitions(List.of(DOC, PNG), java.util.Set.of("image/png")), """
                <?xml version="1.0" encoding="UTF-8"?>
                <mime-info xmlns="http://www.freedesktop.org/standards/shared-mime-info">
                  <mime-type type="application/x-my-app">
                    <comment>My &lt;App&gt; document</comment>
                    <glob pattern="*.mya"/>
                    <glob pattern="*.myapp"/>
                  </mime-type>
                </mime-info>
                """, "MIME definitions of the types the system does not know");
        same(FileTypes.definitions(List.of(PNG), java.util.Set.of("image/png")), "", "no definition of known types only");
        same(DesktopFiles.commandEntry(full, TOOL) + full.menuId("my-tool"), """
                [Desktop Entry]
                Type=Application
                Name=My Tool
                Comment=Edits things
                Exec=my-tool
                Icon=my-app
                Terminal=false
                Categories=Office;
                StartupWMClass=org-example-Tool
                org.example.my_app.my_tool""", "a further command's menu entry and its id");
        String metainfo = DesktopFiles.metainfo(full);
        for (String line : List.of("  <id>org.example.my_app</id>", "  <name>My &lt;App&gt; &amp; Co</name>",
                "  <developer id=\"org.example\">", "    <name>Jane Doe</name>",
                "  <url type=\"homepage\">https://example.org/app</url>",
                "    <release version=\"1:2.0-1\" date=\"2026-12-07\"/>", "    <p>Second.</p>")) {
            check(metainfo.lines().anyMatch(line::equals), "metainfo lacks '" + line + "':\n" + metainfo);
        }
        check(!metainfo.contains("developer_name") && !DesktopFiles.metainfo(sample("", "2.0")).contains("<url"),
                "metainfo: no deprecated developer_name, no url without a homepage");
        // name | upstream version, deb, tar folder, copy folder, changelog, rpm epoch ("-": none), rpm
        String[][] versions = {
            {"1:2.0-1", "2.0-1", "my-app_2.0-1_amd64.deb", "my-app-2.0-1", "1_2.0-1", "changelog.Debian.gz", "1",
                "my-app-2.0-1.x86_64.rpm"},
            {"2.0", "2.0", "my-app_2.0_amd64.deb", "my-app-2.0", "2.0", "changelog.gz", "-", "my-app-2.0-1.x86_64.rpm"},
            {"1.0-rc-3", "1.0-rc-3", "my-app_1.0-rc-3_amd64.deb", "my-app-1.0-rc-3", "1.0-rc-3", "changelog.Debian.gz", "-",
                "my-app-1.0_rc-3.x86_64.rpm"},
        };
        for (String[] row : versions) {
            Package p = sample("", row[0]);
            same(String.join(" ", p.upstreamVersion(), new DebFormat().fileName(p), p.tarFolder(), p.copyFolder(),
                    p.changelogFile(), p.rpmEpoch().isEmpty() ? "-" : p.rpmEpoch(), new RpmFormat().fileName(p)),
                    String.join(" ", List.of(row).subList(1, row.length)), "file names of version " + row[0]);
        }
        rpmFiles(full);
        formatFiles();
        same(DebianFiles.roff(".TH \\x"), "\\&.TH \\\\x", "manual page text cannot start a request");
    }

    private static void rpmFiles(Package full) {
        Package p = new Package(full.name(), full.version(), full.displayName(), "Edits 100% of things", full.paragraphs(),
                full.categories(), full.maintainer(), full.developer(), full.copyright(), full.homepage(), full.license(),
                full.appId(), full.windowClass(), full.date(), full.changelogDate(), full.commands(), full.menus(),
                full.fileTypes(), full.urlSchemes(), new UpdateSource("https://example.org/repo", List.of(Path.of("a"), Path.of("b"))));
        String recipe = RpmFormat.buildRecipe(p, "'/stage/rpm-root'", List.of("libc.so.6()(64bit)", "font(:lang=en)"),
                List.of("usr/share/doc/my-app/copyright", "opt/my-app", "usr/bin/my-app", "etc/yum.repos.d/my-app.repo",
                        "usr/share/doc/my-app/changelog.Debian.gz"), java.util.Map.of("posttrans", "", "preun", "", "postun", ""));
        same(recipe.substring(recipe.indexOf("Name:"), recipe.indexOf("%install")), """
                Name: my-app
                Epoch: 1
                Version: 2.0
                Release: 1
                Summary: Edits 100%% of things
                License: GPL-3.0-or-later
                Group: Applications
                URL: https://example.org/app
                Packager: Jane Doe <jane@example.org>
                Requires(posttrans): /usr/bin/flock, /usr/bin/setsid, /usr/bin/awk
                Requires(preun): /usr/bin/flock
                Requires: libc.so.6()(64bit)
                Requires: font(:lang=en)
                Recommends: desktop-file-utils, shared-mime-info

                %description
                First paragraph, long enough to be wrapped by the control file's writer at
                seventy-eight characters.

                Second.

                """, "rpm build recipe's header");
        same(recipe.substring(recipe.indexOf("%files")), """
                %files
                %defattr(-,root,root,-)
                %dir /usr/share/doc/my-app
                %config(noreplace) /etc/yum.repos.d/my-app.repo
                /opt/my-app
                /usr/bin/my-app
                %doc /usr/share/doc/my-app/changelog.Debian.gz
                %license /usr/share/doc/my-app/copyright

                %changelog
                * Mon Dec 07 2026 Jane Doe <jane@example.org> - 1:2.0-1
                - Packaged with corvane's tools/package.
                """, "rpm build recipe's files and changelog");
        same(RpmFormat.repoFile(p, RpmFormat.keyFiles(p)), """
                [my-app]
                name=My <App> & Co
                baseurl=https://example.org/repo/rpm
                enabled=1
                gpgcheck=0
                repo_gpgcheck=1
                gpgkey=file:///etc/pki/rpm-gpg/RPM-GPG-KEY-my-app file:///etc/pki/rpm-gpg/RPM-GPG-KEY-my-app-2
                """, "yum repository entry");
    }

    private record ListCase(String what, List<String> staged, List<String> deb, List<String> rpm) {
    }

    /** What the read-back compares: each format's file list from the staged paths, and dpkg-deb's listing parsed. */
    private static void formatFiles() {
        Package p = sample("", "1:2.0");
        List<String> tree = List.of("opt/", "opt/my-app/", "opt/my-app/a b.jar", "opt/my-app/lib/", "usr/", "usr/bin/",
                "usr/bin/my-app", "usr/share/", "usr/share/doc/", "usr/share/doc/my-app/");
        List<String> debTree = List.of("/opt", "/opt/my-app", "/opt/my-app/a b.jar", "/opt/my-app/lib", "/usr", "/usr/bin",
                "/usr/bin/my-app", "/usr/share", "/usr/share/doc", "/usr/share/doc/my-app");
        List<ListCase> cases = List.of(
                new ListCase("the rpm owns the tree's folders, no documentation folder without documents", tree, debTree,
                        List.of("/opt/my-app", "/opt/my-app/a b.jar", "/opt/my-app/lib", "/usr/bin/my-app")),
                new ListCase("with documents the rpm owns their folder", plus(tree, "usr/share/doc/my-app/copyright"),
                        plus(debTree, "/usr/share/doc/my-app/copyright"), List.of("/opt/my-app", "/opt/my-app/a b.jar",
                                "/opt/my-app/lib", "/usr/bin/my-app", "/usr/share/doc/my-app", "/usr/share/doc/my-app/copyright")));
        for (ListCase c : cases) {
            same(String.join("|", new DebFormat().wanted(p, c.staged()).files()), String.join("|", c.deb()), "deb: " + c.what());
            same(String.join("|", new RpmFormat().wanted(p, c.staged()).files()), String.join("|", c.rpm()), "rpm: " + c.what());
        }
        same(String.join("|", DebFormat.listed("""
                drwxr-xr-x root/root         0 2026-12-07 10:00 ./
                drwxr-xr-x root/root         0 2026-12-07 10:00 ./opt/
                -rw-r--r-- root/root      1200 2026-12-07 10:00 ./opt/a b\\\\\\303\\274.jar
                hrw-r--r-- root/root         0 2026-12-07 10:00 ./opt/c link to ./opt/a b\\\\\\303\\274.jar
                lrwxrwxrwx root/root         0 2026-12-07 10:00 ./usr/bin/my-app -> /opt/my-app/current/corvane
                """)), "/opt|/opt/a b\\ü.jar|/opt/c|/usr/bin/my-app", "dpkg-deb's listing, tar's escapes undone");
    }

    private static List<String> plus(List<String> list, String item) {
        return java.util.stream.Stream.concat(list.stream(), java.util.stream.Stream.of(item)).toList();
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

    private static void appIds() {
        String[][] rows = {
            {"https://www.example.org/x", "my-app", "org.example.my_app"},
            {"http://www.cburch.com/logisim/", "corvane-logisim-test", "com.cburch.corvane_logisim_test"},
            {"https://my-site.example.org/", "7zip+gui", "org.example.my_site._7zip_gui"},
            {"", "x", ""},
            {"not a url", "x", ""},
        };
        for (String[] row : rows) {
            same(DesktopFiles.appId(row[0], row[1]), row[2], "app id of " + row[0]);
        }
        check(DesktopFiles.isAppId("org.example.app") && !DesktopFiles.isAppId("app") && !DesktopFiles.isAppId("org..x"),
                "reverse-DNS ids");
    }

    private static void treeRecord() {
        TreeRecord bridge = new TreeRecord("my-app", "1.0.0.0", "25.0.3", "org.example.Main", "org-example-Main",
                "trained", List.of("classes_coh.jsa", "classes.jsa"), "jre/lib/server/trained-classes.lst",
                List.of(new TreeRecord.Command("my-tool", "org.example.Tool", "org-example-Tool")), true,
                "lib/splash/my splash.png", "java",
                List.of("--data=${INSTALL_DIR}/share", "two  words", "100%", "%20", "tab\there", "+plus", "ünï"),
                "${HOME}/.my-app");
        TreeRecord own = new TreeRecord("x", "1.0.0.0", "25", "", TreeRecord.ENTRY_WINDOW_CLASS, "none", List.of(), "",
                List.of(), false, "", "", List.of(), "");
        for (TreeRecord record : List.of(bridge, own)) {
            check(TreeRecord.parse(record.text(), "test").equals(record), "record read back as written: " + record.text());
        }
        check(TreeRecord.parse(own.text().replaceAll("(?m)^commands=.*\n", ""), "test").equals(own),
                "a record without commands has none");
        check(bridge.text().contains("\nsingle-instance=yes\n") && !own.text().contains("single-instance"),
                "single-instance is written only when asked for");
        check(bridge.text().contains("\nsplash=lib/splash/my splash.png\n") && !own.text().contains("splash"),
                "splash is written only for a tree with a splash image");
        check(!TreeRecord.parse(bridge.text().replace("single-instance=yes\n", ""), "test").singleInstance(),
                "a record without single-instance says no");
        check(bridge.text().contains("\narguments=--data=${INSTALL_DIR}/share two%20%20words 100%25 %2520 tab%09here"
                + " +plus ünï\n") && !own.text().contains("arguments") && !own.text().contains("heap")
                && !own.text().contains("working-dir"), "arguments, heap and working folder are written only when set");
        // One line of xwininfo -tree each: the window class it names, or none.
        String[][] windows = {
            {"     0x400008 \"Logisim: main of Untitled\": (\"com-cburch-logisim-Main\" \"com-cburch-logisim-Main\")  640x480+0+0  +0+0", "com-cburch-logisim-Main"},
            {"  0x1a00003 (has no name): (\"TuxGuitar\" \"TuxGuitar\")  1x1+0+0  +0+0", "TuxGuitar"},
            {"     0x200001 \"a: (\"b\" \"c\")\": (\"name\" \"Class\")  10x10+0+0  +0+0", "Class"},
            {"     0x400001 (has no name): ()  1x1+-1+-1  +-1+-1", ""},
            {"  Root window id: 0x3ba (the root window) (has no name)", ""},
        };
        for (String[] row : windows) {
            same(WindowWatch.classOf(row[0]), row[1], "window class of: " + row[0]);
        }
        check(own.providesEntry() && !bridge.providesEntry() && bridge.trained() && !own.trained(), "record's questions");
        String older = bridge.text().replaceAll("(?m)^window-class=.*\n", "");
        String other = bridge.text().replace("format=1", "format=2");
        for (String text : List.of(older, other)) {
            try {
                TreeRecord.parse(text, "test");
                check(false, "a record without a key or of another format is refused");
            } catch (Failure f) {
                check(f.getMessage().contains("assemble the tree again"), "the refusal says how to mend it: " + f.getMessage());
            }
        }
    }

    /** The copies of the contract's values that cannot read api/contract.txt agree with it. */
    private static void contract() {
        java.util.Set<String> flags = new java.util.TreeSet<>();
        Contract.flagLines().forEach(line -> flags.add(line.substring(line.indexOf('=') + 1)));
        java.util.Set<String> api = new java.util.TreeSet<>();
        try {
            for (String field : List.of("FLAGS", "WAIT_FOR_PID", "JVM_ARGS_PREFIX")) {
                java.lang.reflect.Field f = com.vellumbry.corvane.api.SingleInstance.class.getDeclaredField(field);
                f.setAccessible(true);
                Object value = f.get(null);
                if (value instanceof java.util.Set<?> set) {
                    set.forEach(v -> api.add((String) v));
                } else {
                    api.add((String) value);
                }
            }
        } catch (ReflectiveOperationException e) {
            check(false, "the API's flags: " + e);
        }
        same(String.join(" ", api), String.join(" ", flags), "the API's launcher flags are the contract's");
        // Every key the launcher reads is one the tools write.
        String written = new TreeRecord("n1", "1", "25", "a.B", "a-B", "trained", List.of(), "list", List.of(), true,
                "lib/splash/s.png", "java", List.of("x"), "${HOME}").text();
        for (String key : Contract.value("record.keys").split(" ")) {
            check(written.contains("\n" + key + "="), "the record holds the key the launcher reads: " + key);
        }
        Path tools = Templates.toolsDir();
        for (String app : List.of("demo/src", "testapp/src")) {
            Path entry = tools.resolve("..").resolve(app).resolve(Contract.value("entry.class").replace('.', '/') + ".java");
            check(Files.isRegularFile(entry), "the contract's entry class is implemented at " + entry);
        }
        check(Exec.read(tools.resolve("lib/find-jdk")).contains("jdk\\.minimum="), "find-jdk takes the minimum JDK from the contract");
    }

    private static void classPathRules() throws IOException {
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
        } finally {
            Workspace.removeTree(dir);
        }
        copiesClassPath();
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

    private static void runtimeModules() {
        // A JDK as JdkModules.main prints it: name, resolved for a class-path application, requires, packages.
        JdkModules jdk = JdkModules.parse(String.join("\n",
                "java.base\t1\t\tjava.lang,java.util",
                "java.desktop\t1\tjava.base\tjava.awt",
                "java.logging\t1\tjava.base\tjava.util.logging",
                "java.naming\t1\tjava.base\tjavax.naming",
                "java.sql\t1\tjava.base,java.logging\tjava.sql",
                "jdk.compiler\t1\tjava.base,jdk.internal.opt\tcom.sun.tools.javac",
                "jdk.internal.opt\t1\tjava.base\tjdk.internal.opt",
                "jdk.jlink\t1\tjava.base,jdk.internal.opt\tjdk.tools.jlink",
                "jdk.jshell\t1\tjava.base,jdk.compiler,jdk.jdi\tjdk.jshell",
                "jdk.jdi\t1\tjava.base\tcom.sun.jdi",
                "jdk.localedata\t1\tjava.base\tsun.util.resources.provider",
                "jdk.unsupported\t1\tjava.base\tsun.misc",
                "jdk.zipfs\t1\tjava.base\tjdk.nio.zipfs",
                "jdk.incubator.thing\t0\tjava.base\tjdk.incubator.thing",
                "jdk.jcmd\t0\tjava.base,jdk.jdi\tsun.tools.jcmd",
                "OpenJDK 64-Bit Server VM warning: a line of another form"));
        same(String.join(",", RuntimeImage.defaultModules(jdk)), "java.base,java.desktop,java.logging,java.naming,"
                + "java.sql,jdk.compiler,jdk.internal.opt,jdk.localedata,jdk.unsupported,jdk.zipfs",
                "default: what java resolves, less the tools, with what the kept ones require");
        // The named modules (manifests, bridge, --add-modules) are java.naming in every case.
        record Case(String name, boolean minimal, String jdepsError, List<String> jdeps, List<String> trained, String wanted) {
        }
        String all = "java.base,java.desktop,java.logging,java.naming,java.sql,jdk.compiler,jdk.internal.opt,"
                + "jdk.localedata,jdk.unsupported,jdk.zipfs";
        List<Case> cases = List.of(
                new Case("default", false, "", List.of(), List.of(), all),
                new Case("default with a tool the jars use", false, "", List.of("jdk.jshell"), List.of(),
                        "java.base,java.desktop,java.logging,java.naming,java.sql,jdk.compiler,jdk.internal.opt,jdk.jdi,"
                        + "jdk.jshell,jdk.localedata,jdk.unsupported,jdk.zipfs"),
                new Case("minimal", true, "", List.of("java.sql"), List.of(),
                        "java.base,java.desktop,java.logging,java.naming,java.sql,jdk.localedata,jdk.unsupported"),
                new Case("minimal with a training run's modules", true, "", List.of(), List.of("jdk.zipfs"),
                        "java.base,java.desktop,java.logging,java.naming,jdk.localedata,jdk.unsupported,jdk.zipfs"),
                new Case("minimal when jdeps failed: the default", true, "Error: Module x not found", List.of(),
                        List.of(), all));
        for (Case c : cases) {
            RuntimeImage.Needs needs = new RuntimeImage.Needs(new java.util.TreeSet<>(c.jdeps()), c.jdepsError(),
                    java.util.Set.of("java.naming"));
            same(String.join(",", RuntimeImage.choose(jdk, needs, c.minimal(), c.trained())), c.wanted(), c.name());
        }
        same(String.join(",", jdk.modulesOfClassList("""
                # NOTE: Do not modify this file.
                java/lang/Object id: 0
                java/sql/Driver id: 1
                jdk/nio/zipfs/ZipFileSystem id: 2
                app/Main id: 3
                @lambda-proxy java/util/function/Function id: 4
                """)), "java.base,java.sql,jdk.zipfs", "the JDK modules of a training run's class list");
    }

    private static void repositoryFiles() {
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
                java.time.Instant.ofEpochSecond(1796671481)), List.of(packages)), """
                Origin: Example
                Label: Example apps
                Suite: stable
                Codename: stable
                Date: Mon, 07 Dec 2026 19:24:41 UTC
                Architectures: amd64
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
