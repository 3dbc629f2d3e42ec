// Runs one corvane-ship subcommand as a process with a plain argument list (no shell),
// its lines relayed into Maven's log; a non-zero status fails the build with the
// command's own last line, its one-line message.
package com.vellumbry.corvane.maven;

import java.io.BufferedReader;
import java.io.File;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.List;
import org.apache.maven.plugin.MojoFailureException;
import org.apache.maven.plugin.logging.Log;

final class ShipCommand {
    private final String executable;
    private final Log log;

    ShipCommand(String executable, Log log) {
        this.executable = executable;
        this.log = log;
    }

    void run(String subcommand, List<String> arguments) throws MojoFailureException {
        List<String> command = new ArrayList<>();
        command.add(executable);
        command.add(subcommand);
        command.addAll(arguments);
        log.debug("Running " + command);
        // One stream keeps the command's order; its failure line is its last.
        ProcessBuilder builder = new ProcessBuilder(command).redirectErrorStream(true)
                .redirectInput(ProcessBuilder.Redirect.from(new File("/dev/null")));
        Process process;
        try {
            process = builder.start();
        } catch (IOException e) {
            throw new MojoFailureException("cannot run " + executable + " (" + e.getMessage()
                    + "): install Corvane's shipping tools or set <shipCommand>");
        }
        String last = "";
        try (BufferedReader reader = process.inputReader(StandardCharsets.UTF_8)) {
            for (String line = reader.readLine(); line != null; line = reader.readLine()) {
                log.info(line);
                if (!line.isBlank()) {
                    last = line.strip();
                }
            }
            int status = process.waitFor();
            if (status != 0) {
                throw new MojoFailureException(last.isEmpty() ? executable + " " + subcommand
                        + " ended with status " + status : last);
            }
        } catch (IOException e) {
            process.destroy();
            throw new MojoFailureException("cannot read the output of " + executable + " " + subcommand + ": "
                    + e.getMessage());
        } catch (InterruptedException e) {
            process.destroy();
            Thread.currentThread().interrupt();
            throw new MojoFailureException(executable + " " + subcommand + " was interrupted");
        }
    }
}
