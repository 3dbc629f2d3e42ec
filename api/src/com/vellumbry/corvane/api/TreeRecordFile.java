package com.vellumbry.corvane.api;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.util.Collections;
import java.util.LinkedHashMap;
import java.util.Map;
import java.util.Optional;
import java.util.function.Consumer;

/**
 * The install tree's record, {@code lib/corvane-tree.txt}, read as the launcher reads it:
 * one {@code key=value} per line, the last line of a key winning, lines starting with
 * {@code #} skipped. The shipping tools write it; the tools, this API, the demo and the
 * entry bridge read it through this one class.
 */
public final class TreeRecordFile {

    /** The record's file name in the tree's lib folder. */
    public static final String FILE_NAME = "corvane-tree.txt";

    private TreeRecordFile() {
    }

    /** The record's keys and values, in the order of their first lines; a line without '=' goes to {@code odd}. */
    public static Map<String, String> parse(String text, Consumer<String> odd) {
        Map<String, String> fields = new LinkedHashMap<>();
        for (String line : text.split("\n", -1)) {
            if (line.isBlank() || line.startsWith("#")) {
                continue;
            }
            int equals = line.indexOf('=');
            if (equals <= 0) {
                odd.accept(line);
                continue;
            }
            fields.put(line.substring(0, equals), line.substring(equals + 1));
        }
        return Collections.unmodifiableMap(fields);
    }

    /** The record at {@code file}; empty when it is missing, no regular file or unreadable. */
    public static Optional<Map<String, String>> read(Path file) {
        // A FIFO or a device at the path would hold a reader up: only a regular file is read.
        if (!Files.isRegularFile(file, LinkOption.NOFOLLOW_LINKS) && !Files.isRegularFile(file)) {
            return Optional.empty();
        }
        try {
            return Optional.of(parse(Files.readString(file, StandardCharsets.UTF_8), line -> { }));
        } catch (IOException | RuntimeException e) {
            return Optional.empty();
        }
    }

    /** The record of the tree this VM runs from (the launcher's corvane.jars.path), or an empty map. */
    public static Map<String, String> ofRunningTree() {
        String libDir = System.getProperty("corvane.jars.path", "");
        return libDir.isEmpty() ? Map.of() : read(Path.of(libDir, FILE_NAME)).orElse(Map.of());
    }

    /**
     * Whether {@code name} is an application name as the tools make it: lower case letters, digits,
     * '+', '-' and '.', the first a letter or digit, two characters or more (one folder's name).
     * It is Debian's rule for package names, so the tools check package names with it too.
     */
    public static boolean isApplicationName(String name) {
        return name != null && name.matches("[a-z0-9][a-z0-9.+-]+");
    }
}
