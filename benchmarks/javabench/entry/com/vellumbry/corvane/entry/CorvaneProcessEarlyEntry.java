package com.vellumbry.corvane.entry;

import java.io.PrintStream;
import java.time.Instant;

/**
 * The benchmarks' entry class. What it does is chosen with CORVANE_BENCH_MODE:
 * <ul>
 * <li>"stamp-halt": prints "entry_us=" and the wall-clock time in microseconds
 * since the epoch on standard output and halts the VM at once with status 0;</li>
 * <li>"stamp-exit:N": returns 0; a non-daemon thread waits N ms, prints
 * "exit_us=" and the wall-clock time in microseconds, and calls System.exit(0);</li>
 * <li>"idle": returns 0; a non-daemon thread sleeps until the process is ended;</li>
 * <li>"paint-halt": returns 0 after opening a window with menus, a tree, a table
 * and a text area; once its first paint has completed, prints "paint_us=" and
 * the wall-clock time in microseconds and halts the VM with status 0;</li>
 * <li>anything else, or unset: returns 1.</li>
 * </ul>
 * The time is printed as one line and flushed before the VM ends.
 */
public final class CorvaneProcessEarlyEntry {
    private CorvaneProcessEarlyEntry() {
    }

    private static void stamp(String label) {
        Instant now = Instant.now();
        long micros = now.getEpochSecond() * 1_000_000L + now.getNano() / 1_000;
        PrintStream out = System.out;
        out.println(label + micros);
        out.flush();
    }

    private static void startThread(Runnable body, String name) {
        Thread thread = new Thread(body, name);
        thread.setDaemon(false);
        thread.start();
    }

    public static int startCorvane(String[] args) {
        String mode = System.getenv("CORVANE_BENCH_MODE");
        if (mode == null) {
            return 1;
        }
        if (mode.equals("stamp-halt")) {
            stamp("entry_us=");
            Runtime.getRuntime().halt(0);
            return 0; // not reached
        }
        if (mode.startsWith("stamp-exit:")) {
            long delay = Long.parseLong(mode.substring("stamp-exit:".length()));
            startThread(() -> {
                try {
                    Thread.sleep(delay);
                } catch (InterruptedException e) {
                    Thread.currentThread().interrupt();
                }
                stamp("exit_us=");
                System.exit(0);
            }, "bench-exit");
            return 0;
        }
        if (mode.equals("paint-halt")) {
            PaintWindow.open(() -> {
                stamp("paint_us=");
                Runtime.getRuntime().halt(0);
            });
            return 0;
        }
        if (mode.equals("idle")) {
            startThread(() -> {
                try {
                    Thread.sleep(Long.MAX_VALUE);
                } catch (InterruptedException e) {
                    Thread.currentThread().interrupt();
                }
            }, "bench-idle");
            return 0;
        }
        return 1;
    }
}
