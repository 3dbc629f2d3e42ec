// The package root as the package tools take it: file modes, stripped programs, the
// listing of what it holds, the installed size and the md5sums, as Debian's packaging makes them.
package com.vellumbry.corvane.ship;

import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.attribute.PosixFilePermission;
import java.nio.file.attribute.PosixFilePermissions;
import java.security.DigestInputStream;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.util.ArrayList;
import java.util.HexFormat;
import java.util.List;
import java.util.stream.Stream;

final class PackageRoot {
    private PackageRoot() {
    }

    /** Folders 0755; programs 0755 and other files 0644 (libraries and jars too): root's, not writable by others. */
    static void setModes(Path root) {
        for (Path path : walk(root)) {
            if (Files.isSymbolicLink(path)) {
                continue;
            }
            String name = path.getFileName().toString();
            boolean program = Files.isDirectory(path) || (isOwnerExecutable(path) && !name.endsWith(".so") && !name.endsWith(".jar"));
            try {
                Files.setPosixFilePermissions(path, PosixFilePermissions.fromString(program ? "rwxr-xr-x" : "rw-r--r--"));
            } catch (IOException e) {
                throw Console.fail("cannot set the mode of " + path + ": " + e.getMessage());
            }
        }
    }

    /** Writes a file of a format's own below {@code root}: 0644, its folders 0755, whatever the umask. */
    static void add(Path root, String path, String text) {
        add(root, path, text.getBytes(StandardCharsets.UTF_8));
    }

    static void add(Path root, String path, byte[] data) {
        Path file = root.resolve(path);
        try {
            Files.createDirectories(file.getParent());
            Files.write(file, data);
            Files.setPosixFilePermissions(file, PosixFilePermissions.fromString("rw-r--r--"));
            for (Path dir = file.getParent(); dir.startsWith(root); dir = dir.getParent()) {
                Files.setPosixFilePermissions(dir, PosixFilePermissions.fromString("rwxr-xr-x"));
            }
        } catch (IOException e) {
            throw Console.fail("cannot write " + file + ": " + e.getMessage());
        }
    }

    /** The paths below {@code root}, relative, a folder's with a '/' at its end; sorted. */
    static List<String> listing(Path root) {
        return walk(root).stream().filter(path -> !path.equals(root))
                .map(path -> root.relativize(path) + (Files.isDirectory(path, LinkOption.NOFOLLOW_LINKS) ? "/" : ""))
                .sorted().toList();
    }

    static void executable(Path file) {
        try {
            Files.setPosixFilePermissions(file, PosixFilePermissions.fromString("rwxr-xr-x"));
        } catch (IOException e) {
            throw Console.fail("cannot set the mode of " + file + ": " + e.getMessage());
        }
    }

    /**
     * Strips the ELF files as Debian's packaging does: debug symbols and comments out, dynamic
     * symbols kept; each CPU's files with its binutils' strip (the host's, or aarch64-linux-gnu-strip).
     */
    static void strip(Path tree, Path scratch) {
        java.util.Map<String, List<Path>> byCpu = new java.util.TreeMap<>();
        for (Path file : ElfLibraries.elfFiles(tree)) {
            byCpu.computeIfAbsent(ElfLibraries.machine(file), cpu -> new ArrayList<>()).add(file);
        }
        byCpu.forEach((cpu, files) -> {
            String strip = cpu.equals(Jdk.HOST_ARCH) || cpu.isEmpty() ? "strip" : cpu + "-linux-gnu-strip";
            if (!Exec.onPath(strip)) {
                throw Console.fail(strip + " is not installed (package binutils-" + cpu.replace('_', '-')
                        + "-linux-gnu): it strips the " + cpu + " programs");
            }
            List<String> libraries = new ArrayList<>(List.of(strip, "--remove-section=.comment", "--remove-section=.note",
                    "--strip-unneeded"));
            List<String> programs = new ArrayList<>(List.of(strip, "--remove-section=.comment", "--remove-section=.note"));
            for (Path file : files) {
                (file.getFileName().toString().matches(".*\\.so(\\..*)?") ? libraries : programs).add(file.toString());
            }
            if (libraries.size() > 4) {
                Exec.output(libraries, scratch, "cannot strip the tree's libraries");
            }
            if (programs.size() > 3) {
                Exec.output(programs, scratch, "cannot strip the tree's programs");
            }
        });
    }

    /** Installed-Size as dpkg-gencontrol counts it: KiB per file, rounded up, and one per folder or link. */
    static long installedKiB(Path root) {
        long total = 0;
        for (Path path : walk(root)) {
            if (path.startsWith(root.resolve("DEBIAN"))) {
                continue;
            }
            try {
                total += Files.isRegularFile(path, LinkOption.NOFOLLOW_LINKS) ? (Files.size(path) + 1023) / 1024 : 1;
            } catch (IOException e) {
                throw Console.fail("cannot read " + path + ": " + e.getMessage());
            }
        }
        return total;
    }

    /** DEBIAN/md5sums: "<md5>  <path>" for every file, paths relative to the root, sorted. */
    static String md5sums(Path root) {
        StringBuilder out = new StringBuilder();
        walk(root).stream().filter(p -> Files.isRegularFile(p, LinkOption.NOFOLLOW_LINKS))
                .filter(p -> !p.startsWith(root.resolve("DEBIAN")))
                .map(p -> root.relativize(p).toString()).sorted()
                .forEach(relative -> out.append(md5(root.resolve(relative))).append("  ").append(relative).append('\n'));
        return out.toString();
    }

    private static String md5(Path file) {
        try (InputStream in = new DigestInputStream(Files.newInputStream(file), MessageDigest.getInstance("MD5"))) {
            in.transferTo(java.io.OutputStream.nullOutputStream());
            return HexFormat.of().formatHex(((DigestInputStream) in).getMessageDigest().digest());
        } catch (IOException | NoSuchAlgorithmException e) {
            throw Console.fail("cannot read " + file + ": " + e.getMessage());
        }
    }

    private static boolean isOwnerExecutable(Path path) {
        try {
            return Files.getPosixFilePermissions(path, LinkOption.NOFOLLOW_LINKS).contains(PosixFilePermission.OWNER_EXECUTE);
        } catch (IOException e) {
            return false;
        }
    }

    private static List<Path> walk(Path root) {
        try (Stream<Path> paths = Files.walk(root)) {
            return paths.toList();
        } catch (IOException e) {
            throw Console.fail("cannot read " + root + ": " + e.getMessage());
        }
    }
}
