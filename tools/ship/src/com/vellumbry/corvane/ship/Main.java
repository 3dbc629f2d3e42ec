// The shipping tools' entry: "assemble-tree", "package" or "publish", then that tool's arguments.
// A failure is one line on stderr and status 1; nothing half-built is left behind.
package com.vellumbry.corvane.ship;

import java.nio.file.InvalidPathException;
import java.util.Arrays;

public final class Main {
    private Main() {
    }

    public static void main(String[] args) {
        String tool = args.length > 0 ? args[0] : "";
        String[] rest = args.length > 0 ? Arrays.copyOfRange(args, 1, args.length) : args;
        Console console = new Console(tool.isEmpty() ? "ship" : tool);
        try {
            switch (tool) {
                case "assemble-tree" -> AssembleTree.run(rest, console);
                case "package" -> PackageTree.run(rest, console);
                case "publish" -> Publish.run(rest, console);
                default -> throw Console.fail("no such tool '" + tool + "': assemble-tree, package or publish");
            }
        } catch (Failure failure) {
            console.line(failure.getMessage());
            System.exit(1);
        } catch (ExceptionInInitializerError error) {
            // A class's constant that the contract file could not give.
            if (!(error.getCause() instanceof Failure failure)) {
                throw error;
            }
            console.line(failure.getMessage());
            System.exit(1);
        } catch (InvalidPathException e) {
            // The VM names files in the locale's character set: in the C locale only ASCII.
            String charset = System.getProperty("sun.jnu.encoding", "");
            console.line("cannot name the file '" + e.getInput() + "' in the locale's character set " + charset
                    + (charset.equalsIgnoreCase("UTF-8") ? "" : "; run with a UTF-8 locale, e.g. LC_ALL=C.UTF-8"));
            System.exit(1);
        }
        System.exit(0);
    }
}
