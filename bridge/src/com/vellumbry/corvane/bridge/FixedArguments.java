package com.vellumbry.corvane.bridge;

import com.vellumbry.corvane.api.TreeRecordFile;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;

/**
 * The packager's fixed arguments, which go before the user's: the tree's record line
 * "arguments=", each argument percent-encoded ('%', blank, tab) and separated by one
 * blank, "${INSTALL_DIR}" standing for the tree's folder.
 */
final class FixedArguments {

    private static final String INSTALL_DIR = "${INSTALL_DIR}";

    private FixedArguments() {
    }

    /** The fixed arguments and then the user's. */
    static String[] prepend(String[] userArguments) {
        String value = TreeRecordFile.ofRunningTree().getOrDefault("arguments", "");
        if (value.isEmpty()) {
            return userArguments;
        }
        List<String> all = new ArrayList<>(parse(value, installDir()));
        all.addAll(List.of(userArguments));
        return all.toArray(new String[0]);
    }

    static List<String> parse(String value, String installDir) {
        List<String> arguments = new ArrayList<>();
        for (String item : value.split(" ")) {
            arguments.add(decode(item).replace(INSTALL_DIR, installDir));
        }
        return arguments;
    }

    private static String decode(String item) {
        StringBuilder out = new StringBuilder();
        for (int i = 0; i < item.length(); i++) {
            String escape = item.startsWith("%", i) && i + 3 <= item.length() ? item.substring(i, i + 3) : "";
            switch (escape) {
                case "%25" -> out.append('%');
                case "%20" -> out.append(' ');
                case "%09" -> out.append('\t');
                default -> {
                    out.append(item.charAt(i));
                    continue;
                }
            }
            i += 2;
        }
        return out.toString();
    }

    /** The tree's folder: the parent of the launcher's lib folder. */
    private static String installDir() {
        Path parent = Path.of(System.getProperty("corvane.jars.path", "")).toAbsolutePath().normalize().getParent();
        return parent == null ? "" : parent.toString();
    }
}
