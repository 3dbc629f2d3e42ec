// The shipping tools' command lines: "--option value", "--option=value", flags,
// repeatable options and plain arguments, parsed once into one value.
package com.vellumbry.corvane.ship;

import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.Set;

final class CommandLine {
    private final Map<String, List<String>> values = new HashMap<>();
    private final List<String> arguments = new ArrayList<>();
    private boolean help;

    /**
     * Reads {@code args}: options in {@code withValue} take a value, those in {@code flags}
     * none; "-h"/"--help" asks for help and "-q" is "--quiet". Plain arguments are kept
     * when {@code argumentsAllowed}, else they fail.
     */
    static CommandLine parse(String[] args, Set<String> withValue, Set<String> flags, boolean argumentsAllowed) {
        CommandLine line = new CommandLine();
        for (int i = 0; i < args.length; i++) {
            String arg = args[i];
            if (arg.equals("-h") || arg.equals("--help")) {
                line.help = true;
                return line;
            }
            if (arg.equals("--") && argumentsAllowed) {
                line.arguments.addAll(List.of(args).subList(i + 1, args.length));
                break;
            }
            if (!arg.startsWith("-") || arg.equals("-")) {
                if (!argumentsAllowed) {
                    throw Console.fail("unexpected argument " + arg + " (see --help)");
                }
                line.arguments.add(arg);
                continue;
            }
            String name = arg.equals("-q") ? "--quiet" : arg;
            String value = null;
            int equals = name.indexOf('=');
            if (equals > 0) {
                value = name.substring(equals + 1);
                name = name.substring(0, equals);
            }
            if (flags.contains(name) && value == null) {
                line.values.computeIfAbsent(name, k -> new ArrayList<>()).add("");
            } else if (withValue.contains(name)) {
                if (value == null) {
                    if (i + 1 >= args.length) {
                        throw Console.fail(name + " needs a value");
                    }
                    value = args[++i];
                }
                line.values.computeIfAbsent(name, k -> new ArrayList<>()).add(value);
            } else {
                throw Console.fail("unknown option " + name + " (see --help)");
            }
        }
        return line;
    }

    boolean help() {
        return help;
    }

    boolean has(String option) {
        return values.containsKey(option);
    }

    /** The last value given for the option, or {@code fallback}. */
    String value(String option, String fallback) {
        List<String> all = values.get(option);
        return all == null ? fallback : all.get(all.size() - 1);
    }

    List<String> all(String option) {
        return values.getOrDefault(option, List.of());
    }

    List<String> arguments() {
        return arguments;
    }
}
