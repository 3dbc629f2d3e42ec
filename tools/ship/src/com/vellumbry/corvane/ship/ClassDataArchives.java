// The runtime's default class-data archives: dumped by the tree's own java with the
// option list the launcher gives (--print-jvm-options, so the VM maps them on every start), optionally from
// a trained class list with ahead-of-time linking, and checked by a probe run that the
// VM maps them with the full module graph. Nothing in the tree is edited for a probe.
package com.vellumbry.corvane.ship;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

final class ClassDataArchives {
    /** Ahead-of-time class linking and compact object headers came with this JDK. */
    static final int AOT_LINKING_SINCE = 24;
    /** The rest of the line: the archive's path may hold blanks. */
    private static final Pattern DUMPED = Pattern.compile("Dumping shared data to file:? (.+\\.jsa)\\s*$", Pattern.MULTILINE);

    private final Jdk jdk;
    private final Path tree;
    private final Path scratch;
    private final Console console;
    private final TreeRuns runs;

    ClassDataArchives(Jdk jdk, Path tree, Path scratch, Console console) {
        this.jdk = jdk;
        this.tree = tree;
        this.scratch = scratch;
        this.console = console;
        this.runs = new TreeRuns(tree, scratch, probeJar());
    }

    TreeRuns runs() {
        return runs;
    }

    /** The option lists to dump for: with compact object headers (new JDKs) and without. */
    List<Boolean> variants() {
        return jdk.major() >= AOT_LINKING_SINCE ? List.of(true, false) : List.of(false);
    }

    /**
     * Dumps the default archive for the option list of CORVANE_AGGRESSIVE_OPTIMIZATIONS =
     * {@code aggressive}, from {@code classList} when given, and checks it with a probe run.
     * Returns a description such as "classes_coh.jsa trained (full module graph)".
     */
    String dump(boolean aggressive, Path classList) {
        String variant = "CORVANE_AGGRESSIVE_OPTIMIZATIONS=" + (aggressive ? 1 : 0);
        List<String> launcherOptions = runs.launcherOptions(aggressive);
        String archive = dumpWith(launcherOptions, classList, aggressive, variant);
        TreeRuns.Run probe = runs.probe("probe-" + (aggressive ? 1 : 0), aggressive, List.of("-Xlog:cds"));
        if (probe.status() != 0) {
            throw Console.fail("the archive probe run ended with status " + probe.status() + ": " + probe.lastOutputLine());
        }
        List<String> messages = probe.vmMessages();
        String opened = "Opened shared archive file " + tree.resolve("jre/lib/server").resolve(archive) + ".";
        if (!messages.contains(opened) && !messages.contains(opened.substring(0, opened.length() - 1))) {
            throw Console.fail("the probe run did not use the new archive " + archive + ": "
                    + firstMatching(messages, "(?i).*(disabl|mismatch|fail|error|not ).*"));
        }
        String trained = classList == null ? "" : " trained";
        String result;
        if (messages.contains("full module graph: enabled")) {
            result = archive + trained + " (full module graph)";
        } else if (jdk.major() >= AOT_LINKING_SINCE) {
            throw Console.fail("the archive " + archive + " is used but without the full module graph: "
                    + firstMatching(messages, "(?i).*module graph.*"));
        } else {
            result = archive + trained + " (without the full module graph on JDK " + jdk.major() + ")";
        }
        console.say("archive " + archive + " dumped with " + variant + " and in use: " + result);
        return result;
    }

    /** Runs -Xshare:dump with the launcher's options; the archive's file name, as the VM names it. */
    private String dumpWith(List<String> launcherOptions, Path classList, boolean aggressive, String variant) {
        Path argFile = scratch.resolve("dump-" + (aggressive ? 1 : 0) + ".argfile");
        StringBuilder quoted = new StringBuilder();
        for (String option : launcherOptions) {
            quoted.append('"').append(option.replace("\\", "\\\\").replace("\"", "\\\"")).append("\"\n");
        }
        try {
            Files.writeString(argFile, quoted, StandardCharsets.UTF_8);
        } catch (IOException e) {
            throw Console.fail("cannot write " + argFile + ": " + e.getMessage());
        }
        List<String> argv = new ArrayList<>(List.of(tree.resolve("jre/bin/java").toString(), "@" + argFile,
                "-Xshare:dump", "-Xlog:cds"));
        if (classList != null) {
            argv.add("-XX:SharedClassListFile=" + classList);
            if (jdk.major() >= AOT_LINKING_SINCE) {
                argv.add("-XX:+AOTClassLinking");
            }
        }
        Path out = scratch.resolve("dump-" + (aggressive ? 1 : 0) + ".out");
        int status = Exec.run(new Exec.Command(argv), out);
        String text = Exec.read(out);
        Matcher m = DUMPED.matcher(text);
        Path archive = m.find() ? Path.of(m.group(1)) : null;
        if (status != 0 || archive == null || !Files.isRegularFile(archive)) {
            throw Console.fail("the archive dump (" + variant + ") failed with status " + status + ": "
                    + firstMatching(text.lines().toList(), "(?i).*(error|fail).*"));
        }
        return archive.getFileName().toString();
    }

    /** A tiny entry that returns 1 ("exit with status 0 at once"), for the probes. */
    private Path probeJar() {
        Path src = Templates.toolsDir().resolve("ship/templates/probe/CorvaneProcessEarlyEntry.java");
        Path classes = scratch.resolve("probe-classes");
        Path jar = scratch.resolve("corvane-cds-probe.jar");
        jdk.toolOutput("javac", List.of("--release", "11", "-d", classes.toString(), src.toString()), scratch,
                "cannot build the probe entry with " + jdk.bin("javac"));
        jdk.toolOutput("jar", List.of("--create", "--file", jar.toString(), "-C", classes.toString(), "."), scratch,
                "cannot build the probe entry's jar");
        return jar;
    }

    static String firstMatching(List<String> lines, String regex) {
        return lines.stream().filter(l -> l.matches(regex)).findFirst().orElse(
                lines.isEmpty() ? "(no output)" : lines.get(lines.size() - 1)).strip();
    }
}
