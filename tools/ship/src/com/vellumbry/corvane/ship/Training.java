// Trains a tree's default archives on its application: a run records the classes it
// loads, the archives are dumped from that list, and a check run must show the VM
// mapping the trained archive and serving the runtime's classes from it. The
// application's own classes stay in its jars: an archived class would keep the path of
// the jar it was dumped from, which a moved or installed tree no longer has.
package com.vellumbry.corvane.ship;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.function.Consumer;

final class Training {
    static final String LIST = "trained-classes.lst";
    private static final String ENTRY_SOURCE = AppJars.ENTRY_CLASS + " source: ";

    /** How to train: the application's arguments and the time limit of each run. */
    record Plan(List<String> args, int seconds) {
    }

    /** What training made: the archives' descriptions, and the class of the window the application mapped ("" for none). */
    record Result(List<String> archives, String windowClass) {
    }

    private Training() {
    }

    /**
     * Trains the archives; {@code recorded} gets the class list before they are dumped. Returns their
     * descriptions and the window class the first run showed.
     */
    static Result train(ClassDataArchives archives, Plan plan, boolean aggressive, Path tree, Path scratch,
                        int jdkMajor, Console console, Consumer<Path> recorded) {
        Display display = Display.open(scratch, console);
        TreeRuns runs = archives.runs();
        Path list = scratch.resolve("classes.lst");
        console.say("training run: the application once, up to " + plan.seconds() + " s");
        WindowWatch watch = WindowWatch.start(display.name(), scratch, console);
        TreeRuns.Run first = run(runs, "train-list", aggressive, List.of("-XX:DumpLoadedClassList=" + list), plan,
                display, console);
        String windowClass = watch == null ? "" : watch.stop();
        if (!Exec.read(list).contains(AppJars.ENTRY_CLASS.replace('.', '/'))) {
            throw Console.fail("the training run loaded no entry class (status " + first.status() + "): "
                    + first.lastOutputLine());
        }
        int dropped = withoutOwnLoaders(list);
        if (dropped > 0) {
            console.say("training: " + dropped + " classes that class loaders of the application's own loaded"
                    + " (plugins, say) stay out of the archives, which hold the class path's classes");
        }
        recorded.accept(list);
        List<String> made = new ArrayList<>();
        for (boolean variant : archives.variants()) {
            made.add(archives.dump(variant, list));
        }
        console.say("check run: the application with the trained archive");
        // A window shown only for a moment (an application that ends after its first paint) may have
        // slipped between two looks.
        WindowWatch again = windowClass.isEmpty() ? WindowWatch.start(display.name(), scratch, console) : null;
        TreeRuns.Run check = run(runs, "train-check", aggressive, List.of("-Xlog:cds", "-Xlog:class+load"), plan,
                display, console);
        if (again != null) {
            windowClass = again.stop();
        }
        console.say(checkMessages(check.vmMessages(), tree.resolve("jre/lib/server"), jdkMajor, check));
        display.close();
        try {
            Files.copy(list, tree.resolve("jre/lib/server").resolve(LIST));
        } catch (IOException e) {
            throw Console.fail("cannot keep the training class list: " + e.getMessage());
        }
        return new Result(made, windowClass);
    }

    /**
     * Leaves out the classes of the application's own class loaders (the lines with a source): a
     * dump cannot always load them (a plugin's class whose super class another plugin's loader
     * holds stops the whole dump), and they often come from outside the tree. Returns how many.
     */
    private static int withoutOwnLoaders(Path list) {
        List<String> lines = Exec.read(list).lines().toList();
        List<String> kept = lines.stream().filter(line -> !line.contains(" source: ")).toList();
        if (kept.size() < lines.size()) {
            try {
                Files.write(list, kept);
            } catch (IOException e) {
                throw Console.fail("cannot write the training class list: " + e.getMessage());
            }
        }
        return lines.size() - kept.size();
    }

    private static TreeRuns.Run run(TreeRuns runs, String tag, boolean aggressive, List<String> jvmArgs, Plan plan,
                                    Display display, Console console) {
        TreeRuns.Run run = runs.application(tag, aggressive, jvmArgs, plan.args(), display.name(), plan.seconds());
        if (run.status() == Exec.TIMED_OUT) {
            console.say("training run " + tag + " ended at the time limit of " + plan.seconds() + " s");
        } else if (run.status() != 0) {
            console.say("training run " + tag + ": the application ended with status " + run.status() + " (log: "
                    + ClassDataArchives.firstMatching(Exec.read(run.log()).lines().toList(), ".*ERROR.*") + ")");
        }
        return run;
    }

    /**
     * Checks the VM's messages of the check run: the trained archive below {@code serverDir}
     * is mapped (with the full module graph where the JDK has it), the entry class was loaded,
     * and most runtime classes came from the archive. Returns what it found.
     */
    static String checkMessages(List<String> messages, Path serverDir, int jdkMajor, TreeRuns.Run run) {
        String opened = "Opened shared archive file " + serverDir + "/";
        boolean mapped = messages.stream().anyMatch(m -> m.startsWith(opened) && m.matches(".*\\.jsa\\.?"));
        if (!mapped) {
            List<String> sharing = messages.stream().filter(m -> !m.contains(" source: ")).toList();
            throw Console.fail("the check run did not map the trained archive: "
                    + ClassDataArchives.firstMatching(sharing, "(?i).*(mismatch|not the one|error|disabl|shar).*"));
        }
        if (jdkMajor >= ClassDataArchives.AOT_LINKING_SINCE && !messages.contains("full module graph: enabled")) {
            throw Console.fail("the check run with the trained archive has no full module graph: "
                    + ClassDataArchives.firstMatching(messages, "(?i).*module graph.*"));
        }
        if (messages.stream().noneMatch(m -> m.startsWith(ENTRY_SOURCE))) {
            throw Console.fail("the check run loaded no entry class (status " + run.status() + "): " + run.lastOutputLine());
        }
        long runtime = messages.stream().filter(m -> m.matches("\\S+ source: (jrt:/|shared objects file).*")).count();
        long shared = messages.stream().filter(m -> m.matches("\\S+ source: shared objects file.*")).count();
        if (shared * 2 <= runtime) {
            throw Console.fail("only " + shared + " of the " + runtime
                    + " runtime classes of the check run come from the trained archive");
        }
        return "trained archive in use: " + shared + " of the " + runtime
                + " runtime classes the application loaded came from it";
    }
}
