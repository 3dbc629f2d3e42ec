// assemble-tree's command line, checked before anything is built.
package com.vellumbry.corvane.ship;

import com.vellumbry.corvane.api.TreeRecordFile;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.Optional;
import java.util.Set;
import java.util.stream.Stream;

record AssembleOptions(Path launcher, Path dest, String name, Jdk jdk, boolean aggressive, List<String> addModules,
                       boolean minimalModules,
                       String mainClass, Map<String, String> commands, List<String> jvmOptions, List<Path> resources, boolean cds, boolean train,
                       Training.Plan plan, boolean quiet, String singleInstance, Path splash, boolean noSplash,
                       List<String> arguments, String workingDir, String wmClass, List<Path> jars) {

    private static final Set<String> WITH_VALUE = Set.of("--launcher", "--dest", "--name", "--jdk", "--link-jdk", "--add-modules",
            "--main-class", "--command", "--jvm-option", "--resources", "--train-arg", "--train-seconds", "--splash",
            "--argument", "--working-dir", "--wm-class", "--modules", "--single-instance");
    private static final Set<String> FLAGS = Set.of("--no-cds", "--train", "--quiet", "--single-instance", "--no-splash");

    /** The options, or null when help was asked for (and printed). */
    static AssembleOptions parse(String[] args, Console console) {
        CommandLine line = CommandLine.parse(args, WITH_VALUE, FLAGS, true);
        if (line.help()) {
            System.out.print(Usage.text("assemble-tree", Usage.installed(console)));
            return null;
        }
        console.quiet(line.has("--quiet"));
        // The installed command assembles with its release's own launcher.
        String launcher = line.value("--launcher", Release.launcher().map(Path::toString).orElse(""));
        String dest = line.value("--dest", "");
        if (launcher.isEmpty()) {
            throw Console.fail("no launcher given (--launcher <corvane>; see --help)");
        }
        if (dest.isEmpty()) {
            throw Console.fail("no destination given (--dest <dir>; see --help)");
        }
        if (line.arguments().isEmpty()) {
            throw Console.fail("no jars given: the tree needs at least one application jar");
        }
        Path launcherFile = Path.of(launcher);
        if (!Files.isRegularFile(launcherFile) || !Files.isExecutable(launcherFile)) {
            throw Console.fail("launcher not found or not executable: " + launcher);
        }
        String seconds = line.value("--train-seconds", "60");
        if (!seconds.matches("[0-9]{1,4}") || Integer.parseInt(seconds) < 1 || Integer.parseInt(seconds) > 3600) {
            throw Console.fail("--train-seconds needs a whole number of seconds from 1 to 3600, not '" + seconds + "'");
        }
        for (String option : line.all("--jvm-option")) {
            // lib/jvm-options.txt holds one option per line, each taken whole.
            if (option.isBlank() || option.contains("\n") || option.contains("\r")) {
                throw Console.fail("--jvm-option needs one option on one line, not '" + option + "'");
            }
        }
        for (String argument : line.all("--argument")) {
            if (argument.isEmpty() || argument.contains("\n") || argument.contains("\r")) {
                throw Console.fail("--argument needs a non-empty argument on one line, not '" + argument + "'");
            }
        }
        String workingDir = workingDir(line.value("--working-dir", ""));
        String wmClass = line.value("--wm-class", "");
        if (line.has("--wm-class") && !wmClass.matches("[^\\s]+")) {
            throw Console.fail("--wm-class needs a window class without blanks, not '" + wmClass + "'");
        }
        // --single-instance alone is a flag; --single-instance=raise gives its one value.
        String singleInstance = line.has("--single-instance") ? line.value("--single-instance", "") : "none";
        if (!Set.of("", "raise", "none").contains(singleInstance)) {
            throw Console.fail("--single-instance takes no value or =raise, not '" + singleInstance + "'");
        }
        String modules = line.value("--modules", "default");
        if (!modules.equals("default") && !modules.equals("minimal")) {
            throw Console.fail("--modules needs default or minimal, not '" + modules + "'");
        }
        boolean cds = !line.has("--no-cds");
        boolean train = line.has("--train");
        if (train && !cds) {
            throw Console.fail("--train makes a class-data-sharing archive: it cannot go with --no-cds");
        }
        if (train && !Display.available()) {
            throw Console.fail("--train needs a display for the application: DISPLAY is not set and Xvfb is not"
                    + " installed (Debian package xvfb)");
        }
        if (line.has("--splash") && line.has("--no-splash")) {
            throw Console.fail("--splash and --no-splash cannot go together");
        }
        Path splash = line.has("--splash") ? SplashImage.checkFile(line.value("--splash", "")) : null;
        List<Path> jars = line.arguments().stream().map(Path::of).toList();
        boolean wanted = !System.getenv().getOrDefault("CORVANE_AGGRESSIVE_OPTIMIZATIONS", "").startsWith("0");
        Jdk jdk = jdk(line.value("--jdk", Jdk.findDefault().map(Path::toString).orElse("")), wanted, console);
        if (jdk.foreign()) {
            jdk = forAnotherCpu(jdk, line, console);
            if (!line.has("--launcher") && Release.launcher().isPresent()) {
                launcherFile = Release.launcher(jdk.arch());
            }
        }
        String launcherArch = ElfLibraries.machine(launcherFile);
        if (!launcherArch.equals(jdk.arch())) {
            throw Console.fail("the launcher " + launcher + " is for " + (launcherArch.isEmpty() ? "no CPU this tool knows"
                    : launcherArch) + ", the JDK for " + jdk.arch() + ": give a launcher built for " + jdk.arch());
        }
        // The tree's runs while it is assembled take the set its launcher will give the runtime.
        boolean aggressive = wanted && jdk.major() >= minimum();
        Path destPath = destination(dest);
        String name = line.value("--name", defaultName(destPath.getFileName().toString()));
        if (!TreeRecordFile.isApplicationName(name)) {
            throw Console.fail("name '" + name + "' must be lower case letters, digits, + - . (it names the package"
                    + " and the command)");
        }
        return new AssembleOptions(launcherFile, destPath, name, jdk, aggressive, line.all("--add-modules"),
                modules.equals("minimal"),
                line.value("--main-class", "").strip(), commands(line.all("--command"), name), line.all("--jvm-option"),
                line.all("--resources").stream().map(Path::of).toList(),
                cds && !jdk.foreign(), train, new Training.Plan(line.all("--train-arg"), Integer.parseInt(seconds)), line.has("--quiet"),
                Map.of("", "yes", "raise", "raise").getOrDefault(singleInstance, ""), splash, line.has("--no-splash"), line.all("--argument"), workingDir,
                wmClass, jars);
    }

    /** The start folder as given: below ${INSTALL_DIR} or ${HOME}, or an absolute path; "" for none. */
    private static String workingDir(String given) {
        String dir = given.strip();
        boolean rooted = dir.equals("${INSTALL_DIR}") || dir.startsWith("${INSTALL_DIR}/") || dir.equals("${HOME}")
                || dir.startsWith("${HOME}/") || dir.startsWith("/");
        if (!dir.isEmpty() && (!rooted || dir.contains("\n") || dir.contains("\r"))) {
            throw Console.fail("--working-dir needs ${INSTALL_DIR}, ${HOME} or an absolute path, optionally followed"
                    + " by /<folder>, not '" + given + "'");
        }
        return dir;
    }

    /** Further commands, "<name>=<main class>", in the order given. */
    private static Map<String, String> commands(List<String> given, String treeName) {
        Map<String, String> commands = new LinkedHashMap<>();
        for (String command : given) {
            int equals = command.indexOf('=');
            String name = equals < 0 ? "" : command.substring(0, equals);
            String mainClass = equals < 0 ? "" : command.substring(equals + 1).strip();
            if (!TreeRecordFile.isApplicationName(name) || mainClass.isEmpty() || mainClass.contains(" ")) {
                throw Console.fail("--command needs <name>=<main class>, the name in lower case letters, digits, + - .,"
                        + " not '" + command + "'");
            }
            if (name.equals(treeName) || name.equals("corvane") || commands.put(name, mainClass) != null) {
                throw Console.fail("--command " + name + ": the name is taken (by the tree, the launcher or another command)");
            }
        }
        return commands;
    }

    /**
     * A tree for another CPU: its runtime linked from that JDK's modules by this machine's JDK of
     * the same version; nothing of it runs here, so no training and no archive dump.
     */
    private static Jdk forAnotherCpu(Jdk target, CommandLine line, Console console) {
        if (line.has("--train")) {
            throw Console.fail("--train runs the application, and a tree for " + target.arch() + " cannot run on this "
                    + Jdk.HOST_ARCH + " machine; its launcher makes the per-user archive at the first start there");
        }
        Jdk linking = Jdk.linking(target, line.has("--link-jdk") ? Optional.of(Path.of(line.value("--link-jdk", "")))
                : Optional.empty());
        console.say("a tree for " + target.arch() + ": the runtime from " + linking.linkFrom() + ", linked by "
                + linking.home() + "; no class-data archive is dumped here (the launcher makes one at the first start)");
        return linking;
    }

    /** The lowest JDK major version the launcher's default options run on. */
    static int minimum() {
        return Integer.parseInt(Contract.value("jdk.minimum"));
    }

    private static Jdk jdk(String home, boolean aggressive, Console console) {
        if (home.isEmpty()) {
            throw Console.fail("no JDK found: install one of version " + minimum() + " or newer (Debian: openjdk-25-jdk-headless),"
                    + " set JAVA_HOME or pass --jdk");
        }
        Jdk jdk = Jdk.at(Path.of(home));
        if (!Files.isExecutable(jdk.bin("jlink"))) {
            throw Console.fail("the JDK at " + jdk.home() + " has no jlink (bin/jlink); a full JDK is needed, not a runtime");
        }
        if (jdk.major() <= 0) {
            throw Console.fail("cannot tell the version of the JDK at " + jdk.home() + " (no JAVA_VERSION in its release file)");
        }
        if (jdk.major() < minimum() && aggressive) {
            // The launcher reads the runtime's version from the tree's record and leaves those options out.
            console.line("NOTE: JDK " + jdk.major() + " is older than " + minimum() + ": the tree's launcher gives its"
                    + " runtime the lighter option set (no compact object headers)");
        }
        return jdk;
    }

    /** The absolute destination; its parent must exist, and what is there may only be replaced when it is a tree. */
    private static Path destination(String given) {
        String trimmed = given.replaceAll("/+$", "");
        if (trimmed.isEmpty()) {
            throw Console.fail("the destination cannot be the root directory");
        }
        Path dest = Path.of(trimmed).toAbsolutePath().normalize();
        Path parent = dest.getParent();
        if (parent == null || !Files.isDirectory(parent)) {
            throw Console.fail("destination not writable: its parent " + parent + " is not a directory");
        }
        try {
            dest = parent.toRealPath().resolve(dest.getFileName());
        } catch (IOException e) {
            throw Console.fail("destination not writable: " + e.getMessage());
        }
        if (Files.exists(dest, LinkOption.NOFOLLOW_LINKS)) {
            if (Files.isSymbolicLink(dest)) {
                throw Console.fail("destination " + dest + " is a symbolic link; give the folder itself, not a link");
            }
            if (!Files.isDirectory(dest, LinkOption.NOFOLLOW_LINKS)) {
                throw Console.fail("destination exists and is not a directory: " + dest);
            }
            boolean tree = Files.isRegularFile(dest.resolve("corvane")) && Files.isRegularFile(dest.resolve("lib/manifest-bootstrap.txt"));
            if (!tree && !isEmpty(dest)) {
                throw Console.fail("destination " + dest + " is neither empty nor an install tree; not replacing it");
            }
        }
        return dest;
    }

    private static boolean isEmpty(Path dir) {
        try (Stream<Path> entries = Files.list(dir)) {
            return entries.findAny().isEmpty();
        } catch (IOException e) {
            return false;
        }
    }

    /** A package-like name from a folder name: lower case letters, digits, + - . */
    static String defaultName(String folder) {
        String name = folder.toLowerCase(java.util.Locale.ROOT).replaceAll("[^a-z0-9.+-]", "-").replaceAll("^[^a-z0-9]+", "");
        return name.length() >= 2 ? name : "app";
    }
}
