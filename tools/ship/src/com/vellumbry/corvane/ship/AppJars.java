// Reads the application's jars as java reads them: each given jar, then the jars its
// manifest Class-Path names (relative URLs, recursively, each once); an entry that
// names no jar is noted and left out, as java ignores it. Also finds the main class
// and the JVM options the manifests ask for. Reads, never writes.
package com.vellumbry.corvane.ship;

import java.io.IOException;
import java.net.MalformedURLException;
import java.net.URL;
import java.net.URLDecoder;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.HashSet;
import java.util.LinkedHashMap;
import java.util.LinkedHashSet;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.Set;
import java.util.function.Consumer;
import java.util.jar.Attributes;
import java.util.jar.JarFile;
import java.util.jar.Manifest;

final class AppJars {
    static final String ENTRY_CLASS = Contract.value("entry.class");

    /**
     * @param jars      the jars in class-path order
     * @param mainClass the class to start through the entry bridge; empty when the jars provide the entry
     * @param options   JVM options from the manifests' Add-Opens, Add-Exports and Enable-Native-Access
     * @param modules   the modules those options name
     * @param notes     what was left out, one line each
     * @param splash    the first jar's manifest SplashScreen-Image (the image {@code java -jar} shows), or empty
     * @param opened    the manifests' Add-Opens and Add-Exports entries, each once
     */
    record Facts(List<Path> jars, String mainClass, List<String> options, List<String> modules, List<String> notes,
                 String splash, List<ModuleEntry> opened) {

        /**
         * Without the Add-Opens and Add-Exports entries that name a module the JDK lacks, or a
         * package that module does not hold: java -jar leaves them out, where jlink would stop.
         * Says each one left out to {@code note}.
         */
        Facts within(JdkModules jdk, Consumer<String> note) {
            List<ModuleEntry> kept = new ArrayList<>();
            Set<String> dropped = new HashSet<>();
            for (ModuleEntry entry : opened) {
                String lacking = !jdk.has(entry.module()) ? "the JDK has no module " + entry.module()
                        : !jdk.holds(entry.module(), entry.pkg())
                        ? "module " + entry.module() + " holds no package " + entry.pkg() : "";
                if (lacking.isEmpty()) {
                    kept.add(entry);
                } else {
                    dropped.add(entry.jvmOption());
                    note.accept(entry.attribute() + " " + entry.module() + "/" + entry.pkg() + " of " + entry.jar()
                            + ": " + lacking + "; left out, as java does");
                }
            }
            return new Facts(jars, mainClass, options.stream().filter(o -> !dropped.contains(o)).toList(),
                    kept.stream().map(ModuleEntry::module).distinct().toList(), notes, splash, List.copyOf(kept));
        }
    }

    /** An Add-Opens ({@code attribute}) or Add-Exports entry of the manifest of {@code jar} (its file name). */
    record ModuleEntry(String attribute, String module, String pkg, String jar) {
        String jvmOption() {
            return "--" + attribute.toLowerCase(Locale.ROOT) + "=" + module + "/" + pkg + "=ALL-UNNAMED";
        }
    }

    private final List<Path> jars = new ArrayList<>();
    private final Map<String, Path> byName = new HashMap<>();
    private final Set<Path> seen = new HashSet<>();
    private final Set<String> options = new LinkedHashSet<>();
    private final Map<String, ModuleEntry> opened = new LinkedHashMap<>();
    private final List<String> notes = new ArrayList<>();
    private final Set<String> entries = new HashSet<>();
    private String firstMainClass;
    private String firstSplash;

    /** Reads the given jars; {@code mainClass} is --main-class or empty. */
    static Facts read(List<Path> given, String mainClass, List<String> moreClasses) {
        if (given.isEmpty()) {
            throw Console.fail("no jars given: the tree needs at least one application jar");
        }
        AppJars app = new AppJars();
        for (Path jar : given) {
            app.add(jar.toAbsolutePath().normalize(), null);
        }
        Facts facts = app.facts(mainClass);
        for (String more : moreClasses) {
            if (facts.mainClass().isEmpty()) {
                throw Console.fail("the jars provide the entry class " + ENTRY_CLASS
                        + " themselves; further commands are for jars without it");
            }
            if (!app.entries.contains(more.replace('.', '/') + ".class")) {
                throw Console.fail("main class " + more + " is in none of the jars");
            }
        }
        return facts;
    }

    private void add(Path jar, Path namedBy) {
        if (namedBy == null && !Files.exists(jar)) {
            throw Console.fail("jar not found: " + jar);
        }
        if (namedBy == null && (!Files.isRegularFile(jar) || !Files.isReadable(jar))) {
            throw Console.fail("jar is not a readable file: " + jar);
        }
        if (namedBy != null && !Files.isRegularFile(jar)) {
            notes.add("Class-Path entry " + jar.getFileName() + " of " + namedBy.getFileName() + " is "
                    + (Files.isDirectory(jar) ? "a folder" : "missing") + " (" + jar + "): left out, as java does"
                    + (Files.isDirectory(jar) ? " (give a folder's contents with --resources)" : ""));
            return;
        }
        Path real;
        try {
            real = jar.toRealPath();
        } catch (IOException e) {
            throw Console.fail("jar not found: " + jar);
        }
        // Named as the command line or the manifest names it (often a link to a versioned file).
        String name = jar.getFileName().toString();
        if (name.contains(":") || name.contains("\n") || name.contains("\r") || !name.equals(name.stripTrailing())) {
            throw Console.fail("a jar's file name holds ':', a line break or trailing blanks, which the class path or"
                    + " the bootstrap manifest cannot carry; rename it: " + jar);
        }
        if (seen.contains(real)) {
            // Already in the tree, perhaps through another link of another name.
            return;
        }
        Path known = byName.get(name);
        if (known != null) {
            throw Console.fail("two jars have the same file name: " + name + " (" + known + " and " + real + ")");
        }
        seen.add(real);
        byName.put(name, real);
        jars.add(jar);
        Attributes main = readManifest(real);
        if (jars.size() == 1) {
            firstMainClass = main.getValue(Attributes.Name.MAIN_CLASS);
            firstSplash = main.getValue("SplashScreen-Image");
        }
        moduleOptions(real, main, "Add-Opens");
        moduleOptions(real, main, "Add-Exports");
        String nativeAccess = main.getValue("Enable-Native-Access");
        if (nativeAccess != null) {
            if (!nativeAccess.trim().equals("ALL-UNNAMED")) {
                throw Console.fail("Enable-Native-Access in " + real + " is '" + nativeAccess.trim()
                        + "'; only ALL-UNNAMED is valid");
            }
            options.add("--enable-native-access=ALL-UNNAMED");
        }
        String classPath = main.getValue(Attributes.Name.CLASS_PATH);
        if (classPath != null) {
            for (String entry : classPath.trim().split("\\s+")) {
                if (!entry.isEmpty()) {
                    addClassPathEntry(jar, entry);
                }
            }
        }
    }

    private void addClassPathEntry(Path jar, String entry) {
        // As java resolves it: a URL relative to the jar's folder, its path then decoded.
        URL url;
        String path;
        try {
            url = new URL(jar.getParent().toUri().toURL(), entry);
            path = URLDecoder.decode(url.getPath().replace("+", "%2B"), StandardCharsets.UTF_8);
        } catch (MalformedURLException | IllegalArgumentException e) {
            notes.add("Class-Path entry '" + entry + "' of " + jar.getFileName() + " is not a valid URL: left out, as java does");
            return;
        }
        String host = url.getHost();
        if (!"file".equalsIgnoreCase(url.getProtocol()) || !(host == null || host.isEmpty() || host.equals("localhost"))) {
            notes.add("Class-Path entry '" + entry + "' of " + jar.getFileName() + " is not a local file: left out");
            return;
        }
        Path target = Path.of(path).normalize();
        if (entry.endsWith("/") && !Files.isRegularFile(target)) {
            notes.add("Class-Path entry " + entry + " of " + jar.getFileName()
                    + " is a folder: left out (name the folder among the jars to have it on the class path)");
            return;
        }
        add(target, jar);
    }

    private void moduleOptions(Path jar, Attributes main, String attribute) {
        String value = main.getValue(attribute);
        if (value == null) {
            return;
        }
        for (String item : value.trim().split("\\s+")) {
            int slash = item.indexOf('/');
            if (slash <= 0 || slash == item.length() - 1) {
                throw Console.fail(attribute.toLowerCase(Locale.ROOT) + " entry '" + item + "' of " + jar
                        + " is not <module>/<package>");
            }
            ModuleEntry entry = new ModuleEntry(attribute, item.substring(0, slash), item.substring(slash + 1),
                    jar.getFileName().toString());
            options.add(entry.jvmOption());
            opened.putIfAbsent(entry.jvmOption(), entry);
        }
    }

    private Attributes readManifest(Path jar) {
        try (JarFile file = new JarFile(jar.toFile(), false)) {
            file.stream().forEach(e -> entries.add(e.getName()));
            Manifest manifest = file.getManifest();
            return manifest == null ? new Attributes() : manifest.getMainAttributes();
        } catch (IOException | SecurityException e) {
            throw Console.fail("cannot read the jar " + jar + ": " + e.getMessage());
        }
    }

    private Facts facts(String mainClass) {
        boolean entryProvided = entries.contains(ENTRY_CLASS.replace('.', '/') + ".class");
        if (!mainClass.isEmpty() && entryProvided) {
            throw Console.fail("the jars provide the entry class " + ENTRY_CLASS
                    + " themselves; --main-class is for jars without it");
        }
        String main = mainClass;
        if (main.isEmpty() && !entryProvided) {
            main = firstMainClass == null ? "" : firstMainClass.trim();
            if (main.isEmpty()) {
                throw Console.fail("the jars have no entry class and " + jars.get(0).getFileName()
                        + " names no Main-Class in its manifest: give --main-class");
            }
        }
        if (!main.isEmpty() && !entries.contains(main.replace('.', '/') + ".class")) {
            throw Console.fail("main class " + main + " is in none of the jars");
        }
        List<ModuleEntry> moduleEntries = List.copyOf(opened.values());
        return new Facts(List.copyOf(jars), main, List.copyOf(options),
                moduleEntries.stream().map(ModuleEntry::module).distinct().toList(), List.copyOf(notes),
                firstSplash == null ? "" : firstSplash.strip(), moduleEntries);
    }
}
