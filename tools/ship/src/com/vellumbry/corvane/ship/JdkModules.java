// The modules of a target JDK's image, as that JDK's own java sees them: each one's
// name, whether java resolves it for a class-path application, its requires and its
// packages. main() runs in the target VM (plain JDK API only); the rest reads its answer.
package com.vellumbry.corvane.ship;

import java.lang.module.ModuleDescriptor;
import java.lang.module.ModuleFinder;
import java.lang.module.ModuleReference;
import java.nio.file.Path;
import java.util.ArrayDeque;
import java.util.ArrayList;
import java.util.Collection;
import java.util.Comparator;
import java.util.Deque;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.TreeSet;

record JdkModules(Map<String, ModuleFacts> byName, Map<String, String> moduleOfPackage) {
    /**
     * @param resolved in the boot layer of a class-path application: the default root modules,
     *                 what they require and the service providers bound to them
     * @param requires the modules it requires (not "requires static": jlink leaves those out too)
     */
    record ModuleFacts(String name, boolean resolved, List<String> requires, List<String> packages) {
    }

    /** Prints one line per module of the running VM's image: name, resolved (1/0), requires, packages. */
    public static void main(String[] args) {
        Set<String> boot = new TreeSet<>();
        ModuleLayer.boot().modules().forEach(m -> boot.add(m.getName()));
        StringBuilder out = new StringBuilder();
        ModuleFinder.ofSystem().findAll().stream().map(ModuleReference::descriptor)
                .sorted(Comparator.comparing(ModuleDescriptor::name)).forEach(d -> {
                    List<String> requires = d.requires().stream()
                            .filter(r -> !r.modifiers().contains(ModuleDescriptor.Requires.Modifier.STATIC))
                            .map(ModuleDescriptor.Requires::name).sorted().toList();
                    out.append(d.name()).append('\t').append(boot.contains(d.name()) ? 1 : 0).append('\t')
                            .append(String.join(",", requires)).append('\t')
                            .append(String.join(",", new TreeSet<>(d.packages()))).append('\n');
                });
        System.out.print(out);
    }

    /** Asks the JDK's own java; fails when it does not answer. */
    static JdkModules of(Jdk jdk, Path scratch) {
        String classPath = System.getProperty("java.class.path");
        String text = Exec.output(List.of(jdk.bin("java").toString(), "-cp", classPath,
                JdkModules.class.getName()), scratch, "cannot list the modules of the JDK at " + jdk.home());
        JdkModules modules = parse(text);
        if (!modules.has("java.base")) {
            throw Console.fail("cannot list the modules of the JDK at " + jdk.home() + ": " + Exec.firstLine(text));
        }
        return modules;
    }

    /** The lines main() prints; lines of another form (a VM warning) are skipped. */
    static JdkModules parse(String text) {
        Map<String, ModuleFacts> byName = new HashMap<>();
        Map<String, String> moduleOfPackage = new HashMap<>();
        for (String line : text.split("\n")) {
            String[] fields = line.split("\t", -1);
            if (fields.length != 4 || !fields[1].matches("[01]")) {
                continue;
            }
            ModuleFacts module = new ModuleFacts(fields[0], fields[1].equals("1"), list(fields[2]), list(fields[3]));
            byName.put(module.name(), module);
            module.packages().forEach(p -> moduleOfPackage.put(p, module.name()));
        }
        return new JdkModules(Map.copyOf(byName), Map.copyOf(moduleOfPackage));
    }

    private static List<String> list(String field) {
        return field.isEmpty() ? List.of() : List.of(field.split(","));
    }

    boolean has(String module) {
        return byName.containsKey(module);
    }

    /** The module holds the package (dotted name). */
    boolean holds(String module, String pkg) {
        return module.equals(moduleOfPackage.get(pkg));
    }

    /** The modules java resolves for a class-path application. */
    Set<String> resolved() {
        Set<String> names = new TreeSet<>();
        byName.values().stream().filter(ModuleFacts::resolved).forEach(m -> names.add(m.name()));
        return names;
    }

    /** The modules and all they require, as jlink takes them. */
    Set<String> closure(Collection<String> roots) {
        Set<String> names = new TreeSet<>();
        Deque<String> todo = new ArrayDeque<>(roots);
        while (!todo.isEmpty()) {
            String name = todo.pop();
            ModuleFacts module = byName.get(name);
            if (module != null && names.add(name)) {
                todo.addAll(module.requires());
            }
        }
        return names;
    }

    /**
     * The JDK modules of the classes in a class list as -XX:DumpLoadedClassList writes it
     * ("java/sql/Driver id: 12"); classes of no JDK module (the application's) count for none.
     */
    Set<String> modulesOfClassList(String classList) {
        Set<String> names = new TreeSet<>();
        for (String line : classList.split("\n")) {
            if (line.isEmpty() || line.startsWith("#") || line.startsWith("@")) {
                continue;
            }
            String name = line.split(" ", 2)[0];
            int slash = name.lastIndexOf('/');
            String module = slash < 0 ? null : moduleOfPackage.get(name.substring(0, slash).replace('/', '.'));
            if (module != null) {
                names.add(module);
            }
        }
        return names;
    }

    /** Names in {@code names} that are no module of this JDK, in order. */
    List<String> unknown(Collection<String> names) {
        List<String> missing = new ArrayList<>();
        names.stream().filter(n -> !has(n)).forEach(missing::add);
        return missing;
    }
}
