package com.vellumbry.corvane.entry;

import com.vellumbry.corvane.api.SingleInstance;
import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardOpenOption;

/**
 * The launcher tests' stand-in for the application's entry class. What it does
 * is chosen through the environment:
 * <ul>
 * <li>CORVANE_TESTAPP_REPORT=path: first writes the system properties that the
 * launcher sets and every argument to that file, one "key=value" per line,
 * values escaped (printable ASCII as is, everything else as \{hex code point},
 * a backslash as \{5c}), then what descriptors 0 to 2 are open on
 * ("fd.N=" and the path, or "&lt;closed&gt;");</li>
 * <li>CORVANE_TESTAPP_MODE: "return:N" (default "return:1") returns N;
 * "throw" throws an IllegalStateException; "exit:N" starts a non-daemon thread
 * that calls System.exit(N) after a short delay and returns 0; "gc-exit:N" the
 * same after two System.gc() calls; "exhaust-exit:N" the same after opening
 * files until no descriptor is left (they stay open); "listen" calls
 * SingleInstance.listen and returns 0, leaving the process to run until it is
 * ended by a signal.</li>
 * <li>CORVANE_TESTAPP_RECEIVED=path (with "listen"): the file gets "pid=", then
 * "listening=" (listen's result), and for the n-th second start handed over
 * (from 0) "open.n.cwd=", "open.n.argc=", "open.n.arg.k=" and "open.n.end",
 * each call's lines appended in one write, values escaped as above.</li>
 * </ul>
 */
public final class CorvaneProcessEarlyEntry {
    private static final String[] PROPERTIES = {
        "corvane.jars.path", "CORVANE_VERSION", "java.class.path", "jna.library.path",
        "jna.boot.library.path", "vindo.library.path", "jna.nounpack", "jna.nosys", "jna.noclasspath",
        "vindo.gpu.resourceCacheLimit", "vindo.buffering", "jdk.lang.processReaperUseDefaultStackSize",
        "java.io.tmpdir", "corvane.test.first", "corvane.test.crlf", "corvane.test.tree",
    };

    private static final java.util.List<java.io.FileInputStream> HELD = new java.util.ArrayList<>();

    private CorvaneProcessEarlyEntry() {
    }

    static String escape(String text) {
        if (text == null) {
            return "<null>";
        }
        StringBuilder out = new StringBuilder();
        text.codePoints().forEach(cp -> {
            if (cp >= 0x20 && cp < 0x7f && cp != '\\') {
                out.append((char) cp);
            } else {
                out.append("\\{").append(Integer.toHexString(cp)).append('}');
            }
        });
        return out.toString();
    }

    private static void report(String path, String[] args) throws IOException {
        StringBuilder out = new StringBuilder();
        out.append("pid=").append(ProcessHandle.current().pid()).append('\n');
        for (String name : PROPERTIES) {
            out.append("prop.").append(name).append('=').append(escape(System.getProperty(name))).append('\n');
        }
        out.append("argc=").append(args.length).append('\n');
        for (int i = 0; i < args.length; i++) {
            out.append("arg.").append(i).append('=').append(escape(args[i])).append('\n');
        }
        for (int fd = 0; fd <= 2; fd++) {
            String target;
            try {
                target = Files.readSymbolicLink(Paths.get("/proc/self/fd/" + fd)).toString();
            } catch (IOException e) {
                target = "<closed>";
            }
            out.append("fd.").append(fd).append('=').append(escape(target)).append('\n');
        }
        Files.write(Paths.get(path), out.toString().getBytes(StandardCharsets.US_ASCII));
    }

    private static void exhaustDescriptors() {
        try {
            while (true) {
                HELD.add(new java.io.FileInputStream("/dev/null"));
            }
        } catch (IOException e) {
            // "Too many open files": every descriptor is in use now.
        }
    }

    private static void exitLater(int status, boolean collect) {
        Thread exiter = new Thread(() -> {
            if (collect) {
                System.gc();
                System.gc();
            }
            try {
                Thread.sleep(200);
            } catch (InterruptedException ignored) {
                Thread.currentThread().interrupt();
            }
            System.exit(status);
        }, "testapp-exit");
        exiter.setDaemon(false);
        exiter.start();
    }

    private static void listen(String receivedPath) throws IOException {
        Path received = Paths.get(receivedPath);
        // Before listening: a start handed over at once appends to this.
        Files.write(received, ("pid=" + ProcessHandle.current().pid() + "\n").getBytes(StandardCharsets.US_ASCII));
        int[] calls = {0};
        boolean listening = SingleInstance.listen((workingDirectory, arguments) -> {
            String key = "open." + calls[0]++ + ".";
            StringBuilder out = new StringBuilder();
            out.append(key).append("cwd=").append(escape(workingDirectory.toString())).append('\n');
            out.append(key).append("argc=").append(arguments.size()).append('\n');
            for (int i = 0; i < arguments.size(); i++) {
                out.append(key).append("arg.").append(i).append('=').append(escape(arguments.get(i))).append('\n');
            }
            out.append(key).append("end\n");
            try {
                Files.write(received, out.toString().getBytes(StandardCharsets.US_ASCII), StandardOpenOption.APPEND);
            } catch (IOException e) {
                throw new UncheckedIOException(e);
            }
        });
        Files.write(received, ("listening=" + listening + "\n").getBytes(StandardCharsets.US_ASCII),
                StandardOpenOption.APPEND);
    }

    public static int startCorvane(String[] args) throws IOException {
        String reportPath = System.getenv("CORVANE_TESTAPP_REPORT");
        if (reportPath != null) {
            report(reportPath, args);
        }
        String mode = System.getenv("CORVANE_TESTAPP_MODE");
        if (mode == null) {
            mode = "return:1";
        }
        if (mode.equals("throw")) {
            throw new IllegalStateException("testapp was asked to throw");
        }
        int colon = mode.indexOf(':');
        String action = colon < 0 ? mode : mode.substring(0, colon);
        int value = colon < 0 ? 0 : Integer.parseInt(mode.substring(colon + 1));
        switch (action) {
            case "return":
                return value;
            case "exhaust-exit":
                exhaustDescriptors();
                exitLater(value, false);
                return 0;
            case "listen":
                listen(System.getenv("CORVANE_TESTAPP_RECEIVED"));
                return 0;
            case "exit":
            case "gc-exit":
                exitLater(value, action.equals("gc-exit"));
                return 0;
            default:
                throw new IllegalArgumentException("unknown CORVANE_TESTAPP_MODE: " + mode);
        }
    }
}
