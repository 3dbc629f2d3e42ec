// tools/package: a Debian package, an rpm and a portable .tar.gz of an install tree, with
// menu entry, icon and AppStream metainfo. run reads as its steps: the shared files staged
// once, then each format (PackageFormat) adds its own, builds, and reads its package back.
package com.vellumbry.corvane.ship;

import java.io.IOException;
import java.io.OutputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.zip.Deflater;
import java.util.zip.GZIPOutputStream;

final class PackageTree {
    private PackageTree() {
    }

    static void run(String[] args, Console console) {
        PackageOptions options = PackageOptions.parse(args, console);
        if (options == null) {
            return;
        }
        Package p = options.facts();
        Icon icon = Icon.read(options.icon(), console);
        options.notes().forEach(console::say);
        makeOutDir(options.outDir());
        Workspace workspace = Workspace.create(options.outDir(), p.name(), "packaging",
                "cannot create a directory in " + options.outDir());
        Path stage = workspace.work();
        Path scratch = workspace.scratch();
        Path root = stage.resolve("root");
        Path opt = root.resolve("opt").resolve(p.name());

        copyTree(options.tree(), opt, scratch);
        // The installed tree goes by the package's name: its user's options and its instance socket too.
        options.record().withName(p.name()).write(opt);
        writeFiles(p, icon, root, opt, console);
        PackageRoot.setModes(root);
        PackageRoot.executable(opt.resolve("verify-copies"));
        PackageRoot.strip(opt, scratch);
        // dpkg and rpm install whole seconds, no later than SOURCE_DATE_EPOCH.
        ShippedArchive.make(options.record().withName(p.name()), opt, Path.of("/opt", p.name(), "versions", p.copyFolder()),
                PackageOptions.sourceDateEpoch(), scratch, console);
        List<Path> made = new ArrayList<>();
        String depends = "";
        for (PackageFormat format : options.formats()) {
            Built built = build(format, p, root, stage, scratch, scripts(p, format), List.of());
            made.add(built.file());
            // The report names them as Debian does.
            depends = format instanceof DebFormat ? String.join(", ", built.dependencies()) : depends;
        }
        made.add(makeTar(p, opt, stage, scratch));
        for (Path file : made) {
            workspace.moveFileInto(file, options.outDir().resolve(file.getFileName()));
        }

        console.say("window class " + p.windowClass() + ", AppStream id " + p.appId() + ", depends on: "
                + (depends.isEmpty() ? "nothing" : depends));
        made.forEach(file -> System.out.println(options.outDir().resolve(file.getFileName())));
    }

    /** A package file of one format and what it depends on, in that format's names. */
    record Built(Path file, List<String> dependencies) {
    }

    /**
     * Builds {@code format}'s package of the shared files staged at {@code root} (the programs
     * under opt/<name>): in a hard-link copy of them with the format's own files, depending on what
     * those programs need and {@code moreDependencies}; read back and checked against what was staged.
     */
    static Built build(PackageFormat format, Package p, Path root, Path stage, Path scratch, Map<String, String> scripts,
                       List<String> moreDependencies) {
        Path formatRoot = stage.resolve(format.folder() + "-root");
        // Hard links: a format adds files, and gives a file an inode of its own before it changes it.
        Exec.output(List.of("cp", "-a", "--link", "--", root + "/.", formatRoot.toString()), scratch,
                "cannot stage the files of " + format.fileName(p));
        format.stage(p, formatRoot, scratch);
        List<String> staged = PackageRoot.listing(formatRoot);
        leaveOut(formatRoot);
        List<String> dependencies = new ArrayList<>(format.dependencies(formatRoot.resolve("opt").resolve(p.name()), scratch));
        dependencies.addAll(moreDependencies);
        Path file = format.build(p, formatRoot, dependencies, scripts, stage, scratch);
        String difference = PackageFormat.difference(format.wanted(p, staged), format.readBack(file, scratch));
        if (difference != null) {
            throw Console.fail("read back, " + file.getFileName() + " " + difference);
        }
        return new Built(file, dependencies);
    }

    /**
     * A test's way to make the formats leave out a staged file, which the read-back must
     * then find missing: CORVANE_TEST_LEAVE_OUT names it below the package root.
     */
    private static void leaveOut(Path root) {
        String path = System.getenv().getOrDefault("CORVANE_TEST_LEAVE_OUT", "");
        Path file = root.resolve(path).normalize();
        if (!path.isEmpty() && file.startsWith(root)) {
            Workspace.removeTree(file);
        }
    }

    /** The format's maintainer scripts from their templates, with the version copies' shell functions. */
    private static Map<String, String> scripts(Package p, PackageFormat format) {
        Map<String, String> values = scriptValues(p);
        Map<String, String> scripts = new LinkedHashMap<>();
        for (String script : format.scripts()) {
            scripts.put(script, Templates.fill(Templates.maintainerScript(format.folder() + "/" + script), values));
        }
        return scripts;
    }

    private static Map<String, String> scriptValues(Package p) {
        Map<String, String> values = new HashMap<>(Map.of("NAME", p.name(), "VERSION", p.version(), "COPY", p.copyFolder()));
        values.put("VERSIONS_FUNCTIONS", Templates.fill(Templates.maintainerScript("versions.sh"), values));
        return values;
    }

    /** Makes the output folder; those of its folders this run made go again when it fails (they are empty then). */
    static void makeOutDir(Path dir) {
        List<Path> made = new ArrayList<>();
        for (Path d = dir; d != null && !Files.exists(d, LinkOption.NOFOLLOW_LINKS); d = d.getParent()) {
            made.add(d);
        }
        Workspace.atExit(() -> made.forEach(d -> {
            try {
                Files.deleteIfExists(d);
            } catch (IOException e) {
                // Not empty: it holds the finished files.
            }
        }));
        try {
            Files.createDirectories(dir);
        } catch (IOException e) {
            throw Console.fail("output folder not writable: " + dir + ": " + e.getMessage());
        }
    }

    /** The tree as it is: links, modes and time stamps kept (the trained archives check the jars' times). */
    private static void copyTree(Path tree, Path opt, Path scratch) {
        try {
            Files.createDirectories(opt.getParent());
        } catch (IOException e) {
            throw Console.fail("cannot create " + opt.getParent() + ": " + e.getMessage());
        }
        Exec.output(List.of("cp", "-a", "--", tree.toString(), opt.toString()), scratch, "cannot copy the tree " + tree);
    }

    /** Everything around the tree that every format carries: commands, menu entries, icons, metainfo, documentation. */
    private static void writeFiles(Package p, Icon icon, Path root, Path opt, Console console) {
        Path doc = root.resolve("usr/share/doc").resolve(p.name());
        write(opt.resolve("verify-copies"), Templates.fill(Templates.maintainerScript("verify-copies"), scriptValues(p)));
        link(root.resolve("usr/bin").resolve(p.name()), "/opt/" + p.name() + "/current/corvane");
        String definitions = FileTypes.definitions(p.fileTypes(), FileTypes.systemTypes());
        if (!definitions.isEmpty()) {
            write(root.resolve("usr/share/mime/packages").resolve(p.appId() + ".xml"), definitions);
        }
        for (FileTypes.FileType type : p.fileTypes()) {
            if (!type.icon().isEmpty()) {
                Icon typeIcon = Icon.read(Path.of(type.icon()), console);
                write(root.resolve("usr/share/icons/hicolor").resolve(typeIcon.folder()).resolve("mimetypes")
                        .resolve(FileTypes.iconName(type.mimeType()) + "." + typeIcon.extension()), typeIcon.data());
            }
        }
        for (TreeRecord.Command command : p.commands()) {
            // Started under its own name, the launcher's bridge runs the command's main class.
            link(root.resolve("usr/bin").resolve(command.name()), "/opt/" + p.name() + "/current/corvane");
            if (p.menus().containsKey(command.name())) {
                write(root.resolve("usr/share/applications").resolve(p.menuId(command.name()) + ".desktop"),
                        DesktopFiles.commandEntry(p, command));
            }
        }
        write(root.resolve("usr/share/icons/hicolor").resolve(icon.folder()).resolve("apps")
                .resolve(p.name() + "." + icon.extension()), icon.data());
        write(root.resolve("usr/share/applications").resolve(p.appId() + ".desktop"), DesktopFiles.desktopEntry(p));
        write(root.resolve("usr/share/metainfo").resolve(p.appId() + ".metainfo.xml"), DesktopFiles.metainfo(p));
        write(doc.resolve("copyright"), DebianFiles.copyright(p));
        write(doc.resolve(p.changelogFile()), gzip(DebianFiles.changelog(p)));
        write(root.resolve("usr/share/man/man1").resolve(p.name() + ".1.gz"), gzip(DebianFiles.manualPage(p)));
    }

    /** The tree in <name>-<version>/ with a <name> link to its launcher. */
    private static Path makeTar(Package p, Path opt, Path stage, Path scratch) {
        try {
            Files.delete(opt.resolve("verify-copies"));
            // Made for the package's install path only: a tar unpacks anywhere.
            Files.deleteIfExists(opt.resolve(ShippedArchive.ARCHIVE));
            Files.deleteIfExists(opt.resolve(ShippedArchive.RECORD));
            Files.createSymbolicLink(opt.resolve(p.name()), Path.of("corvane"));
        } catch (IOException e) {
            throw Console.fail("cannot make " + p.tarFile() + ": " + e.getMessage());
        }
        return tar(p, opt, stage, scratch);
    }

    /** {@code folder}, renamed to <name>-<version>/, in the package's .tar.gz in {@code stage}. */
    static Path tar(Package p, Path folder, Path stage, Path scratch) {
        try {
            Files.move(folder, stage.resolve(p.tarFolder()));
        } catch (IOException e) {
            throw Console.fail("cannot make " + p.tarFile() + ": " + e.getMessage());
        }
        Path tar = stage.resolve(p.tarFile());
        // As dpkg-deb does: times no later than SOURCE_DATE_EPOCH, so that the same input gives the same file.
        Exec.output(List.of("tar", "-C", stage.toString(), "--owner=0", "--group=0", "--numeric-owner", "--sort=name",
                "--mtime=@" + PackageOptions.sourceDateEpoch(), "--clamp-mtime", "-czf", tar.toString(), p.tarFolder()),
                scratch, "cannot make " + p.tarFile());
        return tar;
    }

    private static byte[] gzip(String text) {
        return gzip(text.getBytes(StandardCharsets.UTF_8));
    }

    static byte[] gzip(byte[] content) {
        java.io.ByteArrayOutputStream bytes = new java.io.ByteArrayOutputStream();
        try (OutputStream out = new GZIPOutputStream(bytes) {
            {
                def.setLevel(Deflater.BEST_COMPRESSION);
            }
        }) {
            out.write(content);
        } catch (IOException e) {
            throw new IllegalStateException(e);
        }
        // The header says what gzip -9n says: best compression (XFL 2), made on Unix (OS 3).
        byte[] data = bytes.toByteArray();
        data[8] = 2;
        data[9] = 3;
        return data;
    }

    private static void write(Path file, String text) {
        write(file, text.getBytes(StandardCharsets.UTF_8));
    }

    private static void write(Path file, byte[] data) {
        try {
            Files.createDirectories(file.getParent());
            Files.write(file, data);
        } catch (IOException e) {
            throw Console.fail("cannot write " + file + ": " + e.getMessage());
        }
    }

    static void link(Path link, String target) {
        try {
            Files.createDirectories(link.getParent());
            Files.createSymbolicLink(link, Path.of(target));
        } catch (IOException e) {
            throw Console.fail("cannot make the link " + link + ": " + e.getMessage());
        }
    }
}
