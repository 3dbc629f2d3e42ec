// tools/release: the shipping tools as the package corvane-tools, made with the tools' own
// packaging flow. The package holds, under /opt/corvane-tools, the launcher that assemble
// copies into trees, this program as one jar on a Java runtime of its own, and the files
// the subcommands read (templates, the bridge's and the API's sources, maintainer scripts);
// /usr/bin/corvane-ship, its man pages and bash completion beside.
package com.vellumbry.corvane.ship;

import java.io.IOException;
import java.net.URISyntaxException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.time.Instant;
import java.time.ZoneOffset;
import java.time.ZonedDateTime;
import java.time.format.DateTimeFormatter;
import java.util.ArrayList;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.Set;

final class MakeRelease {
    static final String NAME = "corvane-tools";
    /** What the jar's program needs of the Java runtime (Icon scales images with java.desktop; its archive wants logging). */
    private static final String TOOL_MODULES = "java.base,java.desktop,java.logging";
    /** The Maven plugin's folder in a repository: the release carries it in a repository of its own. */
    private static final String MAVEN_PLUGIN = "com/vellumbry/corvane/corvane-maven-plugin";
    /** The libraries a shipped launcher may need: glibc's own. */
    private static final Set<String> GLIBC = Set.of("libc.so.6", "ld-linux-x86-64.so.2", "ld-linux-aarch64.so.1",
            "libm.so.6", "libdl.so.2", "libpthread.so.0", "librt.so.1");
    /** The checkout's files the subcommands read, below its root. */
    private static final List<String> TOOL_FILES = List.of("tools/ship/templates", "tools/lib/default-icon.svg",
            "tools/lib/start-xvfb",
            "bridge", "api/contract.txt", "api/src", "maintainer-scripts");
    /** What the subcommands run, by format: assemble's JDK tools aside, package's needs are hard. */
    private static final Map<String, List<String>> DEPENDS = Map.of(
            "deb", List.of("binutils", "dpkg-dev", "rpm", "tar"),
            "rpm", List.of("/usr/bin/readelf", "/usr/bin/strip", "/usr/bin/dpkg-deb", "/usr/bin/dpkg-shlibdeps",
                    "/usr/bin/rpmbuild", "/usr/bin/tar"));
    /** What some runs need: a JDK to link with, training's X server and window reader, publish's signer and indexer. */
    private static final Map<String, List<String>> RECOMMENDS = Map.of(
            "deb", List.of("openjdk-25-jdk-headless", "xvfb", "x11-utils", "gnupg", "createrepo-c"),
            "rpm", List.of("java-25-openjdk-devel", "/usr/bin/Xvfb", "/usr/bin/xwininfo", "/usr/bin/gpg",
                    "/usr/bin/createrepo_c"));

    private MakeRelease() {
    }

    static void run(String[] args, Console console) {
        CommandLine line = CommandLine.parse(args, Set.of("--out-dir", "--launcher", "--launcher-aarch64", "--jdk", "--maintainer", "--maven-repo"),
                Set.of("--quiet"), false);
        if (line.help()) {
            System.out.print(Templates.read("release-usage.txt"));
            return;
        }
        console.quiet(line.has("--quiet"));
        Path launcher = Path.of(required(line, "--launcher", "the launcher to ship")).toAbsolutePath();
        Path outDir = Path.of(required(line, "--out-dir", "where the packages go")).toAbsolutePath().normalize();
        Path mavenRepo = Path.of(required(line, "--maven-repo", "the Maven plugin, built into a repository folder"));
        if (!Files.isDirectory(mavenRepo.resolve(MAVEN_PLUGIN))) {
            throw Console.fail("no Maven plugin in " + mavenRepo + " (" + MAVEN_PLUGIN + "): build it with maven-plugin/install-into");
        }
        Jdk jdk = Jdk.at(Path.of(line.value("--jdk", Jdk.findDefault().map(Path::toString).orElseThrow(
                () -> Console.fail("no JDK found: set JAVA_HOME or pass --jdk")))));
        PackageFormat.ALL.forEach(PackageFormat::checkTools);
        PackageTree.makeOutDir(outDir);
        Workspace workspace = Workspace.create(outDir, NAME, "release", "cannot create a directory in " + outDir);
        Path stage = workspace.work();
        Path scratch = workspace.scratch();
        String version = launcherVersion(launcher, scratch);
        checkLauncher(launcher, scratch);
        Package p = facts(version, PackageOptions.maintainer(line, "Corvane developers <corvane@vellumbry.com>"));

        Path root = stage.resolve("root");
        Path opt = root.resolve("opt").resolve(NAME);
        copy(launcher, opt.resolve("corvane"), scratch);
        if (line.has("--launcher-aarch64")) {
            Path arm = Path.of(line.value("--launcher-aarch64", "")).toAbsolutePath();
            if (!ElfLibraries.machine(arm).equals("aarch64")) {
                throw Console.fail("--launcher-aarch64 " + arm + " is no aarch64 program");
            }
            checkLauncher(arm, scratch);
            copy(arm, opt.resolve("corvane-aarch64"), scratch);
        } else {
            console.line("NOTE: no --launcher-aarch64: the release assembles trees for x86-64 only");
        }
        toolJar(jdk, version, opt.resolve("lib/corvane-ship.jar"), scratch);
        console.say("tool jar lib/corvane-ship.jar " + version);
        jdk.toolOutput("jlink", List.of("--add-modules", TOOL_MODULES, "--strip-debug", "--no-header-files",
                "--no-man-pages", "--output", opt.resolve("jre").toString()), scratch, "jlink cannot make the tool's runtime");
        // The tools run headless: the runtime's X11 toolkit, splash screen and sound libraries never
        // load, and left in they would make the package depend on X and ALSA.
        for (String library : List.of("libawt_xawt.so", "libjawt.so", "libsplashscreen.so", "libjsound.so")) {
            delete(opt.resolve("jre/lib").resolve(library));
        }
        // Its default class-data archive: the command starts in a fraction of the time.
        Exec.output(List.of(opt.resolve("jre/bin/java").toString(), "-Xshare:dump"), scratch,
                "cannot dump the tool runtime's class-data archive");
        console.say("tool runtime jre/ (" + TOOL_MODULES + ") from " + jdk.home());
        copy(mavenRepo.resolve(MAVEN_PLUGIN), opt.resolve("maven-repo").resolve(MAVEN_PLUGIN), scratch);
        Path checkout = Templates.toolsDir().getParent();
        TOOL_FILES.forEach(file -> copy(checkout.resolve(file), opt.resolve(file), scratch));
        writeCommand(p, root, opt);
        PackageRoot.setModes(root);
        PackageRoot.executable(opt.resolve("bin").resolve(Main.COMMAND));
        PackageRoot.strip(opt, scratch);

        List<Path> made = new ArrayList<>();
        for (PackageFormat format : PackageFormat.ALL) {
            made.add(PackageTree.build(format, p, root, stage, scratch, Map.of(), DEPENDS.get(format.folder())).file());
        }
        made.add(PackageTree.tar(p, opt, stage, scratch));
        for (Path file : made) {
            workspace.moveFileInto(file, outDir.resolve(file.getFileName()));
        }
        console.say(NAME + " " + version + ": " + made.size() + " packages");
        made.forEach(file -> System.out.println(outDir.resolve(file.getFileName())));
    }

    private static String required(CommandLine line, String option, String what) {
        String value = line.value(option, "");
        if (value.isEmpty()) {
            throw Console.fail("no " + option + " given (" + what + "; see --help)");
        }
        return value;
    }

    /** The version the launcher prints: the project's version, which the release takes. */
    private static String launcherVersion(Path launcher, Path scratch) {
        if (!Files.isRegularFile(launcher) || !Files.isExecutable(launcher)) {
            throw Console.fail("launcher not found or not executable: " + launcher);
        }
        String printed = Exec.output(List.of(launcher.toString(), Contract.value("flag.version")), scratch,
                "the launcher " + launcher + " does not answer " + Contract.value("flag.version")).strip();
        if (!printed.matches("Corvane [0-9]+(\\.[0-9]+){3}")) {
            throw Console.fail("the launcher " + launcher + " prints '" + printed + "', not 'Corvane <version>'");
        }
        return printed.substring(printed.indexOf(' ') + 1);
    }

    /** A shipped launcher needs only glibc, is position independent, and binds and protects its relocations at load. */
    static void checkLauncher(Path launcher, Path scratch) {
        for (String library : ElfLibraries.needed(launcher, scratch)) {
            if (!GLIBC.contains(library)) {
                throw Console.fail("the launcher " + launcher + " needs " + library + "; a shipped launcher needs only glibc");
            }
        }
        String dynamic = Exec.output(List.of("readelf", "-d", "-l", "-h", launcher.toString()), scratch,
                "readelf cannot read " + launcher);
        Map<String, String> wanted = Map.of("^\\s*Type:\\s+DYN ", "position independent (PIE)",
                "\\(FLAGS_1\\).*\\bNOW\\b", "linked with -z now", "^\\s*GNU_RELRO\\b", "linked with -z relro");
        wanted.forEach((pattern, what) -> {
            if (!java.util.regex.Pattern.compile(pattern, java.util.regex.Pattern.MULTILINE).matcher(dynamic).find()) {
                throw Console.fail("the launcher " + launcher + " is not " + what + ": build it with tools/release");
            }
        });
    }

    /** This program's classes and the API's record reader, as the jar the installed command runs. */
    private static void toolJar(Jdk jdk, String version, Path jar, Path scratch) {
        Path classes;
        try {
            classes = Path.of(MakeRelease.class.getProtectionDomain().getCodeSource().getLocation().toURI());
        } catch (URISyntaxException | SecurityException e) {
            throw Console.fail("cannot find the tool's own classes: " + e.getMessage());
        }
        if (!Files.isDirectory(classes.resolve("com"))) {
            throw Console.fail("tools/release runs from the checkout's compiled classes, not from " + classes);
        }
        Path manifest = scratch.resolve("release-manifest.txt");
        try {
            Files.createDirectories(jar.getParent());
            Files.writeString(manifest, "Main-Class: " + Main.class.getName() + "\nImplementation-Title: " + Main.COMMAND
                    + "\nImplementation-Version: " + version + "\n", StandardCharsets.UTF_8);
        } catch (IOException e) {
            throw Console.fail("cannot write " + manifest + ": " + e.getMessage());
        }
        jdk.toolOutput("jar", List.of("--create", "--file", jar.toString(), "--manifest", manifest.toString(),
                "-C", classes.toString(), "com"), scratch, "cannot build lib/corvane-ship.jar");
    }

    /** The command, its link in /usr/bin, its man pages and completion, the package's documentation. */
    private static void writeCommand(Package p, Path root, Path opt) {
        PackageRoot.add(opt, "bin/" + Main.COMMAND, Templates.read("release/corvane-ship"));
        try {
            Files.createDirectories(root.resolve("usr/bin"));
            Files.createSymbolicLink(root.resolve("usr/bin").resolve(Main.COMMAND),
                    Path.of("/opt/" + NAME + "/bin/" + Main.COMMAND));
        } catch (IOException e) {
            throw Console.fail("cannot make the link /usr/bin/" + Main.COMMAND + ": " + e.getMessage());
        }
        String man = "usr/share/man/man1/";
        PackageRoot.add(root, man + Main.COMMAND + ".1.gz", PackageTree.gzip(manualPage(Main.COMMAND,
                "ship a Java desktop application with the corvane launcher", Templates.read("corvane-ship-usage.txt"), p)
                .getBytes(StandardCharsets.UTF_8)));
        Usage.SUBCOMMANDS.forEach((tool, sub) -> PackageRoot.add(root, man + Main.COMMAND + "-" + sub + ".1.gz",
                PackageTree.gzip(manualPage(Main.COMMAND + "-" + sub, summary(sub), Usage.text(tool, true), p)
                        .getBytes(StandardCharsets.UTF_8))));
        PackageRoot.add(root, "usr/share/bash-completion/completions/" + Main.COMMAND, completion());
        String doc = "usr/share/doc/" + NAME + "/";
        PackageRoot.add(root, doc + "copyright", DebianFiles.copyright(p));
        PackageRoot.add(root, doc + p.changelogFile(), PackageTree.gzip(DebianFiles.changelog(p).getBytes(StandardCharsets.UTF_8)));
    }

    private static String summary(String sub) {
        return switch (sub) {
            case "assemble" -> "build a corvane install tree from an application's jars";
            case "package" -> "make a .deb, an .rpm and a .tar.gz of a corvane install tree";
            default -> "add packages to a signed apt and rpm repository folder";
        };
    }

    /** A man page of a help text: its first line the synopsis, the rest as it stands. */
    static String manualPage(String name, String summary, String help, Package p) {
        List<String> lines = help.lines().toList();
        StringBuilder out = new StringBuilder();
        out.append(".TH ").append(name.toUpperCase(Locale.ROOT)).append(" 1 \"").append(p.date()).append("\" \"")
           .append(NAME).append(' ').append(p.version()).append("\"\n")
           .append(".SH NAME\n").append(name.replace("-", "\\-")).append(" \\- ").append(summary).append('\n')
           .append(".SH SYNOPSIS\n").append(DebianFiles.roff(lines.get(0).replaceFirst("^Usage: ", ""))).append('\n')
           .append(".SH DESCRIPTION\n.nf\n");
        lines.stream().skip(1).forEach(l -> out.append(DebianFiles.roff(l)).append('\n'));
        return out.append(".fi\n").toString();
    }

    /** The bash completion of the subcommands and each one's options, from their help texts. */
    static String completion() {
        StringBuilder cases = new StringBuilder();
        Usage.SUBCOMMANDS.forEach((tool, sub) -> cases.append("    ").append(sub).append(") options=\"")
                .append(String.join(" ", Usage.options(Usage.text(tool, true)))).append("\" ;;\n"));
        return Templates.fill(Templates.read("release/bash-completion"), Map.of(
                "SUBCOMMANDS", String.join(" ", Usage.SUBCOMMANDS.values()), "CASES", cases.toString().stripTrailing()));
    }

    private static Package facts(String version, String maintainer) {
        ZonedDateTime when = Instant.ofEpochSecond(PackageOptions.sourceDateEpoch()).atZone(ZoneOffset.UTC);
        return new Package(NAME, version, "Corvane tools", "Ship Java desktop applications with the corvane launcher",
                List.of("corvane-ship assembles an install tree of a Java desktop application (its jars, a Java runtime"
                        + " made for it and the corvane launcher), packages it as a .deb, an .rpm and a .tar.gz, and"
                        + " publishes the packages in signed apt and rpm repositories."),
                "Development;", maintainer, "the Corvane developers", "", "", "Apache-2.0", "com.vellumbry.corvane.tools",
                "", when.toLocalDate(), DateTimeFormatter.ofPattern("EEE, dd MMM yyyy HH:mm:ss Z", Locale.ROOT).format(when),
                List.of(), Map.of(), List.of(), List.of(), null, Jdk.HOST_ARCH, RECOMMENDS);
    }

    private static void delete(Path file) {
        try {
            Files.deleteIfExists(file);
        } catch (IOException e) {
            throw Console.fail("cannot remove " + file + ": " + e.getMessage());
        }
    }

    private static void copy(Path from, Path to, Path scratch) {
        try {
            Files.createDirectories(to.getParent());
        } catch (IOException e) {
            throw Console.fail("cannot create " + to.getParent() + ": " + e.getMessage());
        }
        Exec.output(List.of("cp", "-R", "--", from.toString(), to.toString()), scratch, "cannot copy " + from);
    }
}
