// One kind of package that tools/package makes: the slots that the one flow of PackageTree
// fills for it. The flow stages the shared files once; a format adds its own, names its
// file, says what the tree needs, builds, and reads the built package back.
package com.vellumbry.corvane.ship;

import java.nio.file.Path;
import java.util.HashSet;
import java.util.List;
import java.util.Map;
import java.util.Set;

sealed interface PackageFormat permits DebFormat, RpmFormat, FlatpakFormat {
    /** The system's package formats, in the order tools/package builds and names them (a Flatpak comes after). */
    List<PackageFormat> ALL = List.of(new DebFormat(), new RpmFormat());

    /** What a package is and holds (absolute paths, sorted): as staged, or as its tools read it back. */
    record Contents(String name, String version, String arch, List<String> files) {
    }

    /** Fails with a one-line message naming the package to install when a tool the format runs is missing. */
    void checkTools();

    /** Its folder of templates (tools/ship/templates, maintainer-scripts), and of its work in the stage. */
    String folder();

    /** The maintainer scripts' templates in its folder, filled from the package's script values. */
    List<String> scripts();

    String fileName(Package p);

    /** Adds the format's own files to {@code root}, its hard-link copy of the shared files. */
    void stage(Package p, Path root, Path scratch);

    /** What the programs of the tree at {@code tree} need, in the format's names. */
    List<String> dependencies(Path tree, Path scratch);

    /** Writes its metadata and scripts, builds the package of {@code root} into {@code stage}; the file. */
    Path build(Package p, Path root, List<String> dependencies, Map<String, String> scripts, Path stage, Path scratch);

    /** What the package must be and hold, from the paths staged below its root (folders with a '/' at the end). */
    Contents wanted(Package p, List<String> staged);

    /** What the package file is and holds, as the format's own tools read it. */
    Contents readBack(Path file, Path scratch);

    /** A staged path ("usr/bin/", "usr/bin/x") as installed ("/usr/bin", "/usr/bin/x"). */
    static String installed(String staged) {
        return "/" + (staged.endsWith("/") ? staged.substring(0, staged.length() - 1) : staged);
    }

    /** How {@code got} differs from {@code wanted}, the first difference; null when it does not. */
    static String difference(Contents wanted, Contents got) {
        if (!got.name().equals(wanted.name())) {
            return "is named " + got.name() + ", not " + wanted.name();
        }
        if (!got.version().equals(wanted.version())) {
            return "has version " + got.version() + ", not " + wanted.version();
        }
        if (!got.arch().equals(wanted.arch())) {
            return "is for " + got.arch() + ", not " + wanted.arch();
        }
        Set<String> held = new HashSet<>(got.files());
        for (String file : wanted.files()) {
            if (!held.contains(file)) {
                return "lacks " + file + ", which was staged";
            }
        }
        Set<String> staged = new HashSet<>(wanted.files());
        for (String file : got.files()) {
            if (!staged.contains(file)) {
                return "holds " + file + ", which was not staged";
            }
        }
        return null;
    }
}
