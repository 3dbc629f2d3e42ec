// The JDK a tree is made from: its home, version, and its tools (jlink, jdeps, javac,
// jar) run in this process through ToolProvider when it is the running JDK, else as
// processes of the target JDK.
package com.vellumbry.corvane.ship;

import java.io.IOException;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Optional;
import java.util.spi.ToolProvider;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

record Jdk(Path home, int major, String version) {
    private static final Pattern VERSION = Pattern.compile("(?m)^JAVA_VERSION=\"((?:1\\.)?(\\d+)[^\"]*)\"");

    /** The JDK at {@code home}; fails when it is none. */
    static Jdk at(Path home) {
        if (!Files.isDirectory(home)) {
            throw Console.fail("JDK directory not found: " + home);
        }
        Path real;
        try {
            real = home.toRealPath();
        } catch (IOException e) {
            throw Console.fail("JDK directory not found: " + home);
        }
        Matcher m = VERSION.matcher(Exec.read(real.resolve("release")));
        int major = 0;
        String version = "";
        if (m.find()) {
            version = m.group(1);
            String number = m.group(1).startsWith("1.") ? m.group(1).substring(2).split("\\.")[0] : m.group(2);
            major = Integer.parseInt(number.replaceAll("\\D.*", ""));
        }
        return new Jdk(real, major, version);
    }

    /**
     * The JDK to link with when none is named: JAVA_HOME when it has javac, else the newest
     * JDK under /usr/lib/jvm (a real folder with javac and jlink; Debian's links name the same
     * JDKs again).
     */
    static Optional<Path> findDefault() {
        String javaHome = System.getenv().getOrDefault("JAVA_HOME", "");
        if (!javaHome.isEmpty() && Files.isExecutable(Path.of(javaHome, "bin", "javac"))) {
            return Optional.of(Path.of(javaHome));
        }
        List<Path> homes;
        try (var listing = Files.list(Path.of("/usr/lib/jvm"))) {
            homes = listing.filter(h -> Files.isDirectory(h, java.nio.file.LinkOption.NOFOLLOW_LINKS)
                    && Files.isExecutable(h.resolve("bin/javac")) && Files.isExecutable(h.resolve("bin/jlink"))).toList();
        } catch (IOException e) {
            return Optional.empty();
        }
        return homes.stream().map(Jdk::at).filter(j -> j.major() > 0)
                .max(java.util.Comparator.comparingInt(Jdk::major).thenComparing(j -> j.home().toString()))
                .map(Jdk::home);
    }

    /** The runtime version a jlinked image names in its release file. */
    static String runtimeVersion(Path image) {
        Matcher m = VERSION.matcher(Exec.read(image.resolve("release")));
        return m.find() ? m.group(1) : "unknown";
    }

    Path bin(String tool) {
        return home.resolve("bin").resolve(tool);
    }

    boolean isRunning() {
        try {
            return Path.of(System.getProperty("java.home")).toRealPath().equals(home);
        } catch (IOException e) {
            return false;
        }
    }

    /** Runs a JDK tool with {@code args}, its output into {@code log}; its status. */
    int tool(String name, List<String> args, Path log) {
        Optional<ToolProvider> provider = isRunning() ? ToolProvider.findFirst(name) : Optional.empty();
        if (provider.isEmpty()) {
            if (!Files.isExecutable(bin(name))) {
                try {
                    Files.writeString(log, "the JDK at " + home + " has no " + name + " (bin/" + name + ")\n");
                } catch (IOException e) {
                    throw Console.fail("cannot write " + log + ": " + e.getMessage());
                }
                return 127;
            }
            List<String> argv = new ArrayList<>();
            argv.add(bin(name).toString());
            argv.addAll(args);
            return Exec.run(new Exec.Command(argv), log);
        }
        try (PrintStream out = new PrintStream(Files.newOutputStream(log), true, StandardCharsets.UTF_8)) {
            return provider.get().run(out, out, args.toArray(String[]::new));
        } catch (IOException e) {
            throw Console.fail("cannot write " + log + ": " + e.getMessage());
        }
    }

    /** Runs a JDK tool; on failure fails with {@code what} and the tool's first line. Its output. */
    String toolOutput(String name, List<String> args, Path scratch, String what) {
        Path log = scratch.resolve(name + ".log");
        int status = tool(name, args, log);
        String text = Exec.read(log);
        if (status != 0) {
            throw Console.fail(what + ": " + Exec.firstLine(text));
        }
        return text;
    }
}
