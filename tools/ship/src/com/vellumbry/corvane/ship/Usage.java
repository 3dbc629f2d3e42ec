// The tools' help texts, filled from the facts they name, and worded for how the tool was
// started: "tools/assemble-tree" from the checkout, "corvane-ship assemble" installed. The
// release's man pages and bash completion are made from the same texts.
package com.vellumbry.corvane.ship;

import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

final class Usage {
    /** Each tool of the checkout and the subcommand that is it in the installed command. */
    static final Map<String, String> SUBCOMMANDS = subcommands();
    private static final Pattern OPTION = Pattern.compile("(?m)^  (?:-[a-z], )?(--[a-z][a-z0-9-]*=?)");

    private Usage() {
    }

    private static Map<String, String> subcommands() {
        Map<String, String> map = new LinkedHashMap<>();
        map.put("assemble-tree", "assemble");
        map.put("package", "package");
        map.put("publish", "publish");
        return map;
    }

    /** The help of {@code tool} (a key of SUBCOMMANDS), for the command when {@code installed}. */
    static String text(String tool, boolean installed) {
        String text = Templates.fill(Templates.read(tool + "-usage.txt"), values(tool, installed));
        if (installed) {
            for (Map.Entry<String, String> e : SUBCOMMANDS.entrySet()) {
                text = text.replace("tools/" + e.getKey(), Main.COMMAND + " " + e.getValue());
            }
        }
        return text;
    }

    /** Whether {@code console} speaks for the installed command rather than a checkout's tool. */
    static boolean installed(Console console) {
        return console.program().startsWith(Main.COMMAND);
    }

    /** The long options a help text lists, in its order ("--single-instance=" for a value joined by '='). */
    static List<String> options(String text) {
        List<String> options = new java.util.ArrayList<>();
        for (Matcher m = OPTION.matcher(text); m.find(); ) {
            if (!options.contains(m.group(1))) {
                options.add(m.group(1));
            }
        }
        return options;
    }

    private static Map<String, String> values(String tool, boolean installed) {
        return switch (tool) {
            case "assemble-tree" -> Map.of("BASE_MODULES", String.join(",", RuntimeImage.BASE_MODULES),
                    "JDK_MINIMUM", Integer.toString(AssembleOptions.minimum()), "TOOL_MODULES", toolModules(),
                    "LAUNCHER", installed ? "(default: this release's own)" : "(required)",
                    "LAUNCHER_ARG", installed ? "[--launcher <corvane>]" : "--launcher <corvane>");
            case "package" -> Map.of("ENTRY_WINDOW_CLASS", TreeRecord.ENTRY_WINDOW_CLASS);
            default -> Map.of();
        };
    }

    /** The development tools the default runtime leaves out, one per line. */
    private static String toolModules() {
        StringBuilder text = new StringBuilder();
        RuntimeImage.TOOLS.forEach((module, why) -> text.append(String.format("  %-18s %s%n", module, why)));
        return text.toString().stripTrailing();
    }
}
