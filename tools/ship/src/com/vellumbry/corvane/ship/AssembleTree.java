// tools/assemble-tree: a complete install tree from a launcher build, a JDK and the
// application's jars. main reads as its steps; each step is a small method or class.
package com.vellumbry.corvane.ship;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.ArrayList;
import java.util.HashSet;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.stream.Stream;

final class AssembleTree {
    static final String OPTIONS_FILE = "jvm-options.txt";
    static final String MANIFEST = "manifest-bootstrap.txt";
    static final String HIDDEN_HOOKS_OPTION = "--add-opens=java.management/sun.management=ALL-UNNAMED";

    private AssembleTree() {
    }

    static void run(String[] args, Console console) {
        AssembleOptions options = AssembleOptions.parse(args, console);
        if (options == null) {
            return;
        }
        long start = System.nanoTime();
        AppJars.Facts app = AppJars.read(ClassPathFolders.packed(options.jars(), console), options.mainClass(),
                List.copyOf(options.commands().values()));
        app.notes().forEach(console::say);
        if (app.mainClass().isEmpty() && !options.arguments().isEmpty()) {
            throw Console.fail("the jars provide the entry class " + AppJars.ENTRY_CLASS
                    + " themselves; --argument is for jars without it (the entry bridge passes them on)");
        }
        SplashImage splash = SplashImage.choose(options.splash(), options.noSplash(), app, console);
        checkResources(options, app, splash != null);

        Path parent = options.dest().getParent();
        Workspace workspace = Workspace.create(parent, options.dest().getFileName().toString(), "assembling",
                "destination not writable: cannot create a directory in " + parent);
        Path tree = workspace.work();
        Path scratch = workspace.scratch();
        copyLauncher(options.launcher(), tree);
        JdkModules jdkModules = JdkModules.of(options.jdk(), scratch);
        app = app.within(jdkModules, console::say);
        RuntimeImage.Needs needs = runtimeNeeds(options, app, jdkModules, scratch, console);
        String runtimeVersion = buildRuntime(options, jdkModules, needs, tree, scratch, console);
        writeOptions(options, app, tree.resolve("lib"), console);
        Map<String, String> windowClasses = installJars(options, app, tree.resolve("lib"), scratch, console);
        String splashPath = splash == null ? "" : splash.install(tree.resolve("lib"), console);
        // The training runs start as later starts will, with the record's heap.
        write(tree.resolve(TreeRecord.FILE), TreeRecord.DURING_ASSEMBLY);
        Training.Result trained = options.cds() ? makeArchives(options, jdkModules, needs, tree, scratch, console)
                : new Training.Result(List.of(), "");
        List<String> archives = trained.archives();
        String windowClass = windowClass(options, trained.windowClass(),
                windowClasses.getOrDefault(app.mainClass(), TreeRecord.ENTRY_WINDOW_CLASS), console);
        new TreeRecord(options.name(), launcherVersion(tree, scratch), runtimeVersion, app.mainClass(), windowClass,
                !options.cds() ? "none" : options.train() ? "trained" : "default",
                archives.stream().map(a -> a.split(" ")[0]).toList(),
                options.train() ? "jre/lib/server/" + Training.LIST : options.jdk().foreign() ? "jre/lib/classlist" : "",
                options.commands().entrySet().stream().map(c -> new TreeRecord.Command(c.getKey(), c.getValue(),
                        windowClasses.get(c.getValue()))).toList(), options.singleInstance(), splashPath, "java",
                options.arguments(), options.workingDir()).write(tree);
        workspace.moveInto(options.dest());

        long tenths = (System.nanoTime() - start) / 100_000_000L;
        console.line("assembled " + options.dest() + " with runtime " + runtimeVersion + " ("
                + RuntimeImage.describe(options.dest().resolve("jre"))
                + (archives.isEmpty() ? "" : " with the archives") + ", from " + options.jdk().home()
                + "), " + app.jars().size() + " jar(s); "
                + (archives.isEmpty() ? "no class-data-sharing archive" : "archives: " + String.join(", ", archives))
                + "; took " + tenths / 10 + "." + tenths % 10 + " s");
    }

    /** The --resources folders: readable, and none of their entries takes a name lib/ already uses. */
    private static void checkResources(AssembleOptions options, AppJars.Facts app, boolean splash) {
        Set<String> taken = new HashSet<>(List.of(MANIFEST, OPTIONS_FILE, EntryBridge.JAR,
                Path.of(TreeRecord.FILE).getFileName().toString()));
        if (splash) {
            taken.add(SplashImage.FOLDER);
        }
        for (Path jar : app.jars()) {
            String name = jar.getFileName().toString();
            if (name.equals(EntryBridge.JAR)) {
                throw Console.fail("a jar is named " + EntryBridge.JAR + ", the name of the tree's entry bridge");
            }
            taken.add(name);
        }
        for (Path dir : options.resources()) {
            if (!Files.isDirectory(dir) || !Files.isReadable(dir)) {
                throw Console.fail("resources folder not found or not readable: " + dir);
            }
            try (Stream<Path> entries = Files.list(dir)) {
                for (Path entry : entries.toList()) {
                    if (!taken.add(entry.getFileName().toString())) {
                        throw Console.fail("resources folder " + dir + " holds " + entry.getFileName()
                                + ", a name lib/ already uses");
                    }
                }
            } catch (IOException e) {
                throw Console.fail("resources folder not found or not readable: " + dir);
            }
        }
    }

    private static void copyLauncher(Path launcher, Path tree) {
        try {
            Files.copy(launcher, tree.resolve("corvane"));
            Files.setPosixFilePermissions(tree.resolve("corvane"), PosixFilePermissions.fromString("rwxr-xr-x"));
            Files.createDirectories(tree.resolve("lib"));
        } catch (IOException e) {
            throw Console.fail("cannot copy the launcher into " + tree + ": " + e.getMessage());
        }
    }

    /** What the runtime needs beside its choice: jdeps's modules, the manifests', the bridge's and --add-modules. */
    private static RuntimeImage.Needs runtimeNeeds(AssembleOptions options, AppJars.Facts app, JdkModules jdkModules,
                                                   Path scratch, Console console) {
        List<String> modules = new ArrayList<>(app.modules());
        if (!app.mainClass().isEmpty()) {
            // The bridge's exit watcher reads the VM's thread counts.
            modules.add("java.management");
        }
        for (String names : options.addModules()) {
            Stream.of(names.split(",")).map(String::strip).filter(n -> !n.isEmpty()).forEach(modules::add);
        }
        return RuntimeImage.needs(options.jdk(), jdkModules, app.jars(), modules, options.minimalModules(), scratch,
                console);
    }

    /**
     * jlink of the chosen modules; returns the runtime's version. A minimal runtime that is to be
     * trained starts as the default one: the training run then shows what the application loads.
     */
    private static String buildRuntime(AssembleOptions options, JdkModules jdkModules, RuntimeImage.Needs needs,
                                       Path tree, Path scratch, Console console) {
        boolean minimal = options.minimalModules() && needs.jdepsError().isEmpty();
        boolean trainFirst = minimal && options.train();
        RuntimeImage.build(options.jdk(), RuntimeImage.choose(jdkModules, needs, minimal && !trainFirst, List.of()),
                trainFirst ? "default until the training run" : minimal ? "minimal" : "default",
                tree.resolve("jre"), scratch, console);
        return Jdk.runtimeVersion(tree.resolve("jre"));
    }

    /**
     * The windows' class: --wm-class, else what training saw the application's window carry, else
     * java's rule as the bridge follows it.
     */
    private static String windowClass(AssembleOptions options, String observed, String byRule, Console console) {
        if (!options.wmClass().isEmpty()) {
            return options.wmClass();
        }
        if (!observed.isEmpty() && !observed.equals(byRule)) {
            console.say("window class " + observed + ", as the training run's window carried it (java's rule gives "
                    + byRule + ")");
        }
        return observed.isEmpty() ? byRule : observed;
    }

    /**
     * lib/jvm-options.txt: the manifests' options, then --jvm-option's (later lines win); none when there are
     * none. With the bridge, java.management's sun.management is opened to it, so that the application's
     * RuntimeMXBean input arguments do not list the launcher's hooks.
     */
    private static void writeOptions(AssembleOptions options, AppJars.Facts app, Path lib, Console console) {
        List<String> lines = new ArrayList<>(app.options());
        if (!app.mainClass().isEmpty()) {
            lines.add(HIDDEN_HOOKS_OPTION);
        }
        lines.addAll(options.jvmOptions());
        console.say(heapNote(lines));
        if (lines.isEmpty()) {
            return;
        }
        write(lib.resolve(OPTIONS_FILE), String.join("\n", lines) + "\n");
        console.say("lib/" + OPTIONS_FILE + ": " + lines.size() + " option(s)");
    }

    /**
     * The jars (after the bridge, when there is one), the bootstrap manifest and the resources;
     * the window class of each main class the bridge starts (none without the bridge).
     */
    private static Map<String, String> installJars(AssembleOptions options, AppJars.Facts app, Path lib, Path scratch,
                                                   Console console) {
        List<String> manifest = new ArrayList<>();
        Map<String, String> windowClasses = Map.of();
        if (!app.mainClass().isEmpty()) {
            windowClasses = EntryBridge.build(options.jdk(), app.mainClass(), options.commands(), lib, scratch, console);
            manifest.add(EntryBridge.JAR);
        }
        manifest.addAll(JarCopies.install(app.jars(), lib, console));
        write(lib.resolve(MANIFEST), String.join("\n", manifest) + "\n");
        for (Path dir : options.resources()) {
            copyResources(dir, lib, scratch);
        }
        return windowClasses;
    }

    /** The folder's contents into lib/, links kept; a link leading out of the folder becomes a copy of what it names. */
    private static void copyResources(Path dir, Path lib, Path scratch) {
        Exec.output(List.of("cp", "-R", "--", dir + "/.", lib + "/"), scratch, "cannot copy the resources folder " + dir);
        try {
            Path real = dir.toRealPath();
            List<Path> outward;
            try (Stream<Path> paths = Files.walk(real)) {
                outward = paths.filter(Files::isSymbolicLink).filter(l -> leadsOut(l, real)).toList();
            }
            for (Path link : outward) {
                // Such a link would name a file of this machine, not of the tree.
                Path copy = lib.resolve(real.relativize(link).toString());
                Files.delete(copy);
                Exec.output(List.of("cp", "-R", "-L", "--", link.toString(), copy.toString()), scratch,
                        "cannot copy " + link + ", a link out of the resources folder");
            }
        } catch (IOException e) {
            throw Console.fail("cannot copy the resources folder " + dir + ": " + e.getMessage());
        }
    }

    private static boolean leadsOut(Path link, Path dir) {
        try {
            Path target = Files.readSymbolicLink(link);
            return target.isAbsolute() || !link.getParent().resolve(target).normalize().startsWith(dir);
        } catch (IOException e) {
            return true;
        }
    }

    /** What the tree's heap limit is: the last heap option of the tree's file, else java's default. */
    static String heapNote(List<String> lines) {
        String named = "";
        for (String line : lines) {
            String option = line.strip();
            if (option.matches("-Xmx\\S+|-XX:(MaxHeapSize|MaxRAM|MaxRAMPercentage|MaxRAMFraction)=\\S+")) {
                named = option;
            }
        }
        return named.isEmpty()
                ? "heap: java's default limit, a share of the user's machine's memory at each start (name one with"
                        + " --jvm-option -Xmx<size> or --jvm-option -XX:MaxRAMPercentage=<n>)"
                : "heap: " + named + " (lib/" + OPTIONS_FILE + ")";
    }

    /**
     * The default archives for each option list, trained when asked: their descriptions and the window class
     * seen. A minimal runtime is made after the training run, from its modules, before the archives are dumped.
     */
    private static Training.Result makeArchives(AssembleOptions options, JdkModules jdkModules,
                                                RuntimeImage.Needs needs, Path tree, Path scratch, Console console) {
        ClassDataArchives archives = new ClassDataArchives(options.jdk(), tree, scratch, console);
        if (options.train()) {
            boolean minimal = options.minimalModules() && needs.jdepsError().isEmpty();
            return Training.train(archives, options.plan(), options.aggressive(), tree, scratch, options.jdk().major(),
                    console, list -> {
                        if (minimal) {
                            Set<String> trained = jdkModules.modulesOfClassList(Exec.read(list));
                            RuntimeImage.build(options.jdk(), RuntimeImage.choose(jdkModules, needs, true, trained),
                                    "minimal with the training run's modules", tree.resolve("jre"), scratch, console);
                        }
                    });
        }
        List<String> made = new ArrayList<>();
        for (boolean variant : archives.variants()) {
            made.add(archives.dump(variant, null));
        }
        return new Training.Result(made, "");
    }

    /** The version in a launcher that cannot run here: the text its --version prints, read from the file. */
    private static String launcherVersionOf(Path launcher) {
        String bytes;
        try {
            bytes = new String(Files.readAllBytes(launcher), java.nio.charset.StandardCharsets.ISO_8859_1);
        } catch (IOException e) {
            throw Console.fail("cannot read the launcher " + launcher + ": " + e.getMessage());
        }
        java.util.regex.Matcher m = java.util.regex.Pattern.compile("\\x00Corvane ([0-9]+(?:\\.[0-9]+){3})\n\\x00")
                .matcher(bytes);
        if (!m.find()) {
            throw Console.fail("the launcher " + launcher + " holds no version text: is it corvane?");
        }
        return m.group(1);
    }

    /** What the tree's launcher says of itself: "Corvane <version>". */
    private static String launcherVersion(Path tree, Path scratch) {
        if (!ElfLibraries.machine(tree.resolve("corvane")).equals(Jdk.HOST_ARCH)) {
            return launcherVersionOf(tree.resolve("corvane"));
        }
        String out = Exec.output(List.of(tree.resolve("corvane").toString(), "--version"), scratch,
                "the launcher does not answer --version").strip();
        if (!out.startsWith("Corvane ")) {
            throw Console.fail("the launcher answered --version with '" + Exec.firstLine(out) + "'");
        }
        return out.substring("Corvane ".length());
    }

    static void write(Path file, String text) {
        try {
            Files.writeString(file, text, StandardCharsets.UTF_8);
        } catch (IOException e) {
            throw Console.fail("cannot write " + file + ": " + e.getMessage());
        }
    }
}
