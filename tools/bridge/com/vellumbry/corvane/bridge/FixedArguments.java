package com.vellumbry.corvane.bridge;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;

/**
 * The packager's fixed arguments, which go before the user's: the tree's record line
 * "arguments=", each argument percent-encoded ('%', blank, tab) and separated by one
 * blank, "${INSTALL_DIR}" standing for the tree's folder.
 */
final class FixedArguments {

    static final String RECORD = "corvane-tree.txt";
    private static final String KEY = "arguments=";
    private static final String INSTALL_DIR = "${INSTALL_DIR}";

    private FixedArguments() {
    }

    /** The fixed arguments and then the user's. */
    static String[] prepend(String[] userArguments) {
        String libDir = System.getProperty("corvane.jars.path", "");
        if (libDir.isEmpty()) {
            return userArguments;
        }
        Path lib = Path.of(libDir);
        List<String> all = new ArrayList<>(parse(recordValue(lib.resolve(RECORD)), installDir(lib)));
        all.addAll(List.of(userArguments));
        return all.toArray(new String[0]);
    }

    static List<String> parse(String value, String installDir) {
        List<String> arguments = new ArrayList<>();
        if (value.isEmpty()) {
            return arguments;
        }
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

    private static String installDir(Path lib) {
        Path parent = lib.toAbsolutePath().normalize().getParent();
        return parent == null ? "" : parent.toString();
    }

    /** The record's last "arguments=" line; empty without the record or the line. */
    private static String recordValue(Path record) {
        String value = "";
        if (!Files.isRegularFile(record)) {
            return value;
        }
        try {
            for (String line : Files.readAllLines(record, StandardCharsets.UTF_8)) {
                if (line.startsWith(KEY)) {
                    value = line.substring(KEY.length());
                }
            }
        } catch (IOException | SecurityException e) {
            return "";
        }
        return value;
    }
}
