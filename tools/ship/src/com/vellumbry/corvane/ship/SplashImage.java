// The tree's splash screen: the image java shows before its VM (the first jar's manifest
// SplashScreen-Image under -jar, or the file of --splash), copied into lib/splash/ with the
// scaled variants that java's lookup finds beside it ("<name>@2x.png", "<name>@150pct.png").
package com.vellumbry.corvane.ship;

import java.io.IOException;
import java.io.InputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.jar.JarEntry;
import java.util.jar.JarFile;
import java.util.regex.Pattern;
import java.util.stream.Stream;

/**
 * @param jar   the jar that holds the image, or null for a file
 * @param image the image: the file, or the jar entry's name
 */
record SplashImage(Path jar, String image) {
    /** Below lib/, the folder the image goes to. */
    static final String FOLDER = "splash";

    /** The image from --splash, checked: a readable PNG, GIF or JPEG. */
    static Path checkFile(String given) {
        Path file = Path.of(given);
        if (!Files.isRegularFile(file) || !Files.isReadable(file)) {
            throw Console.fail("splash image not found or not readable: " + given);
        }
        try (InputStream in = Files.newInputStream(file)) {
            if (!isImage(in.readNBytes(4))) {
                throw Console.fail("splash image " + given + " is not a PNG, GIF or JPEG file");
            }
        } catch (IOException e) {
            throw Console.fail("splash image not found or not readable: " + given + ": " + e.getMessage());
        }
        return file.toAbsolutePath().normalize();
    }

    /** The tree's splash: the --splash file, else the manifest's image when the jar holds it; null for none. */
    static SplashImage choose(Path file, boolean none, AppJars.Facts app, Console console) {
        if (none) {
            return null;
        }
        if (file != null) {
            return new SplashImage(null, file.toString());
        }
        if (app.splash().isEmpty()) {
            return null;
        }
        Path jar = app.jars().get(0);
        String entry = app.splash();
        try (JarFile jarFile = new JarFile(jar.toFile(), false)) {
            JarEntry found = jarFile.getJarEntry(entry);
            if (found == null || found.isDirectory()) {
                console.line("NOTE: the manifest of " + jar.getFileName() + " names the splash image " + entry
                        + ", which the jar does not hold: no splash screen");
                return null;
            }
            try (InputStream in = jarFile.getInputStream(found)) {
                if (!isImage(in.readNBytes(4))) {
                    console.line("NOTE: the splash image " + entry + " in " + jar.getFileName()
                            + " is not a PNG, GIF or JPEG file: no splash screen");
                    return null;
                }
            }
        } catch (IOException e) {
            throw Console.fail("cannot read the jar " + jar + ": " + e.getMessage());
        }
        return new SplashImage(jar, entry);
    }

    /** Copies the image and its scaled variants into {@code lib/splash/}; the record's value. */
    String install(Path lib, Console console) {
        String name = image.substring(image.lastIndexOf('/') + 1);
        if (name.isEmpty() || name.contains("\n") || name.contains("\r")) {
            throw Console.fail("the splash image's file name cannot stand in the tree's record: " + image);
        }
        Path folder = lib.resolve(FOLDER);
        List<String> copied = new ArrayList<>();
        try {
            Files.createDirectories(folder);
            if (jar == null) {
                copyFiles(Path.of(image), folder, copied);
            } else {
                copyEntries(folder, copied);
            }
        } catch (IOException e) {
            throw Console.fail("cannot copy the splash image " + image + ": " + e.getMessage());
        }
        console.say("lib/" + FOLDER + "/: splash image " + String.join(", ", copied));
        return "lib/" + FOLDER + "/" + name;
    }

    private void copyFiles(Path file, Path folder, List<String> copied) throws IOException {
        Pattern variant = variants(file.getFileName().toString());
        List<Path> files = new ArrayList<>(List.of(file));
        try (Stream<Path> siblings = Files.list(file.toAbsolutePath().getParent())) {
            siblings.filter(p -> variant.matcher(p.getFileName().toString()).matches()).sorted().forEach(files::add);
        }
        for (Path source : files) {
            Files.copy(source, folder.resolve(source.getFileName().toString()));
            copied.add(source.getFileName().toString());
        }
    }

    private void copyEntries(Path folder, List<String> copied) throws IOException {
        int slash = image.lastIndexOf('/');
        String dir = image.substring(0, slash + 1);
        Pattern variant = variants(image.substring(slash + 1));
        try (JarFile file = new JarFile(jar.toFile(), false)) {
            List<JarEntry> entries = new ArrayList<>(List.of(file.getJarEntry(image)));
            file.stream().filter(e -> !e.isDirectory() && e.getName().startsWith(dir)
                    && variant.matcher(e.getName().substring(dir.length())).matches()).forEach(entries::add);
            for (JarEntry entry : entries) {
                String name = entry.getName().substring(dir.length());
                try (InputStream in = file.getInputStream(entry)) {
                    Files.copy(in, folder.resolve(name));
                }
                copied.add(name);
            }
        }
    }

    /** The names java's scaled lookup tries for {@code name}: "@<n>pct" or "@<n>x" before the extension. */
    static Pattern variants(String name) {
        int dot = name.lastIndexOf('.');
        String stem = dot < 0 ? name : name.substring(0, dot);
        String extension = dot < 0 ? "" : name.substring(dot);
        return Pattern.compile(Pattern.quote(stem) + "@[0-9]+(x|pct)" + Pattern.quote(extension));
    }

    /** The formats the runtime's splash library decodes, by their signatures. */
    private static boolean isImage(byte[] head) {
        byte[][] signatures = {{(byte) 0x89, 'P', 'N', 'G'}, {'G', 'I', 'F', '8'}, {(byte) 0xFF, (byte) 0xD8, (byte) 0xFF}};
        for (byte[] signature : signatures) {
            if (head.length >= signature.length && Arrays.equals(head, 0, signature.length, signature, 0, signature.length)) {
                return true;
            }
        }
        return false;
    }
}
