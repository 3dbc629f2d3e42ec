// The folders a tool builds in: its result next to the destination (renamed into place
// at the end) and a scratch folder. A failed or interrupted run leaves neither behind.
package com.vellumbry.corvane.ship;

import java.io.IOException;
import java.nio.file.FileVisitResult;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.nio.file.SimpleFileVisitor;
import java.nio.file.StandardCopyOption;
import java.nio.file.attribute.BasicFileAttributes;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.List;
import java.util.concurrent.CopyOnWriteArrayList;

final class Workspace {
    private static final List<Runnable> ON_EXIT = new CopyOnWriteArrayList<>();

    static {
        // Runs on SIGINT and SIGTERM too: children first, then the folders.
        Runtime.getRuntime().addShutdownHook(new Thread(() -> {
            Exec.endAll();
            for (int i = ON_EXIT.size() - 1; i >= 0; i--) {
                ON_EXIT.get(i).run();
            }
        }, "cleanup"));
    }

    private final Path work;
    private final Path scratch;
    private volatile boolean kept;

    private Workspace(Path work, Path scratch) {
        this.work = work;
        this.scratch = scratch;
        ON_EXIT.add(this::discard);
    }

    /** A hidden folder ".<name>.<purpose>.<random>" in {@code parent}, and a scratch folder. */
    static Workspace create(Path parent, String name, String purpose, String notWritable) {
        Path work;
        try {
            work = Files.createTempDirectory(parent, "." + name + "." + purpose + ".");
            Files.setPosixFilePermissions(work, PosixFilePermissions.fromString("rwxr-xr-x"));
        } catch (IOException | UnsupportedOperationException | SecurityException e) {
            throw Console.fail(notWritable);
        }
        try {
            Path tmp = Path.of(System.getenv().getOrDefault("TMPDIR", "/tmp"));
            return new Workspace(work, Files.createTempDirectory(tmp, "corvane-" + purpose + "."));
        } catch (IOException | IllegalArgumentException e) {
            removeTree(work);
            throw Console.fail("cannot create a scratch directory: " + e.getMessage());
        }
    }

    /** A scratch folder alone, for a run that builds nothing; it goes when the tool ends. */
    static Path scratchFolder() {
        try {
            Path tmp = Files.createTempDirectory(Path.of(System.getenv().getOrDefault("TMPDIR", "/tmp")), "corvane-ship.");
            atExit(() -> removeTree(tmp));
            return tmp;
        } catch (IOException | IllegalArgumentException e) {
            throw Console.fail("cannot create a scratch directory: " + e.getMessage());
        }
    }

    Path work() {
        return work;
    }

    Path scratch() {
        return scratch;
    }

    /** Runs {@code action} when the tool ends, however it ends (before the folders go). */
    static void atExit(Runnable action) {
        ON_EXIT.add(action);
    }

    /**
     * Renames the work folder to {@code dest}, replacing what is there (an older result,
     * which is removed only once the new one is in place).
     */
    void moveInto(Path dest) {
        Path old = null;
        if (Files.exists(dest, LinkOption.NOFOLLOW_LINKS)) {
            old = dest.resolveSibling("." + dest.getFileName() + ".old." + ProcessHandle.current().pid());
            move(dest, old, "cannot move the old " + dest + " aside");
        }
        try {
            Files.move(work, dest, StandardCopyOption.ATOMIC_MOVE);
        } catch (IOException e) {
            if (old != null) {
                move(old, dest, "cannot move the old " + dest + " back");
            }
            throw Console.fail("cannot rename " + work + " to " + dest + ": " + e.getMessage());
        }
        kept = true;
        if (old != null) {
            removeTree(old);
        }
    }

    /** Renames a finished file of the work folder to {@code dest}, replacing an older one. */
    void moveFileInto(Path file, Path dest) {
        try {
            Files.move(file, dest, StandardCopyOption.REPLACE_EXISTING, StandardCopyOption.ATOMIC_MOVE);
        } catch (IOException e) {
            throw Console.fail("cannot move " + file.getFileName() + " into " + dest.getParent() + ": " + e.getMessage());
        }
    }

    private static void move(Path from, Path to, String failure) {
        try {
            Files.move(from, to, StandardCopyOption.ATOMIC_MOVE);
        } catch (IOException e) {
            throw Console.fail(failure + ": " + e.getMessage());
        }
    }

    private void discard() {
        if (!kept) {
            removeUnderFoot(work);
        }
        removeTree(scratch);
    }

    /**
     * Removes a folder that a tool in this process may still be writing into: renamed away
     * first and its name blocked by a file, so that nothing recreates it while it goes.
     */
    private static void removeUnderFoot(Path dir) {
        Path away = dir.resolveSibling(dir.getFileName() + ".removing");
        try {
            Files.move(dir, away, StandardCopyOption.ATOMIC_MOVE);
            Files.createFile(dir);
        } catch (IOException e) {
            away = dir;
        }
        removeTree(away);
        if (!away.equals(dir)) {
            try {
                Files.deleteIfExists(dir);
            } catch (IOException e) {
                // Nothing more can be done on the way out.
            }
        }
    }

    /** Removes a file tree without following links; quietly, on the best-effort path. */
    static void removeTree(Path root) {
        if (!Files.exists(root, LinkOption.NOFOLLOW_LINKS)) {
            return;
        }
        try {
            Files.walkFileTree(root, new SimpleFileVisitor<>() {
                @Override
                public FileVisitResult visitFile(Path file, BasicFileAttributes attrs) throws IOException {
                    Files.deleteIfExists(file);
                    return FileVisitResult.CONTINUE;
                }

                @Override
                public FileVisitResult visitFileFailed(Path file, IOException e) throws IOException {
                    if (!(e instanceof NoSuchFileException)) {
                        Files.deleteIfExists(file);
                    }
                    return FileVisitResult.CONTINUE;
                }

                @Override
                public FileVisitResult postVisitDirectory(Path dir, IOException e) throws IOException {
                    Files.deleteIfExists(dir);
                    return FileVisitResult.CONTINUE;
                }
            });
        } catch (IOException e) {
            // Best effort: what is left is a temporary folder of ours, named as such.
        }
    }
}
