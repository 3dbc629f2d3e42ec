package com.vellumbry.corvane.bridge;

import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Map;

/**
 * The application's own arguments: the process's, less the program path and the launcher's
 * flags. The flags come from the tools' contract, which assemble-tree copies into the bridge
 * ("flag.<name>=<flag>" lines): one ending in '=' takes its value in the same argument, the
 * wait-for-pid flag takes the next argument.
 */
final class LauncherArguments {

    static final String FLAGS_RESOURCE = "META-INF/corvane-bridge/launcher-flags";

    private LauncherArguments() {
    }

    static String[] applicationArguments(String[] processArguments) {
        Map<String, String> flags = flags();
        String waitForPid = flags.getOrDefault("flag.wait-for-pid", "");
        List<String> own = new ArrayList<>();
        for (int i = 1; i < processArguments.length; i++) {
            String argument = processArguments[i];
            if (argument.equals(waitForPid)) {
                i++; // the pid belongs to the flag
            } else if (!isFlag(argument, flags)) {
                own.add(argument);
            }
        }
        return own.toArray(new String[0]);
    }

    private static boolean isFlag(String argument, Map<String, String> flags) {
        for (String flag : flags.values()) {
            if (flag.endsWith("=") ? argument.startsWith(flag) : argument.equals(flag)) {
                return true;
            }
        }
        return false;
    }

    private static Map<String, String> flags() {
        Map<String, String> flags = new HashMap<>();
        byte[] text = ApplicationStart.readResource(FLAGS_RESOURCE);
        if (text == null) {
            return flags;
        }
        for (String line : new String(text, StandardCharsets.UTF_8).split("\n")) {
            int equals = line.indexOf('=');
            if (line.startsWith("flag.") && equals > 0 && equals < line.length() - 1) {
                flags.put(line.substring(0, equals), line.substring(equals + 1));
            }
        }
        return flags;
    }
}
