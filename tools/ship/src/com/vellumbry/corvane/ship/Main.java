// The shipping tools' entry: "assemble-tree", "package" or "publish", then that tool's
// arguments; or "corvane-ship" and then its subcommand ("assemble", "package", "publish")
// with the same arguments. A failure is one line on stderr and status 1; nothing
// half-built is left behind.
package com.vellumbry.corvane.ship;

import java.nio.file.InvalidPathException;
import java.util.Arrays;

public final class Main {
    static final String COMMAND = "corvane-ship";

    private Main() {
    }

    public static void main(String[] args) {
        String tool = args.length > 0 ? args[0] : "";
        String[] rest = args.length > 0 ? Arrays.copyOfRange(args, 1, args.length) : args;
        if (tool.equals(COMMAND)) {
            String sub = rest.length > 0 ? rest[0] : "";
            String[] subArgs = rest.length > 0 ? Arrays.copyOfRange(rest, 1, rest.length) : rest;
            System.exit(run(sub.isEmpty() || sub.startsWith("-") ? COMMAND : COMMAND + " " + sub, sub, subArgs));
        }
        System.exit(run(tool.isEmpty() ? "ship" : tool, tool, rest));
    }

    /** Runs one tool under the name its messages carry; returns the exit status. */
    private static int run(String program, String tool, String[] args) {
        Console console = new Console(program);
        try {
            switch (tool) {
                case "assemble-tree", "assemble" -> AssembleTree.run(args, console);
                case "package" -> PackageTree.run(args, console);
                case "publish" -> Publish.run(args, console);
                case "release" -> {
                    // Made from the checkout only: the installed command has no release of its own to make.
                    if (program.startsWith(COMMAND)) {
                        throw Console.fail("no such subcommand 'release': assemble, package or publish");
                    }
                    MakeRelease.run(args, console);
                }
                case "--version" -> System.out.print(Release.versionText());
                case "-h", "--help" -> System.out.print(Templates.read("corvane-ship-usage.txt"));
                case "" -> throw Console.fail("no " + (program.startsWith(COMMAND) ? "subcommand" : "tool")
                        + " given: assemble, package or publish (see " + COMMAND + " --help)");
                default -> throw Console.fail("no such " + (program.startsWith(COMMAND) ? "subcommand" : "tool") + " '"
                        + tool + "': assemble, package or publish (see " + COMMAND + " --help)");
            }
        } catch (Failure failure) {
            console.line(failure.getMessage());
            return 1;
        } catch (ExceptionInInitializerError error) {
            // A class's constant that the contract file could not give.
            if (!(error.getCause() instanceof Failure failure)) {
                throw error;
            }
            console.line(failure.getMessage());
            return 1;
        } catch (InvalidPathException e) {
            // The VM names files in the locale's character set: in the C locale only ASCII.
            String charset = System.getProperty("sun.jnu.encoding", "");
            console.line("cannot name the file '" + e.getInput() + "' in the locale's character set " + charset
                    + (charset.equalsIgnoreCase("UTF-8") ? "" : "; run with a UTF-8 locale, e.g. LC_ALL=C.UTF-8"));
            return 1;
        }
        return 0;
    }
}
