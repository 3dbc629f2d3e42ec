// File chores of a repository folder: the scratch copy a publish works in (package
// files hard-linked, never written), sizes and hashes, and writes that replace a file.
package com.vellumbry.corvane.ship;

import java.io.IOException;
import java.io.InputStream;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.security.DigestInputStream;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.util.HexFormat;
import java.util.List;
import java.util.stream.Stream;

final class RepoFiles {
    private RepoFiles() {
    }

    /**
     * Copies {@code from} into the empty folder {@code to}: .deb and .rpm files and the Flatpak
     * repository's objects as hard links (a publish never changes a package file, and OSTree
     * replaces a file, never writes into one), everything else as a copy of its own, so that
     * rewriting an index in the copy leaves the served repository as it is.
     */
    static void copy(Path from, Path to) {
        for (Path path : walk(from)) {
            Path target = to.resolve(from.relativize(path).toString());
            try {
                if (Files.isSymbolicLink(path)) {
                    Files.createSymbolicLink(target, Files.readSymbolicLink(path));
                } else if (Files.isDirectory(path)) {
                    Files.createDirectories(target);
                } else if (isPackage(path) || from.relativize(path).startsWith(FlatpakRepository.FOLDER + "/objects")) {
                    Files.createLink(target, path);
                } else {
                    Files.copy(path, target, java.nio.file.StandardCopyOption.COPY_ATTRIBUTES);
                }
            } catch (IOException e) {
                throw Console.fail("cannot copy " + path + " for the publish: " + e.getMessage());
            }
        }
    }

    static boolean isPackage(Path file) {
        String name = file.getFileName().toString();
        return Files.isRegularFile(file, LinkOption.NOFOLLOW_LINKS) && (name.endsWith(".deb") || name.endsWith(".rpm"));
    }

    /** The file's size, MD5 and SHA-256 under the name {@code path} (relative to its index). */
    static AptIndex.FileFacts facts(Path file, String path) {
        try (InputStream in = Files.newInputStream(file)) {
            MessageDigest md5 = MessageDigest.getInstance("MD5");
            MessageDigest sha256 = MessageDigest.getInstance("SHA-256");
            in.transferTo(new java.io.OutputStream() {
                @Override
                public void write(int b) {
                    md5.update((byte) b);
                    sha256.update((byte) b);
                }

                @Override
                public void write(byte[] b, int off, int len) {
                    md5.update(b, off, len);
                    sha256.update(b, off, len);
                }
            });
            return new AptIndex.FileFacts(path, Files.size(file), HexFormat.of().formatHex(md5.digest()),
                    HexFormat.of().formatHex(sha256.digest()));
        } catch (IOException | NoSuchAlgorithmException e) {
            throw Console.fail("cannot read " + file + ": " + e.getMessage());
        }
    }

    /** Whether two files hold the same bytes. */
    static boolean same(Path a, Path b) {
        try {
            return Files.mismatch(a, b) == -1;
        } catch (IOException e) {
            throw Console.fail("cannot compare " + a + " with " + b + ": " + e.getMessage());
        }
    }

    /** Puts a copy of a package file into the repository, readable by the web server. */
    static void add(Path file, Path target) {
        try {
            Files.createDirectories(target.getParent());
            Files.copy(file, target);
            Files.setPosixFilePermissions(target, java.nio.file.attribute.PosixFilePermissions.fromString("rw-r--r--"));
        } catch (IOException e) {
            throw Console.fail("cannot add " + file + " to the repository: " + e.getMessage());
        }
    }

    /** Removes a file and the folders up to {@code top} that it leaves empty. */
    static void remove(Path file, Path top) {
        try {
            Files.delete(file);
            for (Path dir = file.getParent(); !dir.equals(top) && isEmpty(dir); dir = dir.getParent()) {
                Files.delete(dir);
            }
        } catch (IOException e) {
            throw Console.fail("cannot remove " + file + ": " + e.getMessage());
        }
    }

    /** Writes a new file in place of an old one (never through the old one's inode). */
    static void write(Path file, byte[] data) {
        try {
            Files.createDirectories(file.getParent());
            Files.deleteIfExists(file);
            Files.write(file, data);
        } catch (IOException e) {
            throw Console.fail("cannot write " + file + ": " + e.getMessage());
        }
    }

    static List<Path> walk(Path root) {
        if (!Files.exists(root)) {
            return List.of();
        }
        try (Stream<Path> paths = Files.walk(root)) {
            return paths.toList();
        } catch (IOException e) {
            throw Console.fail("cannot read " + root + ": " + e.getMessage());
        }
    }

    private static boolean isEmpty(Path dir) throws IOException {
        try (Stream<Path> entries = Files.list(dir)) {
            return entries.findAny().isEmpty();
        }
    }
}
