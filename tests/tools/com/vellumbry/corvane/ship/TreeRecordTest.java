// The tree's record written and read back, the window class a training run observes, and
// the contract's values that other parts copy.
package com.vellumbry.corvane.ship;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;

import static com.vellumbry.corvane.ship.Checks.check;
import static com.vellumbry.corvane.ship.Checks.same;

final class TreeRecordTest {
    private TreeRecordTest() {
    }

    static void run() {
        TreeRecord bridge = new TreeRecord("my-app", "1.0.0.0", "25.0.3", "org.example.Main", "org-example-Main",
                "trained", List.of("classes_coh.jsa", "classes.jsa"), "jre/lib/server/trained-classes.lst",
                List.of(new TreeRecord.Command("my-tool", "org.example.Tool", "org-example-Tool")), "yes",
                "lib/splash/my splash.png", "java",
                List.of("--data=${INSTALL_DIR}/share", "two  words", "100%", "%20", "tab\there", "+plus", "ünï"),
                "${HOME}/.my-app");
        TreeRecord own = new TreeRecord("x", "1.0.0.0", "25", "", TreeRecord.ENTRY_WINDOW_CLASS, "none", List.of(), "",
                List.of(), "", "", "", List.of(), "");
        for (TreeRecord record : List.of(bridge, own)) {
            check(TreeRecord.parse(record.text(), "test").equals(record), "record read back as written: " + record.text());
        }
        check(TreeRecord.parse(own.text().replaceAll("(?m)^commands=.*\n", ""), "test").equals(own),
                "a record without commands has none");
        check(bridge.text().contains("\nsingle-instance=yes\n") && !own.text().contains("single-instance"),
                "single-instance is written only when asked for");
        check(bridge.text().contains("\nsplash=lib/splash/my splash.png\n") && !own.text().contains("splash"),
                "splash is written only for a tree with a splash image");
        check(TreeRecord.parse(bridge.text().replace("single-instance=yes\n", ""), "test").singleInstance().isEmpty(),
                "a record without single-instance says no");
        check(bridge.text().contains("\narguments=--data=${INSTALL_DIR}/share two%20%20words 100%25 %2520 tab%09here"
                + " +plus ünï\n") && !own.text().contains("arguments") && !own.text().contains("heap")
                && !own.text().contains("working-dir"), "arguments, heap and working folder are written only when set");
        // One line of xwininfo -tree each: the window class it names, or none.
        String[][] windows = {
            {"     0x400008 \"Logisim: main of Untitled\": (\"com-cburch-logisim-Main\" \"com-cburch-logisim-Main\")  640x480+0+0  +0+0", "com-cburch-logisim-Main"},
            {"  0x1a00003 (has no name): (\"TuxGuitar\" \"TuxGuitar\")  1x1+0+0  +0+0", "TuxGuitar"},
            {"     0x200001 \"a: (\"b\" \"c\")\": (\"name\" \"Class\")  10x10+0+0  +0+0", "Class"},
            {"     0x400001 (has no name): ()  1x1+-1+-1  +-1+-1", ""},
            {"  Root window id: 0x3ba (the root window) (has no name)", ""},
        };
        for (String[] row : windows) {
            same(WindowWatch.classOf(row[0]), row[1], "window class of: " + row[0]);
        }
        check(own.providesEntry() && !bridge.providesEntry() && bridge.trained() && !own.trained(), "record's questions");
        String older = bridge.text().replaceAll("(?m)^window-class=.*\n", "");
        String other = bridge.text().replace("format=1", "format=2");
        for (String text : List.of(older, other)) {
            try {
                TreeRecord.parse(text, "test");
                check(false, "a record without a key or of another format is refused");
            } catch (Failure f) {
                check(f.getMessage().contains("assemble the tree again"), "the refusal says how to mend it: " + f.getMessage());
            }
        }
        contract();
    }

    /** The copies of the contract's values that cannot read api/contract.txt agree with it. */
    private static void contract() {
        java.util.Set<String> flags = new java.util.TreeSet<>();
        Contract.flagLines().forEach(line -> flags.add(line.substring(line.indexOf('=') + 1)));
        java.util.Set<String> api = new java.util.TreeSet<>();
        try {
            for (String field : List.of("FLAGS", "WAIT_FOR_PID", "JVM_ARGS_PREFIX")) {
                java.lang.reflect.Field f = com.vellumbry.corvane.api.SingleInstance.class.getDeclaredField(field);
                f.setAccessible(true);
                Object value = f.get(null);
                if (value instanceof java.util.Set<?> set) {
                    set.forEach(v -> api.add((String) v));
                } else {
                    api.add((String) value);
                }
            }
        } catch (ReflectiveOperationException e) {
            check(false, "the API's flags: " + e);
        }
        same(String.join(" ", api), String.join(" ", flags), "the API's launcher flags are the contract's");
        // Every key the launcher reads is one the tools write.
        String written = new TreeRecord("n1", "1", "25", "a.B", "a-B", "trained", List.of(), "list", List.of(), "raise",
                "lib/splash/s.png", "java", List.of("x"), "${HOME}").text();
        for (String key : Contract.value("record.keys").split(" ")) {
            check(written.contains("\n" + key + "="), "the record holds the key the launcher reads: " + key);
        }
        same(com.vellumbry.corvane.api.EntryContract.CLASS_NAME, Contract.value("entry.class"), "the API's entry class");
        same(com.vellumbry.corvane.api.EntryContract.METHOD_NAME, Contract.value("entry.method"), "the API's entry method");
        Path tools = Templates.toolsDir();
        for (String app : List.of("demo/src", "testapp/src")) {
            Path entry = tools.resolve("..").resolve(app).resolve(Contract.value("entry.class").replace('.', '/') + ".java");
            check(Files.isRegularFile(entry), "the contract's entry class is implemented at " + entry);
        }
        check(Exec.read(tools.resolve("lib/find-jdk")).contains("jdk\\.minimum="), "find-jdk takes the minimum JDK from the contract");
    }
}
