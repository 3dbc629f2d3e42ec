// The entry bridge of a tree whose jars lack the launcher's entry class: a jar, built
// from bridge/ with the JDK's javac, that starts the main class as java does.
package com.vellumbry.corvane.ship;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.regex.Pattern;
import java.util.stream.Stream;

final class EntryBridge {
    static final String JAR = "corvane-bridge.jar";
    private static final String IDENTIFIER = "\\p{javaJavaIdentifierStart}\\p{javaJavaIdentifierPart}*";
    private static final Pattern JAVA_NAME = Pattern.compile("(" + IDENTIFIER + "\\.)*" + IDENTIFIER);

    private EntryBridge() {
    }

    /**
     * Builds lib/corvane-bridge.jar in {@code lib}, which starts {@code mainClass}, or a further
     * command's main class when the launcher was started under that command's name. Returns the
     * window class of each main class.
     */
    static Map<String, String> build(Jdk jdk, String mainClass, Map<String, String> commands, Path lib, Path scratch,
                                     Console console) {
        Path classes = scratch.resolve("bridge-classes");
        Path meta = classes.resolve("META-INF/corvane-bridge");
        List<String> javac = new ArrayList<>(List.of("--release", Integer.toString(jdk.major()), "-encoding", "UTF-8",
                "-nowarn", "-d", classes.toString()));
        javac.addAll(sources(Templates.toolsDir().resolve("../bridge/src").normalize()));
        // The API's record reader (as the launcher reads the record), entry contract and instance answer.
        for (String api : List.of("TreeRecordFile.java", "EntryContract.java", "SingleInstance.java")) {
            javac.add(Templates.toolsDir().resolve("../api/src/com/vellumbry/corvane/api").resolve(api).normalize()
                    .toString());
        }
        jdk.toolOutput("javac", javac, scratch, "cannot compile the entry bridge with " + jdk.bin("javac"));
        try {
            Files.createDirectories(meta);
            Files.writeString(meta.resolve("main-class"), mainClass + "\n", StandardCharsets.UTF_8);
            // The launcher's flags, which the bridge leaves out of the application's arguments.
            Files.writeString(meta.resolve("launcher-flags"), String.join("\n", Contract.flagLines()) + "\n",
                    StandardCharsets.UTF_8);
            if (!commands.isEmpty()) {
                StringBuilder table = new StringBuilder();
                commands.forEach((command, main) -> table.append(command).append(' ').append(main).append('\n'));
                Files.writeString(meta.resolve("commands"), table, StandardCharsets.UTF_8);
                Files.createDirectories(meta.resolve("threads"));
            }
        } catch (IOException e) {
            throw Console.fail("cannot write the bridge's main classes: " + e.getMessage());
        }
        Map<String, String> windowClasses = new LinkedHashMap<>();
        windowClasses.put(mainClass, windowClass(mainClass,
                namedThread(jdk, mainClass, meta.resolve("main-thread.bin"), scratch, console)));
        for (String main : commands.values()) {
            windowClasses.put(main, windowClass(main,
                    namedThread(jdk, main, meta.resolve("threads").resolve(main + ".bin"), scratch, console)));
        }
        jdk.toolOutput("jar", List.of("--create", "--file", lib.resolve(JAR).toString(), "-C", classes.toString(), "."),
                scratch, "cannot build lib/" + JAR);
        console.say("entry bridge lib/" + JAR + " starts " + mainClass
                + (commands.isEmpty() ? "" : ", and further commands " + commands));
        return windowClasses;
    }

    /** As java names windows: the main class with dots as dashes, when its thread carries that name. */
    private static String windowClass(String mainClass, boolean named) {
        return named ? mainClass.replace('.', '-') : "java-lang-Thread";
    }

    /**
     * The main thread's class: a Thread subclass with the main class's name, so that windows
     * get the window class java gives them. Without it (a name javac cannot take) the bridge
     * still runs main, on a plain thread.
     */
    private static boolean namedThread(Jdk jdk, String mainClass, Path out, Path scratch, Console console) {
        if (!JAVA_NAME.matcher(mainClass).matches()) {
            return false;
        }
        int dot = mainClass.lastIndexOf('.');
        String simple = mainClass.substring(dot + 1);
        Path src = scratch.resolve("bridge-thread").resolve(mainClass).resolve("src/" + simple + ".java");
        Path classes = scratch.resolve("bridge-thread").resolve(mainClass).resolve("classes");
        try {
            Files.createDirectories(src.getParent());
            Files.writeString(src, Templates.fill(Templates.bridgeMainThread(), Map.of(
                    "PACKAGE_LINE", dot < 0 ? "" : "package " + mainClass.substring(0, dot) + ";",
                    "SIMPLE_NAME", simple)), StandardCharsets.UTF_8);
        } catch (IOException e) {
            throw Console.fail("cannot write the main thread class's source: " + e.getMessage());
        }
        Path log = scratch.resolve("thread-javac.log");
        int status = jdk.tool("javac", List.of("--release", Integer.toString(jdk.major()), "-encoding", "UTF-8", "-nowarn",
                "-d", classes.toString(), src.toString()), log);
        if (status != 0) {
            console.say("NOTE: no main thread class named " + mainClass + " (" + Exec.firstLine(Exec.read(log))
                    + "): its windows get the class java-lang-Thread");
            return false;
        }
        try {
            Files.copy(classes.resolve(mainClass.replace('.', '/') + ".class"), out);
        } catch (IOException e) {
            throw Console.fail("cannot copy the main thread class: " + e.getMessage());
        }
        return true;
    }

    private static List<String> sources(Path dir) {
        try (Stream<Path> files = Files.walk(dir)) {
            return files.filter(f -> f.toString().endsWith(".java")).map(Path::toString).sorted().toList();
        } catch (IOException e) {
            throw Console.fail("cannot read the entry bridge's sources in " + dir + ": " + e.getMessage());
        }
    }
}
