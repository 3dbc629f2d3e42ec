// The display training runs the application on: the caller's DISPLAY, else a private
// Xvfb started by tools/lib/start-xvfb (the one Xvfb start-up of the project).
package com.vellumbry.corvane.ship;

import java.nio.file.Path;
import java.util.List;

final class Display {
    private final String name;
    private final long xvfbPid;

    private Display(String name, long xvfbPid) {
        this.name = name;
        this.xvfbPid = xvfbPid;
    }

    /** True when there is a display or Xvfb can make one. */
    static boolean available() {
        return !System.getenv().getOrDefault("DISPLAY", "").isEmpty() || Exec.onPath("Xvfb");
    }

    static Display open(Path scratch, Console console) {
        String display = System.getenv().getOrDefault("DISPLAY", "");
        if (!display.isEmpty()) {
            return new Display(display, 0);
        }
        String script = Templates.toolsDir().resolve("lib/start-xvfb").toString();
        String line = Exec.output(List.of(script, scratch.resolve("xvfb.log").toString()), scratch,
                "Xvfb did not start for the training run").strip();
        String[] parts = line.split(" ");
        if (parts.length != 2 || !parts[0].startsWith(":") || !parts[1].matches("\\d+")) {
            throw Console.fail("Xvfb did not start for the training run: start-xvfb printed '" + line + "'");
        }
        Display opened = new Display(parts[0], Long.parseLong(parts[1]));
        Workspace.atExit(opened::close);
        console.say("training on a private Xvfb, display " + opened.name);
        return opened;
    }

    String name() {
        return name;
    }

    void close() {
        if (xvfbPid > 0) {
            ProcessHandle.of(xvfbPid).ifPresent(ProcessHandle::destroy);
        }
    }
}
