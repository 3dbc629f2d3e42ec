// Runs of a tree's own launcher at assembly: probes (a tiny entry in a scratch tree
// that links to the new tree's runtime) and the application itself for training. Each
// run has its native log and console output in a scratch folder of its own.
package com.vellumbry.corvane.ship;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.HashSet;
import java.util.List;
import java.util.Map;
import java.util.Set;

final class TreeRuns {
    /** The environment variables that change the launcher's option list, and the VM's own. */
    static final List<String> OPTION_VARIABLES = List.of("CORVANE_AGGRESSIVE_OPTIMIZATIONS",
            "CORVANE_GC_FORCE_SERIAL_GC", "CORVANE_GC_FORCE_PARALLEL_GC", "CORVANE_GC_AGGRESSIVE_RECLAIM",
            "CORVANE_GC_MAX_PAUSE_MILLIS", "CORVANE_NATIVE_EXECUTABLE_DIR_OVERRIDE");
    private static final List<String> VM_VARIABLES = List.of("JAVA_TOOL_OPTIONS", "_JAVA_OPTIONS", "JDK_JAVA_OPTIONS");
    /** tools/lib/ship keeps the caller's JVM option variables under this prefix, away from the tool's own VM. */
    private static final String CALLER_PREFIX = "CORVANE_CALLER";
    private static final String LOG_NAME = "corvane-native.log";

    private final Path tree;
    private final Path scratch;
    private final Path probeTree;

    /** A finished run: its status, native log and console output. */
    record Run(int status, Path log, Path out, Path argsFile) {
        /** The VM's own messages, one per line, without the hook's prefix and decoration pieces. */
        List<String> vmMessages() {
            List<String> messages = new ArrayList<>();
            for (String line : Exec.read(log).split("\n")) {
                int at = line.indexOf(" jvm_vprintf JVM:  ");
                if (at < 0) {
                    continue;
                }
                String message = line.substring(at + " jvm_vprintf JVM:  ".length());
                if (!message.isBlank() && !message.matches("\\[[^]]*\\] *")) {
                    messages.add(message);
                }
            }
            return messages;
        }

        /** The launcher's option list from its "JVM Args:" block: no hooks, no class path, no lines of its --jvm-args file. */
        List<String> launcherOptions() {
            Set<String> ours = new HashSet<>(Exec.read(argsFile).lines().toList());
            List<String> options = new ArrayList<>();
            boolean block = false;
            for (String line : Exec.read(log).split("\n")) {
                if (line.contains(" startJVM JVM Args:")) {
                    block = true;
                } else if (block && line.startsWith("\t")) {
                    String option = line.substring(1);
                    if (!ours.contains(option) && !List.of("vfprintf", "exit", "abort", "").contains(option)
                            && !option.startsWith("-Djava.class.path=")) {
                        options.add(option);
                    }
                } else if (block) {
                    break;
                }
            }
            return options;
        }

        String lastOutputLine() {
            List<String> lines = Exec.read(out).lines().filter(l -> !l.isBlank()).toList();
            return lines.isEmpty() ? "(no output)" : lines.get(lines.size() - 1);
        }
    }

    TreeRuns(Path tree, Path scratch, Path probeJar) {
        this.tree = tree;
        this.scratch = scratch;
        this.probeTree = scratch.resolve("probe-tree");
        try {
            Files.createDirectories(probeTree.resolve("lib"));
            Files.createSymbolicLink(probeTree.resolve("jre"), tree.resolve("jre"));
            Files.copy(probeJar, probeTree.resolve("lib").resolve(probeJar.getFileName()));
            Files.writeString(probeTree.resolve("lib/manifest-bootstrap.txt"), probeJar.getFileName() + "\n");
            Files.writeString(probeTree.resolve(TreeRecord.FILE), TreeRecord.DURING_ASSEMBLY);
            Path options = tree.resolve("lib/jvm-options.txt");
            if (Files.exists(options)) {
                Files.createSymbolicLink(probeTree.resolve("lib/jvm-options.txt"), options);
            }
        } catch (IOException e) {
            throw Console.fail("cannot make the probe tree in " + scratch + ": " + e.getMessage());
        }
    }

    /** The probe entry (it returns at once) in the scratch tree, with the given JVM options, no display. */
    Run probe(String tag, boolean aggressive, List<String> jvmArgs) {
        Map<String, String> set = new HashMap<>();
        set.put("CORVANE_NATIVE_EXECUTABLE_DIR_OVERRIDE", probeTree.toString());
        Set<String> unset = new HashSet<>(VM_VARIABLES);
        VM_VARIABLES.forEach(v -> unset.add(CALLER_PREFIX + v));
        unset.add("DISPLAY");
        return run(tag, aggressive, jvmArgs, List.of(), set, unset, 120);
    }

    /** The application in the tree, on {@code display}, for at most {@code seconds}, in the caller's environment. */
    Run application(String tag, boolean aggressive, List<String> jvmArgs, List<String> args, String display, int seconds) {
        Map<String, String> set = new HashMap<>(Map.of("DISPLAY", display));
        Set<String> unset = new HashSet<>();
        for (String variable : VM_VARIABLES) {
            String callers = System.getenv(CALLER_PREFIX + variable);
            if (callers != null) {
                set.put(variable, callers);
            }
            unset.add(CALLER_PREFIX + variable);
        }
        return run(tag, aggressive, jvmArgs, args, set, unset, seconds);
    }

    private Run run(String tag, boolean aggressive, List<String> jvmArgs, List<String> args,
                    Map<String, String> extraSet, Set<String> extraUnset, int seconds) {
        Path logs = scratch.resolve(tag);
        Path argsFile = scratch.resolve(tag + ".args");
        Path out = scratch.resolve(tag + ".out");
        try {
            Files.createDirectories(logs);
            Files.writeString(argsFile, String.join("\n", jvmArgs) + "\n", StandardCharsets.UTF_8);
        } catch (IOException e) {
            throw Console.fail("cannot write in " + scratch + ": " + e.getMessage());
        }
        Set<String> unset = new HashSet<>(OPTION_VARIABLES);
        unset.addAll(extraUnset);
        Map<String, String> set = new HashMap<>(extraSet);
        set.put("CORVANE_AGGRESSIVE_OPTIMIZATIONS", aggressive ? "1" : "0");
        set.put("CORVANE_NATIVE_LOG_DIR_OVERRIDE", logs.toString());
        List<String> argv = new ArrayList<>(List.of(tree.resolve("corvane").toString(), "--jvm-args=" + argsFile));
        argv.addAll(args);
        int status = Exec.run(new Exec.Command(argv, set, unset, seconds), out);
        return new Run(status, logs.resolve(LOG_NAME), out, argsFile);
    }
}
