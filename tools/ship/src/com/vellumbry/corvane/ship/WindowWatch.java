// Watches the display while a training run lasts and keeps the class (WM_CLASS) of
// the first window the application maps as a desktop shows it: viewable, managed (not
// override-redirect, as splash screens, menus and tool tips are) and new since the run
// began. An SWT application, or one that sets its own class, names its windows
// otherwise than java's rule; the desktop matches windows to menu entries by it.
// Reads the display with x11-utils' xwininfo and xprop; without them, sees nothing.
package com.vellumbry.corvane.ship;

import java.nio.file.Path;
import java.util.HashSet;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

final class WindowWatch {
    private static final Pattern WINDOW = Pattern.compile("^\\s*(0x[0-9a-fA-F]+) .*: \\(\"([^\"]*)\" \"([^\"]*)\"\\).*$");
    private static final long POLL_MILLIS = 100;

    private final String display;
    private final Path scratch;
    private final Set<String> before;
    private final Thread thread;
    private volatile String seen = "";
    private volatile boolean stopped;

    private WindowWatch(String display, Path scratch) {
        this.display = display;
        this.scratch = scratch;
        this.before = windows().keySet();
        this.thread = new Thread(this::watch, "window-watch");
        this.thread.setDaemon(true);
    }

    /** Starts watching {@code display}; null, with a note, when xwininfo is missing. */
    static WindowWatch start(String display, Path scratch, Console console) {
        if (!Exec.onPath("xwininfo") || !Exec.onPath("xprop")) {
            console.say("NOTE: xwininfo or xprop (Debian package x11-utils) is missing: the window class is not observed,"
                    + " java's rule names it (--wm-class sets it)");
            return null;
        }
        WindowWatch watch = new WindowWatch(display, scratch);
        watch.thread.start();
        return watch;
    }

    /** Stops watching; the class of the window seen, or "" for none. */
    String stop() {
        stopped = true;
        try {
            thread.join(10_000);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
        return seen;
    }

    private void watch() {
        while (!stopped && seen.isEmpty()) {
            for (Map.Entry<String, String> window : windows().entrySet()) {
                if (!before.contains(window.getKey()) && managedAndViewable(window.getKey())) {
                    seen = window.getValue();
                    break;
                }
            }
            try {
                Thread.sleep(POLL_MILLIS);
            } catch (InterruptedException e) {
                return;
            }
        }
    }

    /** Every window of the display that carries a class, by id: its class (WM_CLASS's second string). */
    private Map<String, String> windows() {
        Map<String, String> windows = new java.util.LinkedHashMap<>();
        for (String line : query(List.of("xwininfo", "-root", "-tree")).split("\n")) {
            Matcher m = WINDOW.matcher(line);
            if (m.matches() && !m.group(3).isEmpty()) {
                windows.put(m.group(1), m.group(3));
            }
        }
        return windows;
    }

    /**
     * A window as a desktop lists it: viewable, not override-redirect, and naming its process
     * (_NET_WM_PID), which toolkits set on their top-level windows alone, not on the windows
     * inside them (AWT's FocusProxy carries a class of its own).
     */
    private boolean managedAndViewable(String id) {
        Set<String> lines = new HashSet<>(query(List.of("xwininfo", "-id", id)).lines().map(String::strip).toList());
        return lines.contains("Map State: IsViewable") && lines.contains("Override Redirect State: no")
                && query(List.of("xprop", "-id", id, "_NET_WM_PID")).matches("(?s)_NET_WM_PID\\(CARDINAL\\) = \\d+.*");
    }

    private String query(List<String> argv) {
        Path out = scratch.resolve("window-watch.out");
        int status = Exec.run(new Exec.Command(argv, Map.of("DISPLAY", display), Set.of(), 10), out);
        return status == 0 ? Exec.read(out) : "";
    }

    /** The class in one line of xwininfo -tree, or "" (for the table test). */
    static String classOf(String line) {
        Matcher m = WINDOW.matcher(line);
        return m.matches() ? m.group(3) : "";
    }
}
