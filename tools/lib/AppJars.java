// Reads the application's jars for tools/assemble-tree: follows manifest Class-Path
// chains, finds the main class and the JVM options the manifests ask for. Prints one
// fact per line; on any failure one line on stderr and status 1. Reads, never writes.
import java.io.IOException;
import java.net.URI;
import java.net.URISyntaxException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.LinkedHashSet;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.jar.Attributes;
import java.util.jar.JarFile;
import java.util.jar.Manifest;

public final class AppJars {

    private static final String ENTRY_CLASS = "com/vellumbry/corvane/entry/CorvaneProcessEarlyEntry.class";

    private final List<Path> jars = new ArrayList<>();
    private final Map<String, Path> byName = new HashMap<>();
    private final Set<String> options = new LinkedHashSet<>();
    private final Set<String> modules = new LinkedHashSet<>();
    private final List<String> notes = new ArrayList<>();
    private final Set<String> classes = new java.util.HashSet<>();
    private String firstMainClass;

    public static void main(String[] args) {
        if (args.length == 0 || args[0].equals("--help") || args[0].equals("-h")) {
            System.out.println("Usage: java AppJars.java [--main-class <class>] <jar>...\n"
                    + "Prints, one per line: 'jar <path>' for each jar in class-path order (the given jars and,\n"
                    + "after each, the jars its manifest Class-Path names, recursively), 'main-class <class>'\n"
                    + "or 'entry-provided', 'option <jvm option>' and 'module <module>' from the manifests'\n"
                    + "Add-Opens, Add-Exports and Enable-Native-Access, and 'note <text>'.");
            System.exit(args.length == 0 ? 1 : 0);
        }
        String mainClass = null;
        int first = 0;
        if (args[0].equals("--main-class")) {
            if (args.length < 2 || args[1].isEmpty()) {
                fail("--main-class needs a value");
            }
            mainClass = args[1];
            first = 2;
        }
        AppJars app = new AppJars();
        for (int i = first; i < args.length; i++) {
            app.add(Path.of(args[i]).toAbsolutePath().normalize(), null);
        }
        if (app.jars.isEmpty()) {
            fail("no jars given");
        }
        app.print(mainClass);
    }

    private void add(Path jar, Path namedBy) {
        Path real;
        try {
            real = jar.toRealPath();
        } catch (IOException e) {
            fail("jar not found: " + jar + (namedBy == null ? "" : " (named in the Class-Path of " + namedBy + ")"));
            return;
        }
        if (Files.isDirectory(real)) {
            fail("not a jar but a directory: " + jar + (namedBy == null ? "" : " (named in the Class-Path of "
                    + namedBy + "; give a folder's contents with --resources)"));
        }
        // Named as the manifest or the command line names it (often a link to a versioned file).
        String name = jar.getFileName().toString();
        if (name.contains(":") || name.contains("\n")) {
            fail("a jar's file name holds ':' or a line feed, which the class path or the bootstrap manifest"
                    + " cannot carry; rename it: " + jar);
        }
        Path known = byName.get(name);
        if (known != null) {
            if (!known.equals(real)) {
                fail("two jars have the same file name: " + name + " (" + known + " and " + real + ")");
            }
            return;
        }
        if (byName.containsValue(real)) {
            return;
        }
        byName.put(name, real);
        jars.add(jar);
        Manifest manifest = read(real);
        if (manifest == null) {
            return;
        }
        Attributes main = manifest.getMainAttributes();
        if (jars.size() == 1) {
            firstMainClass = main.getValue(Attributes.Name.MAIN_CLASS);
        }
        addModuleOptions(real, main.getValue("Add-Opens"), "--add-opens=");
        addModuleOptions(real, main.getValue("Add-Exports"), "--add-exports=");
        String nativeAccess = main.getValue("Enable-Native-Access");
        if (nativeAccess != null) {
            if (!nativeAccess.trim().equals("ALL-UNNAMED")) {
                fail("Enable-Native-Access in " + real + " is '" + nativeAccess.trim() + "'; only ALL-UNNAMED is valid");
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
        URI uri;
        try {
            uri = jar.getParent().toUri().resolve(new URI(entry));
        } catch (URISyntaxException | IllegalArgumentException e) {
            fail("Class-Path entry '" + entry + "' of " + jar + " is not a valid URL");
            return;
        }
        if (!"file".equalsIgnoreCase(uri.getScheme())) {
            fail("Class-Path entry '" + entry + "' of " + jar + " is not a local file");
        }
        Path target = Path.of(uri).normalize();
        if (entry.endsWith("/")) {
            notes.add("Class-Path entry '" + entry + "' of " + jar.getFileName()
                    + " is a directory: left out (give its contents with --resources)");
            return;
        }
        add(target, jar);
    }

    private void addModuleOptions(Path jar, String value, String option) {
        if (value == null) {
            return;
        }
        for (String item : value.trim().split("\\s+")) {
            int slash = item.indexOf('/');
            if (slash <= 0 || slash == item.length() - 1) {
                fail(option.substring(2, option.length() - 1) + " entry '" + item + "' of " + jar
                        + " is not <module>/<package>");
            }
            options.add(option + item + "=ALL-UNNAMED");
            modules.add(item.substring(0, slash));
        }
    }

    private Manifest read(Path jar) {
        try (JarFile file = new JarFile(jar.toFile(), false)) {
            file.stream().forEach(e -> classes.add(e.getName()));
            return file.getManifest();
        } catch (IOException | SecurityException e) {
            fail("cannot read the jar " + jar + ": " + e.getMessage());
            return null;
        }
    }

    private void print(String mainClass) {
        boolean entryProvided = classes.contains(ENTRY_CLASS);
        if (mainClass != null && entryProvided) {
            fail("the jars provide the entry class com.vellumbry.corvane.entry.CorvaneProcessEarlyEntry"
                    + " themselves; --main-class is for jars without it");
        }
        if (mainClass == null && !entryProvided) {
            mainClass = firstMainClass == null ? null : firstMainClass.trim();
            if (mainClass == null || mainClass.isEmpty()) {
                fail("the jars have no entry class and " + jars.get(0).getFileName()
                        + " names no Main-Class in its manifest: give --main-class");
            }
        }
        if (mainClass != null && !classes.contains(mainClass.replace('.', '/') + ".class")) {
            fail("main class " + mainClass + " is in none of the jars");
        }
        StringBuilder out = new StringBuilder();
        jars.forEach(j -> out.append("jar ").append(j).append('\n'));
        out.append(entryProvided ? "entry-provided" : "main-class " + mainClass).append('\n');
        options.forEach(o -> out.append("option ").append(o).append('\n'));
        modules.forEach(m -> out.append("module ").append(m).append('\n'));
        notes.forEach(n -> out.append("note ").append(n).append('\n'));
        System.out.print(out);
    }

    private static void fail(String message) {
        System.err.println(message.replace('\n', ' '));
        System.exit(1);
    }
}
