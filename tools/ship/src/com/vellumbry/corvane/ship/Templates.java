// Files made from template files: the tool's own under tools/ship/templates, the
// maintainer scripts under maintainer-scripts/ and the bridge's main thread; "@KEY@"
// placeholders filled from a map; a placeholder left unfilled is a fault of the tool.
package com.vellumbry.corvane.ship;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Map;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

final class Templates {
    private static final Pattern PLACEHOLDER = Pattern.compile("@[A-Z][A-Z_]*@");

    private Templates() {
    }

    /** The folder of the tools' own files (bridge sources, templates, helper scripts). */
    static Path toolsDir() {
        String dir = System.getProperty("corvane.tools");
        if (dir == null) {
            throw Console.fail("the property corvane.tools is not set: run the tool through tools/assemble-tree or tools/package");
        }
        return Path.of(dir);
    }

    static String read(String relative) {
        return readFile(toolsDir().resolve("ship/templates").resolve(relative));
    }

    /** A template of what runs on the user's machine at install, upgrade and removal. */
    static String maintainerScript(String relative) {
        return readFile(toolsDir().resolve("../maintainer-scripts").resolve(relative).normalize());
    }

    /** The source of the bridge's main thread class. */
    static String bridgeMainThread() {
        return readFile(toolsDir().resolve("../bridge/MainThread.java.in").normalize());
    }

    private static String readFile(Path file) {
        try {
            return Files.readString(file, StandardCharsets.UTF_8);
        } catch (IOException e) {
            throw Console.fail("cannot read the template " + file + ": " + e.getMessage());
        }
    }

    /** {@code text} with every "@KEY@" replaced by its value. */
    static String fill(String text, Map<String, String> values) {
        Matcher m = PLACEHOLDER.matcher(text);
        StringBuilder out = new StringBuilder();
        while (m.find()) {
            String key = m.group().substring(1, m.group().length() - 1);
            String value = values.get(key);
            if (value == null) {
                throw new IllegalStateException("template placeholder without a value: " + m.group());
            }
            m.appendReplacement(out, Matcher.quoteReplacement(value));
        }
        m.appendTail(out);
        return out.toString();
    }
}
