// Runs programs with plain argument lists (never through a shell), their output in a
// file, with a time limit. Every running child is known, so that an interrupted tool
// ends them before it cleans up.
package com.vellumbry.corvane.ship;

import java.io.File;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.concurrent.ConcurrentHashMap;
import java.util.concurrent.TimeUnit;

final class Exec {
    /** The status of a run that its time limit ended, as timeout(1) gives it. */
    static final int TIMED_OUT = 124;
    private static final Set<Process> RUNNING = ConcurrentHashMap.newKeySet();

    private Exec() {
    }

    /** A command, the environment changes it runs with, its limit in seconds (0: none) and folder (null: ours). */
    record Command(List<String> argv, Map<String, String> set, Set<String> unset, int seconds, Path dir) {
        Command(List<String> argv) {
            this(argv, Map.of(), Set.of(), 0, null);
        }

        Command(List<String> argv, Map<String, String> set, Set<String> unset, int seconds) {
            this(argv, set, unset, seconds, null);
        }
    }

    /** Runs the command with stdin on /dev/null and stdout and stderr into {@code output}; its status. */
    static int run(Command command, Path output) {
        ProcessBuilder builder = new ProcessBuilder(command.argv())
                .redirectInput(ProcessBuilder.Redirect.from(new File("/dev/null")))
                .redirectErrorStream(true)
                .redirectOutput(output.toFile());
        if (command.dir() != null) {
            builder.directory(command.dir().toFile());
        }
        Map<String, String> env = builder.environment();
        command.unset().forEach(env::remove);
        env.putAll(command.set());
        Process process;
        try {
            process = builder.start();
        } catch (IOException e) {
            throw Console.fail("cannot run " + command.argv().get(0) + ": " + e.getMessage());
        }
        RUNNING.add(process);
        try {
            if (command.seconds() <= 0) {
                return process.waitFor();
            }
            if (process.waitFor(command.seconds(), TimeUnit.SECONDS)) {
                return process.exitValue();
            }
            process.destroy();
            if (!process.waitFor(30, TimeUnit.SECONDS)) {
                process.destroyForcibly().waitFor();
            }
            return TIMED_OUT;
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            process.destroyForcibly();
            throw Console.fail("interrupted while " + command.argv().get(0) + " ran");
        } finally {
            RUNNING.remove(process);
        }
    }

    /** Runs the command and returns its output; a non-zero status fails with {@code what} and the first line. */
    static String output(List<String> argv, Path scratch, String what) {
        Path out = scratch.resolve("exec-" + Path.of(argv.get(0)).getFileName() + ".out");
        int status = run(new Command(argv), out);
        String text = read(out);
        if (status != 0) {
            throw Console.fail(what + ": " + firstLine(text));
        }
        return text;
    }

    /** Ends every child still running (an interrupted tool). */
    static void endAll() {
        for (Process process : RUNNING) {
            process.destroyForcibly();
        }
        for (Process process : RUNNING) {
            try {
                process.waitFor(10, TimeUnit.SECONDS);
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
                return;
            }
        }
    }

    static boolean onPath(String program) {
        for (String dir : System.getenv().getOrDefault("PATH", "").split(":")) {
            if (!dir.isEmpty() && Files.isExecutable(Path.of(dir, program))) {
                return true;
            }
        }
        return false;
    }

    static String read(Path file) {
        try {
            return Files.readString(file, StandardCharsets.UTF_8);
        } catch (IOException e) {
            return "";
        }
    }

    static String firstLine(String text) {
        return text.lines().filter(l -> !l.isBlank()).findFirst().orElse("(no output)").strip();
    }
}
