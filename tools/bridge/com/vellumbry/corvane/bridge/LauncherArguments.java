package com.vellumbry.corvane.bridge;

import java.util.ArrayList;
import java.util.List;
import java.util.Set;

/** The application's own arguments: the process's, less the program path and the launcher's flags. */
final class LauncherArguments {

    private static final String WAIT_FOR_PID = "--wait-for-pid";
    private static final String JVM_ARGS_PREFIX = "--jvm-args=";
    private static final Set<String> FLAGS = Set.of(
            "--version", "--log-native-to-stdout", "--install", "--kill-wait-for-pid-target-on-timeout");

    private LauncherArguments() {
    }

    static String[] applicationArguments(String[] processArguments) {
        List<String> own = new ArrayList<>();
        for (int i = 1; i < processArguments.length; i++) {
            String argument = processArguments[i];
            if (argument.equals(WAIT_FOR_PID)) {
                i++; // the pid belongs to the flag
            } else if (!FLAGS.contains(argument) && !argument.startsWith(JVM_ARGS_PREFIX)) {
                own.add(argument);
            }
        }
        return own.toArray(new String[0]);
    }
}
