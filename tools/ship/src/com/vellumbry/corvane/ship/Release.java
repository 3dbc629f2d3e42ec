// What this release of the tools is: its version (the jar's, "checkout" when run from the
// sources), the launcher it assembles trees with by default, and the contract they share.
package com.vellumbry.corvane.ship;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import java.util.Optional;

final class Release {
    /** The property the installed command sets to its own launcher. */
    static final String LAUNCHER_PROPERTY = "corvane.launcher";

    private Release() {
    }

    static String version() {
        String version = Release.class.getPackage().getImplementationVersion();
        return version == null ? "checkout " + Templates.toolsDir().getParent() : version;
    }

    /** The release's own launcher, when the tools run as an installed release. */
    static Optional<Path> launcher() {
        String file = System.getProperty(LAUNCHER_PROPERTY, "");
        return file.isEmpty() ? Optional.empty() : Optional.of(Path.of(file));
    }

    /** The release's launcher for another CPU ({@code arch}, e.g. "aarch64"): corvane-<arch> beside its own. */
    static Path launcher(String arch) {
        Path file = launcher().orElseThrow().resolveSibling("corvane-" + arch);
        if (!Files.isRegularFile(file)) {
            throw Console.fail("this release has no launcher for " + arch + " (" + file + "): give --launcher");
        }
        return file;
    }

    /** corvane-ship --version: the tool's line, the launcher's, the contract's. */
    static String versionText() {
        String launcher = launcher().map(Release::launcherLine)
                .orElse("no launcher of its own (assemble needs --launcher)");
        return Main.COMMAND + " " + version() + "\nlauncher: " + launcher + "\ncontract: "
                + Contract.value(TreeRecord.CONTRACT_KEY) + "\n";
    }

    private static String launcherLine(Path file) {
        if (!Files.isExecutable(file)) {
            throw Console.fail("the release's launcher " + file + " is missing: reinstall the tools");
        }
        Path scratch = Workspace.scratchFolder();
        String printed = Exec.output(List.of(file.toString(), Contract.value("flag.version")), scratch,
                "the release's launcher " + file + " does not answer " + Contract.value("flag.version"));
        return printed.strip() + " (" + file + ")";
    }
}
