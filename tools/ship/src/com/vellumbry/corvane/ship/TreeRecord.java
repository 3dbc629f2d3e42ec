// What is true of an install tree, written by assemble-tree into lib/corvane-tree.txt
// and read back by every later step, which guesses nothing.
package com.vellumbry.corvane.ship;

import com.vellumbry.corvane.api.TreeRecordFile;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.Set;

/**
 * @param name            the application's name (the package and command name by default)
 * @param launcherVersion the version the tree's corvane prints
 * @param runtimeVersion  the jlinked runtime's JAVA_VERSION
 * @param mainClass       the class the entry bridge starts; empty when the jars provide the entry
 * @param windowClass     the WM_CLASS of the application's windows
 * @param classData       "none", "default" (archives of the runtime's classes) or "trained"
 * @param archives        the runtime's default archives, file names in jre/lib/server/
 * @param trainingList    the class list below the tree that the launcher makes its per-user archive from
 *                        ("app-archive=per-user": for each user and place of the tree): the trained list,
 *                        or for a tree of another CPU, where nothing was dumped, the runtime's default
 *                        list; "" for neither
 * @param commands        further commands: a name the launcher may be started as, its main class and windows' class
 * @param singleInstance  "yes": a second start hands over to the user's running instance; "raise": the
 *                        same, and an instance whose application has no listener brings its window to the
 *                        front; empty: no key written, and a record without it says no
 * @param splash          the splash image the launcher shows before the VM, a path below the tree
 *                        ("splash=lib/splash/<file>"); empty for none, and then the key is not written
 * @param heap            "java": the launcher leaves the heap limit to the VM's default (a share of the
 *                        machine's memory) or the options files; empty (key absent): the launcher's fixed limit
 * @param arguments       fixed arguments the bridge puts before the user's, "${INSTALL_DIR}" standing for
 *                        the tree; written percent-encoded ('%', blank, tab), separated by blanks
 * @param workingDir      the folder the application starts in ("${INSTALL_DIR}..." or "${HOME}..." or an
 *                        absolute path); empty for the folder the user started in
 */
record TreeRecord(String name, String launcherVersion, String runtimeVersion, String mainClass,
                  String windowClass, String classData, List<String> archives, String trainingList,
                  List<Command> commands, String singleInstance, String splash, String heap,
                  List<String> arguments, String workingDir) {

    /** What the launcher reads while the tree is still being assembled: the training runs start as later starts. */
    static final String DURING_ASSEMBLY = "heap=java\n";

    /** A further command of the tree: started under {@code name}, the bridge runs {@code mainClass}. */
    record Command(String name, String mainClass, String windowClass) {
    }

    static final String FILE = "lib/" + TreeRecordFile.FILE_NAME;
    /** The contract's version, which the record names: the tools that package a tree must speak it. */
    static final String CONTRACT_KEY = "contract.version";
    static final int FORMAT = 1;
    /** Windows whose toolkit starts on the launcher's own thread are named after the entry class. */
    static final String ENTRY_WINDOW_CLASS = AppJars.ENTRY_CLASS.replace('.', '-');

    boolean providesEntry() {
        return mainClass.isEmpty();
    }

    boolean trained() {
        return classData.equals("trained");
    }

    /** The same record under another name: a package names the tree it installs after itself. */
    TreeRecord withName(String newName) {
        return new TreeRecord(newName, launcherVersion, runtimeVersion, mainClass, windowClass, classData, archives,
                trainingList, commands, singleInstance, splash, heap, arguments, workingDir);
    }

    /** The record as the file holds it: a comment, then "key=value" lines. */
    String text() {
        StringBuilder out = new StringBuilder();
        out.append("# The record of this corvane install tree, written by tools/assemble-tree and read\n")
           .append("# by tools/package. One key=value per line; '#' starts a comment.\n");
        fields().forEach((key, value) -> out.append(key).append('=').append(value).append('\n'));
        return out.toString();
    }

    private Map<String, String> fields() {
        Map<String, String> fields = new LinkedHashMap<>();
        fields.put("format", Integer.toString(FORMAT));
        fields.put("contract", Contract.value(CONTRACT_KEY));
        fields.put("name", name);
        fields.put("launcher-version", launcherVersion);
        fields.put("runtime-version", runtimeVersion);
        fields.put("entry", providesEntry() ? "own" : "bridge");
        fields.put("main-class", mainClass);
        fields.put("window-class", windowClass);
        fields.put("class-data", classData);
        fields.put("archives", String.join(" ", archives));
        fields.put("training-list", trainingList);
        if (!trainingList.isEmpty()) {
            fields.put("app-archive", "per-user");
        }
        fields.put("commands", String.join(" ", commands.stream()
                .map(c -> c.name() + ":" + c.mainClass() + ":" + c.windowClass()).toList()));
        if (!singleInstance.isEmpty()) {
            fields.put("single-instance", singleInstance);
        }
        if (!splash.isEmpty()) {
            fields.put("splash", splash);
        }
        if (!heap.isEmpty()) {
            fields.put("heap", heap);
        }
        if (!arguments.isEmpty()) {
            fields.put("arguments", String.join(" ", arguments.stream().map(TreeRecord::encode).toList()));
        }
        if (!workingDir.isEmpty()) {
            fields.put("working-dir", workingDir);
        }
        return fields;
    }

    void write(Path tree) {
        try {
            Files.writeString(tree.resolve(FILE), text(), StandardCharsets.UTF_8);
        } catch (IOException e) {
            throw Console.fail("cannot write " + FILE + ": " + e.getMessage());
        }
    }

    /** The tree's record; fails, saying how to make one, when it has none. */
    static TreeRecord read(Path tree) {
        Path file = tree.resolve(FILE);
        if (!Files.isRegularFile(file)) {
            throw Console.fail("the tree " + tree + " has no " + FILE + " (it was made by an older assemble-tree):"
                    + " assemble it again with tools/assemble-tree");
        }
        String text;
        try {
            text = Files.readString(file, StandardCharsets.UTF_8);
        } catch (IOException e) {
            throw Console.fail("cannot read " + file + ": " + e.getMessage());
        }
        return parse(text, file.toString());
    }

    static TreeRecord parse(String text, String where) {
        Map<String, String> fields = TreeRecordFile.parse(text, line -> {
            throw Console.fail(where + ": not a key=value line: " + line);
        });
        String format = fields.getOrDefault("format", "");
        if (!format.equals(Integer.toString(FORMAT))) {
            throw Console.fail(where + " has format '" + format + "', this tool reads " + FORMAT
                    + ": assemble the tree again with this tools/assemble-tree");
        }
        // Trees assembled before the record named it were made under the first contract.
        String contract = fields.getOrDefault("contract", "1");
        if (!contract.equals(Contract.value(CONTRACT_KEY))) {
            throw Console.fail(where + " was assembled by tools of contract " + contract + " (launcher "
                    + fields.getOrDefault("launcher-version", "unknown") + "); these tools speak contract "
                    + Contract.value(CONTRACT_KEY) + ": assemble the tree again with them");
        }
        String archives = need(fields, "archives", where);
        return new TreeRecord(need(fields, "name", where), need(fields, "launcher-version", where),
                need(fields, "runtime-version", where), need(fields, "main-class", where),
                need(fields, "window-class", where), need(fields, "class-data", where),
                archives.isEmpty() ? List.of() : List.of(archives.split(" ")), need(fields, "training-list", where),
                commands(fields.getOrDefault("commands", ""), where), singleInstance(fields, where),
                fields.getOrDefault("splash", ""), fields.getOrDefault("heap", ""),
                arguments(fields.getOrDefault("arguments", "")), fields.getOrDefault("working-dir", ""));
    }

    /** An argument as the record holds it: '%', blank and tab percent-encoded. */
    static String encode(String argument) {
        return argument.replace("%", "%25").replace(" ", "%20").replace("\t", "%09");
    }

    private static List<String> arguments(String text) {
        List<String> arguments = new java.util.ArrayList<>();
        for (String item : text.isEmpty() ? new String[0] : text.split(" ")) {
            arguments.add(java.net.URLDecoder.decode(item.replace("+", "%2B"), StandardCharsets.UTF_8));
        }
        return List.copyOf(arguments);
    }

    private static String singleInstance(Map<String, String> fields, String where) {
        String value = fields.getOrDefault("single-instance", "no");
        if (!Set.of("yes", "raise", "no").contains(value)) {
            throw Console.fail(where + ": single-instance is 'yes', 'raise' or 'no', not '" + value + "'");
        }
        return value.equals("no") ? "" : value;
    }

    private static List<Command> commands(String text, String where) {
        List<Command> commands = new java.util.ArrayList<>();
        for (String item : text.isEmpty() ? new String[0] : text.split(" ")) {
            String[] parts = item.split(":");
            if (parts.length != 3) {
                throw Console.fail(where + ": a command is not <name>:<main class>:<window class>: " + item);
            }
            commands.add(new Command(parts[0], parts[1], parts[2]));
        }
        return List.copyOf(commands);
    }

    private static String need(Map<String, String> fields, String key, String where) {
        String value = fields.get(key);
        if (value == null) {
            throw Console.fail(where + " lacks '" + key + "': assemble the tree again with tools/assemble-tree");
        }
        return value;
    }
}
