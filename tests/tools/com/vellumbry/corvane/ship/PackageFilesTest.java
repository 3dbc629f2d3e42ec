// A package's files from one set of facts: control, desktop entries, metainfo, MIME
// definitions, file names per version, the rpm recipe, and each format's file list.
package com.vellumbry.corvane.ship;

import java.nio.file.Path;
import java.time.LocalDate;
import java.util.List;

import static com.vellumbry.corvane.ship.Checks.check;
import static com.vellumbry.corvane.ship.Checks.same;

final class PackageFilesTest {
    private PackageFilesTest() {
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
                homepage.isEmpty() ? List.of() : List.of(DOC, PNG), homepage.isEmpty() ? List.of() : List.of("myapp"), null, "x86_64", java.util.Map.of());
    }

    static void run() {
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
        // name | upstream version, deb, tar folder, copy folder, changelog, rpm epoch ("-": none), rpm, flatpak
        String[][] versions = {
            {"1:2.0-1", "2.0-1", "my-app_2.0-1_amd64.deb", "my-app-2.0-1", "1_2.0-1", "changelog.Debian.gz", "1",
                "my-app-2.0-1.x86_64.rpm", "my-app-2.0-1-x86_64.flatpak"},
            {"2.0", "2.0", "my-app_2.0_amd64.deb", "my-app-2.0", "2.0", "changelog.gz", "-", "my-app-2.0-1.x86_64.rpm",
                "my-app-2.0-x86_64.flatpak"},
            {"1.0-rc-3", "1.0-rc-3", "my-app_1.0-rc-3_amd64.deb", "my-app-1.0-rc-3", "1.0-rc-3", "changelog.Debian.gz", "-",
                "my-app-1.0_rc-3.x86_64.rpm", "my-app-1.0-rc-3-x86_64.flatpak"},
        };
        FlatpakFormat flatpak = new FlatpakFormat(PackageOptions.FLATPAK_RUNTIME, List.of(), null);
        for (String[] row : versions) {
            Package p = sample("", row[0]);
            same(String.join(" ", p.upstreamVersion(), new DebFormat().fileName(p), p.tarFolder(), p.copyFolder(),
                    p.changelogFile(), p.rpmEpoch().isEmpty() ? "-" : p.rpmEpoch(), new RpmFormat().fileName(p),
                    flatpak.fileName(p)),
                    String.join(" ", List.of(row).subList(1, row.length)), "file names of version " + row[0]);
        }
        rpmFiles(full);
        formatFiles();
        same(DebianFiles.roff(".TH \\x"), "\\&.TH \\\\x", "manual page text cannot start a request");
        appIds();
    }

    private static void rpmFiles(Package full) {
        Package p = new Package(full.name(), full.version(), full.displayName(), "Edits 100% of things", full.paragraphs(),
                full.categories(), full.maintainer(), full.developer(), full.copyright(), full.homepage(), full.license(),
                full.appId(), full.windowClass(), full.date(), full.changelogDate(), full.commands(), full.menus(),
                full.fileTypes(), full.urlSchemes(), new UpdateSource("https://example.org/repo", List.of(Path.of("a"), Path.of("b"))), full.arch(), full.recommended());
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
        same(String.join("|", FlatpakFormat.listed("""
                d00755 0 0      0 /
                -00644 0 0    104 /metadata
                d00755 0 0      0 /files
                -00644 0 0   1200 /files/lib/my-app/a b.jar
                l00777 0 0      0 /files/bin/my-app -> ../lib/my-app/corvane
                """)), "/files|/files/bin/my-app|/files/lib/my-app/a b.jar|/metadata", "ostree ls -R's listing, the root left out");
        same(String.join(" ", new FlatpakFormat(PackageOptions.FLATPAK_RUNTIME, List.of(), null).runtimeRef(sample("", "2.0")),
                String.valueOf(FlatpakFormat.runtimeRepo("org.example.Platform"))),
                "org.freedesktop.Platform/x86_64/24.08 null", "the Flatpak's runtime ref; no runtime source but Flathub's");
    }

    private static List<String> plus(List<String> list, String item) {
        return java.util.stream.Stream.concat(list.stream(), java.util.stream.Stream.of(item)).toList();
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
}
