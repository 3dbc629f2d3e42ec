// The tree's private runtime: jlink of the base modules, those jdeps finds the jars
// need, those the manifests' options name and --add-modules, without debug data,
// headers or man pages.
package com.vellumbry.corvane.ship;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.TreeSet;

final class RuntimeImage {
    /** What every desktop tree gets; jdeps cannot see the need for locale data. */
    static final List<String> BASE_MODULES =
            List.of("java.base", "java.desktop", "java.logging", "jdk.localedata", "jdk.unsupported");

    private RuntimeImage() {
    }

    /** Makes {@code jre} with jlink; returns the modules it holds. */
    static String build(Jdk jdk, List<Path> jars, List<String> moreModules, Path jre, Path scratch, Console console) {
        TreeSet<String> modules = new TreeSet<>(BASE_MODULES);
        modules.addAll(jdeps(jdk, jars, scratch, console));
        for (String module : moreModules) {
            for (String name : module.split(",")) {
                if (!name.isBlank()) {
                    modules.add(name.strip());
                }
            }
        }
        String list = String.join(",", modules);
        console.say("jlink from " + jdk.home() + " (JDK " + jdk.major() + "), modules " + list);
        jdk.toolOutput("jlink", List.of("--add-modules", list, "--strip-debug", "--no-header-files",
                "--no-man-pages", "--output", jre.toString()), scratch, "jlink failed");
        if (!Files.isRegularFile(jre.resolve("lib/server/libjvm.so"))) {
            throw Console.fail("jlink made no jre/lib/server/libjvm.so (is the JDK's server VM missing?)");
        }
        return list;
    }

    private static List<String> jdeps(Jdk jdk, List<Path> jars, Path scratch, Console console) {
        List<String> args = new ArrayList<>(List.of("--print-module-deps", "--ignore-missing-deps",
                "--multi-release", Integer.toString(jdk.major())));
        jars.forEach(j -> args.add(j.toString()));
        Path log = scratch.resolve("jdeps.log");
        if (jdk.tool("jdeps", args, log) != 0) {
            console.say("jdeps could not read the jars (" + Exec.firstLine(Exec.read(log)) + "); using the base modules");
            return List.of();
        }
        List<String> lines = Exec.read(log).lines().filter(l -> !l.isBlank()).toList();
        return lines.isEmpty() ? List.of() : List.of(lines.get(lines.size() - 1).strip().split(","));
    }
}
