// The tree's private runtime, made with jlink from the target JDK without debug data,
// headers or man pages. By default it holds what that JDK's java offers a class-path
// application, less the development tools: jdeps cannot see reflection and service
// loading. "minimal" holds what jdeps (and a training run) show the jars use.
package com.vellumbry.corvane.ship;

import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Collection;
import java.util.Collections;
import java.util.Enumeration;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.TreeSet;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import java.util.stream.Stream;
import java.util.zip.ZipEntry;
import java.util.zip.ZipFile;
import java.util.zip.ZipOutputStream;

final class RuntimeImage {
    /** The minimal choice's floor; jdeps cannot see the need for locale data. */
    static final List<String> BASE_MODULES =
            List.of("java.base", "java.desktop", "java.logging", "jdk.localedata", "jdk.unsupported");

    /**
     * Development tools that java resolves for a class-path application (as service providers
     * of java.base's ToolProvider and the like) but an application does not run from its
     * runtime, and why. A module kept by default that requires one keeps it (jdk.compiler
     * keeps jdk.internal.opt, jdk.attach keeps jdk.internal.jvmstat); jars that use one, or
     * --add-modules, bring it back.
     */
    static final Map<String, String> TOOLS = tools(
            "jdk.jlink", "jlink, jmod and jimage, which make runtimes",
            "jdk.jpackage", "jpackage, which packages applications",
            "jdk.jdeps", "jdeps, javap, jdeprscan, jnativescan: class file analysis",
            "jdk.javadoc", "javadoc",
            "jdk.jartool", "jar and jarsigner (java.util.jar reads and writes jars)",
            "jdk.jshell", "jshell, which runs snippets in a VM of its own",
            "jdk.editpad", "jshell's editor",
            "jdk.internal.ed", "jshell's editor support",
            "jdk.internal.le", "jshell's line editor (System.console() is java.base's)",
            "jdk.jconsole", "jconsole, a monitoring window for other VMs",
            "jdk.jstatd", "jstatd, a daemon that serves other VMs' statistics",
            "jdk.jdi", "the debugger interface of jdb and IDEs (to debug others)",
            "jdk.jdwp.agent", "the debugging agent (-agentlib:jdwp): debug on the JDK");

    private static final Pattern MODULES = Pattern.compile("(?m)^MODULES=\"([^\"]*)\"");

    /**
     * What the jars and the options ask of the runtime, found once for every jlink of an assembly.
     *
     * @param jdeps       the modules jdeps finds the jars use; empty when jdeps failed
     * @param jdepsError  jdeps's first error line, or empty when it succeeded
     * @param named       the modules the manifests, the entry bridge and --add-modules name
     */
    record Needs(Set<String> jdeps, String jdepsError, Set<String> named) {
    }

    private RuntimeImage() {
    }

    private static Map<String, String> tools(String... pairs) {
        Map<String, String> map = new LinkedHashMap<>();
        for (int i = 0; i < pairs.length; i += 2) {
            map.put(pairs[i], pairs[i + 1]);
        }
        return Collections.unmodifiableMap(map);
    }

    /** What java of the JDK resolves for a class-path application, less the tools, with what the rest requires. */
    static Set<String> defaultModules(JdkModules jdk) {
        Set<String> roots = new TreeSet<>(jdk.resolved());
        roots.removeAll(TOOLS.keySet());
        return jdk.closure(roots);
    }

    /**
     * The modules to jlink, with all they require: the default set or (minimal, when jdeps could
     * read the jars) the base modules and those a training run loaded; jdeps's and the named ones
     * either way.
     */
    static Set<String> choose(JdkModules jdk, Needs needs, boolean minimal, Collection<String> trained) {
        Set<String> modules = new TreeSet<>();
        if (minimal && needs.jdepsError().isEmpty()) {
            modules.addAll(BASE_MODULES);
            modules.addAll(trained);
        } else {
            modules.addAll(defaultModules(jdk));
        }
        modules.addAll(needs.jdeps());
        modules.addAll(needs.named());
        // What jlink makes of them; a base module that a JDK's build left out (jdk.localedata can be) drops out.
        return jdk.closure(modules);
    }

    /** Checks the named modules against the JDK and runs jdeps on the jars; says what it could not do. */
    static Needs needs(Jdk jdk, JdkModules modules, List<Path> jars, Collection<String> named, boolean minimal,
                       Path scratch, Console console) {
        List<String> unknown = modules.unknown(named);
        if (!unknown.isEmpty()) {
            throw Console.fail("--add-modules: the JDK at " + jdk.home() + " has no module " + unknown.get(0));
        }
        Set<String> found = new TreeSet<>();
        String error = jdeps(jdk, jars, scratch, found);
        if (!error.isEmpty() && minimal) {
            console.line("NOTE: jdeps cannot analyse the jars (" + error + "): the runtime holds the default modules"
                    + " instead of the minimal choice");
        } else if (!error.isEmpty()) {
            // The default set stands; only a development tool module the jars use may be missing.
            console.say("jdeps cannot analyse the jars (" + error + "): the runtime holds the default modules only");
        }
        found.removeIf(name -> !modules.has(name));
        return new Needs(found, error, new TreeSet<>(named));
    }

    /** Makes {@code jre} with jlink of {@code modules}; says its module count and size. */
    static void build(Jdk jdk, Set<String> modules, String choice, Path jre, Path scratch, Console console) {
        Workspace.removeTree(jre);
        String list = String.join(",", modules);
        console.say("jlink from " + (jdk.linkFrom() == null ? jdk.home() : jdk.linkFrom() + " by " + jdk.home())
                + " (JDK " + jdk.major() + ", " + jdk.arch() + "), " + choice + ": " + list);
        List<String> args = new ArrayList<>(List.of("--add-modules", list, "--strip-debug", "--no-header-files",
                "--no-man-pages", "--output", jre.toString()));
        if (jdk.linkFrom() != null) {
            args.addAll(0, List.of("--module-path", jdk.linkFrom().toString()));
        }
        jdk.toolOutput("jlink", args, scratch, "jlink failed");
        if (!Files.isRegularFile(jre.resolve("lib/server/libjvm.so"))) {
            throw Console.fail("jlink made no jre/lib/server/libjvm.so (is the JDK's server VM missing?)");
        }
        console.say("runtime: " + describe(jre));
    }

    /** "68 modules, 141.2 MiB": the modules an image's release file names, the size of its files. */
    static String describe(Path image) {
        Matcher m = MODULES.matcher(Exec.read(image.resolve("release")));
        int count = m.find() ? m.group(1).split(" ").length : 0;
        long bytes;
        try (Stream<Path> files = Files.walk(image)) {
            bytes = files.filter(Files::isRegularFile).mapToLong(RuntimeImage::size).sum();
        } catch (IOException e) {
            throw Console.fail("cannot measure the runtime " + image + ": " + e.getMessage());
        }
        long tenths = (bytes * 10 + (1 << 19)) >> 20;
        return count + " modules, " + tenths / 10 + "." + tenths % 10 + " MiB";
    }

    private static long size(Path file) {
        try {
            return Files.size(file);
        } catch (IOException e) {
            return 0;
        }
    }

    /**
     * jdeps on the jars as java runs them, on the class path: a jar's own module-info would make
     * jdeps resolve its requires (and fail as a whole on one the JDK lacks), so a modular jar is
     * read from a copy without it. Adds what it finds; returns jdeps's first error line, or "".
     */
    private static String jdeps(Jdk jdk, List<Path> jars, Path scratch, Set<String> found) {
        List<String> args = new ArrayList<>(List.of("--print-module-deps", "--ignore-missing-deps",
                "--multi-release", Integer.toString(jdk.major())));
        Path copies = scratch.resolve("jdeps-jars");
        for (int i = 0; i < jars.size(); i++) {
            Path jar = jars.get(i);
            try {
                args.add(withoutModuleInfo(jar, copies.resolve(i + "-" + jar.getFileName())).toString());
            } catch (IOException e) {
                return "cannot copy " + jar.getFileName() + " without its module-info: " + e.getMessage();
            }
        }
        Path log = scratch.resolve("jdeps.log");
        if (jdk.tool("jdeps", args, log) != 0) {
            String output = Exec.read(log);
            return output.lines().filter(l -> l.startsWith("Error:")).findFirst()
                    .orElse(Exec.firstLine(output)).strip();
        }
        List<String> lines = Exec.read(log).lines().filter(l -> !l.isBlank()).toList();
        if (!lines.isEmpty()) {
            found.addAll(List.of(lines.get(lines.size() - 1).strip().split(",")));
        }
        return "";
    }

    /** The jar itself, or, when it holds a module-info.class (also a versioned one), a copy without. */
    private static Path withoutModuleInfo(Path jar, Path copy) throws IOException {
        try (ZipFile zip = new ZipFile(jar.toFile())) {
            if (zip.stream().noneMatch(e -> isModuleInfo(e.getName()))) {
                return jar;
            }
            Files.createDirectories(copy.getParent());
            try (OutputStream file = Files.newOutputStream(copy); ZipOutputStream out = new ZipOutputStream(file)) {
                Enumeration<? extends ZipEntry> entries = zip.entries();
                while (entries.hasMoreElements()) {
                    ZipEntry entry = entries.nextElement();
                    if (isModuleInfo(entry.getName())) {
                        continue;
                    }
                    out.putNextEntry(new ZipEntry(entry.getName()));
                    try (InputStream in = zip.getInputStream(entry)) {
                        in.transferTo(out);
                    }
                    out.closeEntry();
                }
            }
            return copy;
        }
    }

    private static boolean isModuleInfo(String name) {
        return name.equals("module-info.class") || name.matches("META-INF/versions/[0-9]+/module-info\\.class");
    }
}
