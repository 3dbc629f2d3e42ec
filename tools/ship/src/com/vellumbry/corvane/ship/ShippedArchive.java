// The application class archive a package ships: dumped at packaging for the place the package
// installs the tree to (/opt/<name>/versions/<copy>, or the Flatpak's /app/lib/<name>), in a private
// mount namespace (or, for a place outside /opt, a bwrap sandbox) where the staged tree lies at that
// place, with the option list the tree's launcher gives there and the tree's
// trained class list; beside it the record of that start, which the launcher compares with its own
// start before it takes the archive. Without the means (an untrained tree, no namespaces) the
// package goes without it, with a note. Nothing of the host is mounted over outside the namespace.
package com.vellumbry.corvane.ship;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.attribute.FileTime;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.HashSet;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.concurrent.TimeUnit;
import java.util.stream.Stream;

public final class ShippedArchive {
    static final String ARCHIVE = Contract.value("archive.shipped");
    static final String RECORD = Contract.value("archive.shipped-record");
    /** The options whose values differ from start to start; the launcher leaves the same out of its record. */
    private static final List<String> PER_PROCESS = List.of("-XX:HeapDumpPath=", "-XX:ErrorFile=", "-Djava.io.tmpdir=");
    private static final int DUMP_SECONDS = 600;

    private ShippedArchive() {
    }

    /**
     * Makes the archive and its record in the staged tree {@code tree} for the place {@code target} the
     * package installs it to, whose files will have times no later than {@code newestTime}; or says why
     * the package goes without.
     */
    static void make(TreeRecord record, Path tree, Path target, long newestTime, Path scratch, Console console) {
        if (!record.trained() || record.trainingList().isEmpty()) {
            return;  // PackageOptions has noted it: no training list, no archive
        }
        boolean belowOpt = target.startsWith("/opt");
        String missing = belowOpt ? missingMeans(tree, scratch) : missingSandbox(tree, target, scratch);
        if (missing != null) {
            console.say("note: the package carries no class archive made at packaging: " + missing);
            return;
        }
        // The archive is made for the times the installed files will have.
        settleTimes(tree, newestTime);
        Path java = Path.of(System.getProperty("java.home"), "bin", "java");
        List<String> argv = new ArrayList<>(belowOpt ? namespace() : sandbox(tree, target, record.name()));
        // In the sandbox the tree lies at its place already: the staged tree is the target then.
        Path staged = belowOpt ? tree : target;
        argv.addAll(List.of(java.toString(),
                "-XX:TieredStopAtLevel=1", "-Djava.awt.headless=true",
                // Its runtime's spawn helper may lie below /opt, which the namespace covers for a moment.
                "-Djdk.lang.Process.launchMechanism=FORK",
                "-Dcorvane.tools=" + Templates.toolsDir(), "-cp", System.getProperty("java.class.path"),
                ShippedArchive.class.getName(), staged.toString(), target.toString(), record.name(), record.trainingList(),
                record.launcherVersion(), Boolean.toString(runtimeFeature(record.runtimeVersion())
                        >= ClassDataArchives.AOT_LINKING_SINCE), scratch.toString()));
        Path out = scratch.resolve("shipped-archive.out");
        int status = Exec.run(new Exec.Command(argv, Map.of(), Set.of(), DUMP_SECONDS), out);
        if (status != 0) {
            Workspace.removeTree(tree.resolve(ARCHIVE));
            Workspace.removeTree(tree.resolve(RECORD));
            List<String> lines = Exec.read(out).lines().filter(l -> !l.isBlank()).toList();
            console.say("note: the package carries no class archive made at packaging: "
                    + (lines.isEmpty() ? "status " + status : lines.get(lines.size() - 1).strip()));
            return;
        }
        console.say("class archive made at packaging for " + target + ": " + ARCHIVE);
    }

    /** A private mount namespace, where main mounts the staged tree over its place below /opt. */
    private static List<String> namespace() {
        List<String> argv = new ArrayList<>(List.of("unshare"));
        if (!runsAsRoot()) {
            argv.addAll(List.of("--user", "--map-root-user"));
        }
        argv.addAll(List.of("--mount", "--propagation", "private", "--"));
        return argv;
    }

    /**
     * A sandbox (bwrap) whose root holds this machine's top folders but the target's, the staged tree at
     * the target (/app/...: a folder this machine need not have, nor a user may make), and an empty
     * /etc/<name>: the packaging machine's own system options of the application are no default.
     */
    private static List<String> sandbox(Path tree, Path target, String name) {
        List<String> argv = new ArrayList<>(List.of("bwrap", "--die-with-parent"));
        String covered = target.getName(0).toString();
        try (Stream<Path> top = Files.list(Path.of("/"))) {
            for (Path path : top.sorted().toList()) {
                String entry = path.getFileName().toString();
                if (entry.equals(covered)) {
                    continue;
                }
                if (Files.isSymbolicLink(path)) {
                    argv.addAll(List.of("--symlink", Files.readSymbolicLink(path).toString(), path.toString()));
                } else if (entry.equals("proc")) {
                    argv.addAll(List.of("--proc", "/proc"));
                } else if (entry.equals("dev")) {
                    argv.addAll(List.of("--dev-bind", "/dev", "/dev"));
                } else if (Files.isDirectory(path)) {
                    argv.addAll(List.of("--bind", path.toString(), path.toString()));
                }
            }
        } catch (IOException e) {
            throw Console.fail("cannot list / for the archive's sandbox: " + e.getMessage());
        }
        argv.addAll(List.of("--bind", tree.toString(), target.toString()));
        if (Files.isDirectory(Path.of("/etc", name))) {
            argv.addAll(List.of("--tmpfs", "/etc/" + name));
        }
        return argv;
    }

    /** Why this packaging cannot make the archive for {@code target} in a sandbox, or null when it can. */
    private static String missingSandbox(Path tree, Path target, Path scratch) {
        if (!Exec.onPath("bwrap")) {
            return "bwrap (bubblewrap) is not installed";
        }
        try {
            for (Path path : List.of(tree.toRealPath(), scratch.toRealPath(), Path.of(System.getProperty("java.home"))
                    .toRealPath(), Templates.toolsDir().toRealPath())) {
                if (path.startsWith(Path.of("/").resolve(target.getName(0)))) {
                    return path + " lies below /" + target.getName(0) + ", which the dump covers";
                }
            }
        } catch (IOException e) {
            return "cannot resolve " + e.getMessage();
        }
        return null;
    }

    /** Why this packaging cannot make the archive, or null when it can. */
    private static String missingMeans(Path opt, Path scratch) {
        if (!Exec.onPath("unshare")) {
            return "unshare (util-linux) is not installed";
        }
        if (!Files.isDirectory(Path.of("/opt"))) {
            return "this machine has no /opt to mount the tree at";
        }
        try {
            // The tools' own files below /opt (an installed release's) are mounted again inside.
            for (Path path : List.of(opt.toRealPath(), scratch.toRealPath())) {
                if (path.startsWith("/opt")) {
                    return path + " lies below /opt, which the dump covers";
                }
            }
        } catch (IOException e) {
            return "cannot resolve " + e.getMessage();
        }
        return null;
    }

    /** Every file's time as the package tools install it: whole seconds, no later than {@code epoch}. */
    private static void settleTimes(Path tree, long epoch) {
        try (Stream<Path> paths = Files.walk(tree)) {
            for (Path path : paths.filter(Files::isRegularFile).toList()) {
                long seconds = Math.min(Files.getLastModifiedTime(path).to(TimeUnit.SECONDS), epoch);
                Files.setLastModifiedTime(path, FileTime.from(seconds, TimeUnit.SECONDS));
            }
        } catch (IOException e) {
            throw Console.fail("cannot set the times of the files in " + tree + ": " + e.getMessage());
        }
    }

    private static boolean runsAsRoot() {
        try {
            return ((Integer) Files.getAttribute(Path.of("/proc/self"), "unix:uid")) == 0;
        } catch (IOException | UnsupportedOperationException e) {
            return false;
        }
    }

    private static int runtimeFeature(String version) {
        String digits = version.replaceFirst("^([0-9]{1,4}).*", "$1");
        return digits.matches("[0-9]+") ? Integer.parseInt(digits) : 0;
    }

    /**
     * In the namespace: {@code <staged tree> <target> <name> <training list> <launcher version>
     * <aot linking> <scratch>}. Status 0 when the archive and its record are in the staged tree; else
     * the reason is the last line on stderr.
     */
    public static void main(String[] args) {
        try {
            inNamespace(Path.of(args[0]), Path.of(args[1]), args[2], args[3], args[4], Boolean.parseBoolean(args[5]),
                    Path.of(args[6]));
        } catch (Failure failure) {
            System.err.println(Console.oneLine(failure.getMessage()));
            System.exit(1);
        }
        System.exit(0);
    }

    /**
     * An installed release of the tools lives below /opt: its folder (this VM's runtime, the
     * templates and the contract this process still reads) is mounted again from {@code before}.
     */
    private static void keepToolsBelowOpt(Path before, Path scratch) {
        Set<Path> folders = new java.util.TreeSet<>();
        for (Path path : List.of(Path.of(System.getProperty("java.home")), Templates.toolsDir())) {
            Path real = path.toAbsolutePath().normalize();
            if (real.startsWith("/opt") && real.getNameCount() > 1) {
                folders.add(real.subpath(0, 2));
            }
        }
        for (Path folder : folders) {
            Path inside = Path.of("/").resolve(folder);
            try {
                Files.createDirectories(inside);
            } catch (IOException e) {
                throw Console.fail("cannot make " + inside + " in the namespace: " + e.getMessage());
            }
            Exec.output(List.of("mount", "--bind", before.resolve(folder.subpath(1, 2)).toString(), inside.toString()),
                    scratch, "cannot mount the tools' " + inside + " again in the namespace");
        }
    }

    private static void inNamespace(Path opt, Path target, String name, String trainingList, String launcherVersion,
                                    boolean aotLinking, Path scratch) {
        if (!opt.equals(target)) {
            mountTree(opt, target, name, scratch);
        }
        dump(target, trainingList, launcherVersion, aotLinking, scratch);
    }

    /** The staged tree {@code opt} at its place {@code target} below /opt, in the mount namespace. */
    private static void mountTree(Path opt, Path target, String name, Path scratch) {
        Path before = scratch.resolve("opt-before");
        try {
            Files.createDirectories(before);
        } catch (IOException e) {
            throw Console.fail("cannot make " + before + ": " + e.getMessage());
        }
        Exec.output(List.of("mount", "--bind", "/opt", before.toString()), scratch, "cannot keep /opt in a mount namespace");
        Exec.output(List.of("mount", "-t", "tmpfs", "-o", "mode=0755", "tmpfs", "/opt"), scratch,
                "cannot mount a tmpfs on /opt in a mount namespace");
        keepToolsBelowOpt(before, scratch);
        // The packaging machine's own system options of the application are no default.
        Path systemOptions = Path.of("/etc", name);
        if (Files.isDirectory(systemOptions)) {
            Exec.output(List.of("mount", "-t", "tmpfs", "tmpfs", systemOptions.toString()), scratch,
                    "cannot mount a tmpfs on " + systemOptions);
        }
        try {
            Files.createDirectories(target);
        } catch (IOException e) {
            throw Console.fail("cannot make " + target + " in the namespace: " + e.getMessage());
        }
        Exec.output(List.of("mount", "--bind", opt.toString(), target.toString()), scratch,
                "cannot mount the tree at " + target);
    }

    private static void dump(Path target, String trainingList, String launcherVersion, boolean aotLinking, Path scratch) {
        List<String> options = launcherOptions(target, scratch);
        Path argFile = scratch.resolve("shipped-archive.argfile");
        StringBuilder quoted = new StringBuilder();
        for (String option : options) {
            quoted.append('"').append(option.replace("\\", "\\\\").replace("\"", "\\\"")).append("\"\n");
        }
        write(argFile, quoted.toString());
        Path archive = target.resolve(ARCHIVE);
        Path classList = target.resolve(trainingList);
        Set<String> unset = new HashSet<>(TreeRuns.VM_VARIABLES);
        List<String> dump = new ArrayList<>(List.of(target.resolve("jre/bin/java").toString(), "@" + argFile,
                "-Xshare:dump", "-XX:SharedClassListFile=" + classList, "-XX:SharedArchiveFile=" + archive));
        if (aotLinking) {
            dump.add("-XX:+AOTClassLinking");
        }
        Path out = scratch.resolve("shipped-archive-dump.out");
        int status = Exec.run(new Exec.Command(dump, Map.of(), unset, DUMP_SECONDS), out);
        if (status != 0 || !Files.isRegularFile(archive)) {
            throw Console.fail("the archive dump ended with status " + status + ": "
                    + ClassDataArchives.firstMatching(Exec.read(out).lines().toList(), "(?i).*(error|fail).*"));
        }
        // The VM must map it with this very option list: -Xshare:on refuses to start otherwise.
        Path probeOut = scratch.resolve("shipped-archive-probe.out");
        int probe = Exec.run(new Exec.Command(List.of(target.resolve("jre/bin/java").toString(), "@" + argFile,
                "-XX:SharedArchiveFile=" + archive, "-Xshare:on", "-version"), Map.of(), unset, 120), probeOut);
        if (probe != 0) {
            throw Console.fail("the VM does not map the new archive: "
                    + ClassDataArchives.firstMatching(Exec.read(probeOut).lines().toList(), "(?i).*(error|fail|mismatch).*"));
        }
        write(target.resolve(RECORD), recordText(target, launcherVersion, classList, options));
        try {
            for (Path file : List.of(archive, target.resolve(RECORD))) {
                Files.setPosixFilePermissions(file, PosixFilePermissions.fromString("rw-r--r--"));
            }
        } catch (IOException e) {
            throw Console.fail("cannot set the mode of " + archive + ": " + e.getMessage());
        }
    }

    /** What the tree's launcher gives the VM at {@code target} by default: no user's, system's or caller's options. */
    private static List<String> launcherOptions(Path target, Path scratch) {
        Path home = scratch.resolve("shipped-archive-home");
        Path logs = scratch.resolve("shipped-archive-logs");
        try {
            Files.createDirectories(home);
            Files.createDirectories(logs);
        } catch (IOException e) {
            throw Console.fail("cannot write in " + scratch + ": " + e.getMessage());
        }
        Map<String, String> set = new HashMap<>(Map.of("HOME", home.toString(), Contract.value("env.log-dir"), logs.toString()));
        Set<String> unset = new HashSet<>(TreeRuns.OPTION_VARIABLES);
        unset.addAll(TreeRuns.VM_VARIABLES);
        TreeRuns.VM_VARIABLES.forEach(v -> unset.add(TreeRuns.CALLER_PREFIX + v));
        // Nor the packaging desktop's scale: a start on another display gets the scale of its own.
        unset.addAll(List.of("XDG_CONFIG_HOME", "DISPLAY", "J2D_UISCALE", "GDK_SCALE", "XDG_CURRENT_DESKTOP"));
        Path out = scratch.resolve("shipped-archive-options.out");
        int status = Exec.run(new Exec.Command(List.of(target.resolve("corvane").toString(),
                Contract.value("flag.print-jvm-options")), set, unset, 120), out);
        String text = Exec.read(out);
        if (status != 0 || !text.endsWith("\0")) {
            throw Console.fail("the launcher gave no option list (--print-jvm-options ended with status " + status + ")");
        }
        return List.of(text.split("\0"));
    }

    /**
     * The record of the start the archive is made for, as the launcher writes its own start's: the launcher,
     * the tree, the runtime, the class list and the class path (size and time of each file), the VM's option
     * variables (empty) and the options but the per-process ones.
     */
    static String recordText(Path target, String launcherVersion, Path classList, List<String> options) {
        StringBuilder text = new StringBuilder("launcher " + launcherVersion + "\ntree " + target + "\n");
        text.append(stamp(target.resolve("jre/lib/server/libjvm.so"))).append(stamp(target.resolve("jre/lib/modules")))
            .append(stamp(classList));
        for (String option : options) {
            if (option.startsWith("-Djava.class.path=") && !option.equals("-Djava.class.path=")) {
                for (String entry : option.substring("-Djava.class.path=".length()).split(":", -1)) {
                    text.append(stamp(Path.of(entry)));
                }
            }
        }
        text.append("JAVA_TOOL_OPTIONS=\n_JAVA_OPTIONS=\n");
        for (String option : options) {
            if (PER_PROCESS.stream().noneMatch(option::startsWith)) {
                text.append("option ").append(option).append('\n');
            }
        }
        return text.toString();
    }

    private static String stamp(Path file) {
        try {
            FileTime time = Files.getLastModifiedTime(file);
            long seconds = time.to(TimeUnit.SECONDS);
            return String.format("%s %d %d.%09d\n", file, Files.size(file), seconds, time.toInstant().getNano());
        } catch (IOException e) {
            return file + " missing\n";
        }
    }

    private static void write(Path file, String text) {
        try {
            Files.writeString(file, text, StandardCharsets.UTF_8);
        } catch (IOException e) {
            throw Console.fail("cannot write " + file + ": " + e.getMessage());
        }
    }
}
