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
    private static final String AGGRESSIVE = Contract.value("env.aggressive");
    private static final String INSTALL_DIR = Contract.value("env.install-dir");
    private static final String LOG_DIR = Contract.value("env.log-dir");
    static final List<String> OPTION_VARIABLES = List.of(AGGRESSIVE, "CORVANE_GC_FORCE_SERIAL_GC",
            "CORVANE_GC_FORCE_PARALLEL_GC", "CORVANE_GC_AGGRESSIVE_RECLAIM", "CORVANE_GC_MAX_PAUSE_MILLIS", INSTALL_DIR);
    static final List<String> VM_VARIABLES = List.of("JAVA_TOOL_OPTIONS", "_JAVA_OPTIONS", "JDK_JAVA_OPTIONS");
    /** tools/lib/ship keeps the caller's JVM option variables under this prefix, away from the tool's own VM. */
    static final String CALLER_PREFIX = "CORVANE_CALLER";
    private static final String LOG_NAME = "corvane-native.log";

    private final Path tree;
    private final Path scratch;
    private final Path probeTree;

    /** A finished run: its status, native log, console output and the VM's own log (its -Xlog options). */
    record Run(int status, Path log, Path out, Path vmLog) {
        /** The VM's messages, one per line, as -Xlog wrote them to the run's own file. */
        List<String> vmMessages() {
            return Exec.read(vmLog).lines().filter(l -> !l.isBlank()).toList();
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

    /**
     * The option list the tree's launcher gives the VM (--print-jvm-options) in the scratch tree, without the
     * class path: what an archive of the runtime's classes is dumped with.
     */
    List<String> launcherOptions(boolean aggressive) {
        String tag = "options-" + (aggressive ? 1 : 0);
        Map<String, String> set = new HashMap<>(Map.of(INSTALL_DIR, probeTree.toString()));
        set.put(AGGRESSIVE, aggressive ? "1" : "0");
        Path logs = scratch.resolve(tag);
        set.put(LOG_DIR, logs.toString());
        Set<String> unset = new HashSet<>(OPTION_VARIABLES);
        unset.removeAll(set.keySet());
        unset.addAll(VM_VARIABLES);
        Path out = scratch.resolve(tag + ".out");
        try {
            Files.createDirectories(logs);
        } catch (IOException e) {
            throw Console.fail("cannot write in " + scratch + ": " + e.getMessage());
        }
        int status = Exec.run(new Exec.Command(List.of(tree.resolve("corvane").toString(), Contract.value("flag.print-jvm-options")),
                set, unset, 120), out);
        String text = Exec.read(out);
        if (status != 0 || !text.endsWith("\0")) {
            throw Console.fail("the launcher gave no option list (--print-jvm-options ended with status " + status
                    + "; its log: " + ClassDataArchives.firstMatching(Exec.read(logs.resolve(LOG_NAME)).lines().toList(),
                    ".*ERROR.*") + ")");
        }
        return List.of(text.split("\0")).stream().filter(o -> !o.startsWith("-Djava.class.path=")).toList();
    }

    /** The probe entry (it returns at once) in the scratch tree, with the given JVM options, no display. */
    Run probe(String tag, boolean aggressive, List<String> jvmArgs) {
        Map<String, String> set = new HashMap<>();
        set.put(INSTALL_DIR, probeTree.toString());
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

    /**
     * Runs the tree's launcher with {@code jvmArgs} in a --jvm-args= file; an -Xlog option without an output
     * of its own writes to the run's VM log file, in the VM's own words, one message a line.
     */
    private Run run(String tag, boolean aggressive, List<String> jvmArgs, List<String> args,
                    Map<String, String> extraSet, Set<String> extraUnset, int seconds) {
        Path logs = scratch.resolve(tag);
        Path argsFile = scratch.resolve(tag + ".args");
        Path out = scratch.resolve(tag + ".out");
        Path vmLog = scratch.resolve(tag + ".vm.log");
        List<String> options = jvmArgs.stream().map(a -> a.startsWith("-Xlog:") && a.indexOf(':', 6) < 0
                ? a + ":file=" + vmLog + ":none:filecount=0" : a).toList();
        try {
            Files.createDirectories(logs);
            Files.writeString(argsFile, String.join("\n", options) + "\n", StandardCharsets.UTF_8);
        } catch (IOException e) {
            throw Console.fail("cannot write in " + scratch + ": " + e.getMessage());
        }
        Set<String> unset = new HashSet<>(OPTION_VARIABLES);
        unset.addAll(extraUnset);
        Map<String, String> set = new HashMap<>(extraSet);
        set.put(AGGRESSIVE, aggressive ? "1" : "0");
        set.put(LOG_DIR, logs.toString());
        List<String> argv = new ArrayList<>(List.of(tree.resolve("corvane").toString(), "--jvm-args=" + argsFile));
        argv.addAll(args);
        int status = Exec.run(new Exec.Command(argv, set, unset, seconds), out);
        return new Run(status, logs.resolve(LOG_NAME), out, vmLog);
    }
}
