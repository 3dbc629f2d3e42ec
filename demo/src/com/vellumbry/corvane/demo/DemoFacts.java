package com.vellumbry.corvane.demo;

import com.vellumbry.corvane.api.TreeRecordFile;

import java.lang.management.GarbageCollectorMXBean;
import java.lang.management.ManagementFactory;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Locale;

/** What the demo shows: the facts of the process the launcher started. */
public final class DemoFacts {

    /** System properties that the launcher sets on the VM's command line. */
    static final String[] LAUNCHER_PROPERTIES = {
        "CORVANE_VERSION",
        "java.class.path",
        "corvane.jars.path",
        "jna.library.path",
        "jna.boot.library.path",
        "vindo.library.path",
        "jna.nounpack",
        "jna.nosys",
        "jna.noclasspath",
        "vindo.gpu.resourceCacheLimit",
        "vindo.buffering",
        "jdk.lang.processReaperUseDefaultStackSize",
        "java.io.tmpdir",
    };

    private final String[] args;

    public DemoFacts(String[] args) {
        this.args = args == null ? new String[0] : args.clone();
    }

    /** The demo's mode: system property corvane.demo.mode, else CORVANE_DEMO_MODE, else "window". */
    public static String mode() {
        String mode = System.getProperty("corvane.demo.mode");
        if (mode == null || mode.isEmpty()) {
            mode = System.getenv("CORVANE_DEMO_MODE");
        }
        return mode == null || mode.isEmpty() ? "window" : mode.trim().toLowerCase(Locale.ROOT);
    }

    public long pid() {
        return ProcessHandle.current().pid();
    }

    public String runtime() {
        return Runtime.version() + " (" + System.getProperty("java.vm.name") + ", "
            + System.getProperty("java.vm.info") + ")";
    }

    public String processCommand() {
        return ProcessHandle.current().info().command().orElse("(unknown)");
    }

    public List<String> arguments() {
        List<String> lines = new ArrayList<>();
        for (int i = 0; i < args.length; i++) {
            lines.add("[" + i + "] " + args[i]);
        }
        return lines;
    }

    public List<String> launcherProperties() {
        List<String> lines = new ArrayList<>();
        for (String key : LAUNCHER_PROPERTIES) {
            String value = System.getProperty(key);
            if (key.equals("java.class.path") && value != null) {
                String[] entries = value.split(java.io.File.pathSeparator, -1);
                lines.add(key + " =");
                for (String entry : entries) {
                    lines.add("    " + entry);
                }
            } else {
                lines.add(key + " = " + (value == null ? "(not set)" : value));
            }
        }
        return lines;
    }

    /**
     * The JVM options files the launcher reads, in its order, each with whether it is there:
     * the tree's, the system's and the user's (the latter two named after the tree's record).
     */
    public static List<String> optionFiles() {
        List<String> lines = new ArrayList<>();
        String lib = System.getProperty("corvane.jars.path", "");
        if (lib.isEmpty()) {
            return lines;
        }
        List<Path> files = new ArrayList<>(List.of(Path.of(lib, "jvm-options.txt")));
        String name = TreeRecordFile.ofRunningTree().get("name");
        if (TreeRecordFile.isApplicationName(name)) {
            files.add(Path.of("/etc", name, "jvm-options.txt"));
            String config = System.getenv("XDG_CONFIG_HOME");
            String home = System.getenv("HOME");
            if (config != null && config.startsWith("/")) {
                files.add(Path.of(config, name, "jvm-options.txt"));
            } else if (home != null && home.startsWith("/")) {
                files.add(Path.of(home, ".config", name, "jvm-options.txt"));
            }
        }
        for (Path file : files) {
            lines.add(file + (Files.isRegularFile(file) ? "" : " (not there)"));
        }
        return lines;
    }


    /** The arguments that name a readable file (a path or a file: URL), each with its size and first line. */
    public List<String> openedFiles() {
        return openedFiles(Path.of(""), List.of(args).subList(Math.min(1, args.length), args.length));
    }

    /** The same for a start in {@code directory} (where its relative paths lead) with these arguments. */
    public static List<String> openedFiles(Path directory, List<String> arguments) {
        List<String> lines = new ArrayList<>();
        for (String argument : arguments) {
            Path file = argument.startsWith("file:") ? pathOfUrl(argument) : directory.resolve(argument);
            if (file == null || !Files.isRegularFile(file) || !Files.isReadable(file)) {
                continue;
            }
            try (java.io.BufferedReader in = Files.newBufferedReader(file)) {
                String first = in.readLine();
                lines.add(file + " (" + Files.size(file) + " bytes): " + (first == null ? "" : first));
            } catch (IOException | java.io.UncheckedIOException e) {
                lines.add(file + ": cannot be read: " + e.getMessage());
            }
        }
        return lines;
    }

    private static Path pathOfUrl(String url) {
        try {
            return Path.of(java.net.URI.create(url));
        } catch (IllegalArgumentException | java.nio.file.FileSystemNotFoundException e) {
            return null;
        }
    }

    public List<String> vmOptions() {
        return ManagementFactory.getRuntimeMXBean().getInputArguments();
    }

    /**
     * Where the launcher keeps its native log, the VM's error files and heap dumps: the folder of the
     * error file it gave the VM (-XX:ErrorFile=), or "(not set)" under another launcher.
     */
    public String nativeLogFolder() {
        String head = "-XX:ErrorFile=";
        for (String option : vmOptions()) {
            if (option.startsWith(head)) {
                Path folder = Path.of(option.substring(head.length())).getParent();
                return folder == null ? "(not set)" : folder.toString();
            }
        }
        return "(not set)";
    }

    public String garbageCollectors() {
        List<String> names = new ArrayList<>();
        for (GarbageCollectorMXBean bean : ManagementFactory.getGarbageCollectorMXBeans()) {
            names.add(bean.getName());
        }
        return String.join(", ", names);
    }

    public static String heap() {
        Runtime rt = Runtime.getRuntime();
        long used = rt.totalMemory() - rt.freeMemory();
        return mib(used) + " in use, " + mib(rt.totalMemory()) + " committed, " + mib(rt.maxMemory()) + " max";
    }

    private static String mib(long bytes) {
        return String.format(Locale.ROOT, "%.1f MiB", bytes / (1024.0 * 1024.0));
    }

    /** Where the demo's classes came from, as the class loader says: an archived class must name its jar too. */
    private static String codeSource() {
        java.security.CodeSource source = DemoFacts.class.getProtectionDomain().getCodeSource();
        return source == null || source.getLocation() == null ? "(none)" : source.getLocation().toString();
    }

    /** The whole report as text, one fact per line, ending in a newline. */
    public String report() {
        StringBuilder out = new StringBuilder();
        out.append("Corvane demo: a Java application running inside the corvane launcher's own process\n");
        out.append("Runtime:            ").append(runtime()).append('\n');
        out.append("Java home:          ").append(System.getProperty("java.home")).append('\n');
        out.append("Code source:        ").append(codeSource()).append('\n');
        out.append("Process id:         ").append(pid()).append('\n');
        out.append("Process executable: ").append(processCommand()).append('\n');
        out.append("Heap:               ").append(heap()).append('\n');
        out.append("Garbage collectors: ").append(garbageCollectors()).append('\n');
        out.append("Native log folder:  ").append(nativeLogFolder()).append('\n');
        out.append("Arguments (").append(args.length).append("):\n");
        for (String line : arguments()) {
            out.append("    ").append(line).append('\n');
        }
        List<String> opened = openedFiles();
        if (!opened.isEmpty()) {
            out.append("Files opened:\n");
            opened.forEach(line -> out.append("    ").append(line).append('\n'));
        }
        out.append("JVM options files, later ones win:\n");
        optionFiles().forEach(line -> out.append("    ").append(line).append('\n'));
        out.append("System properties set by the launcher:\n");
        for (String line : launcherProperties()) {
            out.append("    ").append(line).append('\n');
        }
        List<String> options = vmOptions();
        out.append("VM options (").append(options.size()).append("):\n");
        for (String option : options) {
            out.append("    ").append(option).append('\n');
        }
        return out.toString();
    }
}
