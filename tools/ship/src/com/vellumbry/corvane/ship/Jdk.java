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

/**
 * @param home      the JDK whose tools run (jlink, jdeps, javac, jar): one of this machine
 * @param arch      the CPU the runtime is linked for, as the JDK's release file names it (OS_ARCH)
 * @param linkFrom  the jmods/ of a JDK for another CPU that jlink links the runtime from; null for home's own
 */
record Jdk(Path home, int major, String version, String arch, Path linkFrom) {
    private static final Pattern VERSION = Pattern.compile("(?m)^JAVA_VERSION=\"((?:1\\.)?(\\d+)[^\"]*)\"");
    private static final Pattern ARCH = Pattern.compile("(?m)^OS_ARCH=\"([^\"]*)\"");
    /** This machine's CPU in the release files' words. */
    static final String HOST_ARCH = System.getProperty("os.arch").equals("amd64") ? "x86_64" : System.getProperty("os.arch");

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
        String release = Exec.read(real.resolve("release"));
        Matcher m = VERSION.matcher(release);
        Matcher arch = ARCH.matcher(release);
        int major = 0;
        String version = "";
        if (m.find()) {
            version = m.group(1);
            String number = m.group(1).startsWith("1.") ? m.group(1).substring(2).split("\\.")[0] : m.group(2);
            major = Integer.parseInt(number.replaceAll("\\D.*", ""));
        }
        return new Jdk(real, major, version, arch.find() ? arch.group(1) : HOST_ARCH, null);
    }

    /** Whether the runtime is linked for another CPU than this machine's: it cannot run here. */
    boolean foreign() {
        return !arch.equals(HOST_ARCH);
    }

    /**
     * {@code target}, a JDK for another CPU, linked by a JDK of this machine of the same version:
     * {@code given}, else JAVA_HOME's or one under /usr/lib/jvm. jlink takes the target's jmods.
     */
    static Jdk linking(Jdk target, Optional<Path> given) {
        if (!Files.isDirectory(target.home().resolve("jmods"))) {
            throw Console.fail("the " + target.arch() + " JDK at " + target.home() + " has no jmods/: a runtime for another"
                    + " CPU is linked from the JDK's modules (Debian: openjdk-" + target.major() + "-jdk-headless:"
                    + debianArch(target.arch()) + ")");
        }
        List<Path> candidates = new ArrayList<>();
        given.ifPresent(candidates::add);
        if (given.isEmpty()) {
            String javaHome = System.getenv().getOrDefault("JAVA_HOME", "");
            if (!javaHome.isEmpty()) {
                candidates.add(Path.of(javaHome));
            }
            candidates.addAll(installed());
        }
        for (Path home : candidates) {
            Jdk jdk = Files.isRegularFile(home.resolve("release")) ? at(home) : null;
            if (jdk != null && !jdk.foreign() && jdk.version().equals(target.version())
                    && Files.isExecutable(jdk.bin("jlink"))) {
                return new Jdk(jdk.home(), jdk.major(), jdk.version(), target.arch(), target.home().resolve("jmods"));
            }
        }
        throw Console.fail("a runtime for " + target.arch() + " is linked by a JDK of this machine of the same version, "
                + target.version() + ": " + (given.isPresent() ? given.get() + " is none" : "none found (JAVA_HOME,"
                + " /usr/lib/jvm); install it (Debian: openjdk-" + target.major() + "-jdk-headless) or name it with --link-jdk"));
    }

    /** Debian's name of a CPU. */
    static String debianArch(String arch) {
        return switch (arch) {
            case "x86_64" -> "amd64";
            case "aarch64" -> "arm64";
            default -> arch;
        };
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
        return installed().stream()
                .filter(h -> Files.isExecutable(h.resolve("bin/javac")) && Files.isExecutable(h.resolve("bin/jlink")))
                .map(Jdk::at).filter(j -> j.major() > 0 && !j.foreign())
                .max(java.util.Comparator.comparingInt(Jdk::major).thenComparing(j -> j.home().toString()))
                .map(Jdk::home);
    }

    /** The real folders under /usr/lib/jvm, sorted (Debian's links there name the same JDKs again). */
    private static List<Path> installed() {
        try (var listing = Files.list(Path.of("/usr/lib/jvm"))) {
            return listing.filter(h -> Files.isDirectory(h, java.nio.file.LinkOption.NOFOLLOW_LINKS)).sorted().toList();
        } catch (IOException e) {
            return List.of();  // no JDKs there
        }
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
