// Folders given among the jars, as start scripts put a folder of resources on the class
// path: java takes a folder there, the class data archives do not (a dump stops at a
// non-empty folder, and a start that finds one where the archive was made drops the
// archive). So each folder becomes a jar of its contents, named after it, in its place in
// the class path: its classes and resources load as before, from a jar.
package com.vellumbry.corvane.ship;

import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.file.FileSystemLoopException;
import java.nio.file.FileVisitOption;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.jar.JarEntry;
import java.util.jar.JarOutputStream;
import java.util.stream.Stream;

final class ClassPathFolders {
    private ClassPathFolders() {
    }

    /** The given paths, each folder replaced by a jar of its contents (<name>.jar) in a scratch folder; a note for each. */
    static List<Path> packed(List<Path> given, Console console) {
        List<Path> paths = new ArrayList<>();
        Path scratch = null;
        for (Path path : given) {
            Path name = path.toAbsolutePath().normalize().getFileName();
            if (!Files.isDirectory(path) || name == null) {
                paths.add(path);
                continue;
            }
            if (scratch == null) {
                scratch = Workspace.scratchFolder();
            }
            // A folder named like a jar (an unpacked one) keeps its name.
            String file = name.toString().endsWith(".jar") ? name.toString() : name + ".jar";
            Path jar = scratch.resolve(Integer.toString(paths.size())).resolve(file);
            pack(path, jar);
            console.say("the class path folder " + path + " goes into the tree as the jar " + jar.getFileName()
                    + ": the class data archives take no folder");
            paths.add(jar);
        }
        return paths;
    }

    /** Its files and folders in name order, with their times; links are followed, as the class loader follows them. */
    private static void pack(Path dir, Path jar) {
        try {
            Files.createDirectories(jar.getParent());
            try (Stream<Path> walk = Files.walk(dir, FileVisitOption.FOLLOW_LINKS);
                 JarOutputStream out = new JarOutputStream(Files.newOutputStream(jar))) {
                for (Path file : walk.sorted().toList()) {
                    String name = dir.relativize(file).toString();
                    if (name.isEmpty()) {
                        continue;
                    }
                    boolean folder = Files.isDirectory(file);
                    JarEntry entry = new JarEntry(folder ? name + "/" : name);
                    entry.setLastModifiedTime(Files.getLastModifiedTime(file));
                    out.putNextEntry(entry);
                    if (!folder) {
                        Files.copy(file, out);
                    }
                    out.closeEntry();
                }
            }
        } catch (UncheckedIOException e) {
            throw packFailure(dir, e.getCause());
        } catch (IOException e) {
            throw packFailure(dir, e);
        }
    }

    private static Failure packFailure(Path dir, IOException e) {
        String why = e instanceof FileSystemLoopException ? "a link leads back into it at " + e.getMessage() : e.getMessage();
        return Console.fail("cannot pack the class path folder " + dir + " into a jar: " + why);
    }
}
