// What the launcher, the entry bridge, the API and this tool agree on, read from the
// one file that holds it (api/contract.txt beside the tools); the launcher takes the
// same values from a header generated from that file.
package com.vellumbry.corvane.ship;

import com.vellumbry.corvane.api.TreeRecordFile;
import java.nio.file.Path;
import java.util.List;
import java.util.Map;

final class Contract {
    private static final Map<String, String> VALUES = read();

    private Contract() {
    }

    /** The value of {@code key}; a missing key is a broken installation of the tools. */
    static String value(String key) {
        String value = VALUES.get(key);
        if (value == null) {
            throw Console.fail("the tools' contract file " + file() + " has no " + key + ": reinstall the tools");
        }
        return value;
    }

    /** The key=value lines of the launcher's flags ("flag." keys), for the entry bridge. */
    static List<String> flagLines() {
        return VALUES.entrySet().stream().filter(e -> e.getKey().startsWith("flag."))
                .map(e -> e.getKey() + "=" + e.getValue()).toList();
    }

    static Path file() {
        return Templates.toolsDir().resolve("../api/contract.txt").normalize();
    }

    private static Map<String, String> read() {
        return TreeRecordFile.read(file()).orElseThrow(
                () -> Console.fail("cannot read the tools' contract file " + file() + ": reinstall the tools"));
    }
}
