// Copies the application's jars into lib/ so that the tree opens no jar outside itself: a
// copy's manifest loses its Class-Path, which the VM would follow to the build machine's
// files ahead of the rest of the tree's class path (a signed jar whose signature covers it
// keeps it, and goes last). Writes only below lib/.
package com.vellumbry.corvane.ship;

import java.io.ByteArrayInputStream;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.net.MalformedURLException;
import java.net.URL;
import java.net.URLDecoder;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.HashSet;
import java.util.List;
import java.util.Locale;
import java.util.Set;
import java.util.jar.Attributes;
import java.util.jar.JarEntry;
import java.util.jar.JarFile;
import java.util.jar.Manifest;
import java.util.zip.CRC32;
import java.util.zip.ZipEntry;
import java.util.zip.ZipFile;
import java.util.zip.ZipOutputStream;

final class JarCopies {
    private static final String MANIFEST = "META-INF/MANIFEST.MF";

    private JarCopies() {
    }

    /**
     * Copies {@code jars} (in class-path order) into {@code lib}; returns their names in the
     * order of the bootstrap manifest.
     */
    static List<String> install(List<Path> jars, Path lib, Console console) {
        List<String> order = new ArrayList<>();
        List<String> last = new ArrayList<>();
        for (Path jar : jars) {
            String name = jar.getFileName().toString();
            Path copy = lib.resolve(name);
            List<String> kept = copy(jar, copy);
            if (kept.isEmpty()) {
                order.add(name);
                continue;
            }
            // The VM opens a jar's Class-Path entries right after the jar, ahead of the rest of
            // the class path. Last, this jar lets every jar of the tree be found before them:
            // only lookups that the tree misses, or that collect every match (service lookups),
            // still reach them.
            last.add(name);
            console.line("NOTE: " + name + " is signed and its manifest Class-Path cannot change without breaking"
                    + " the signature: it names " + String.join(" ", kept) + " outside lib/, so it goes last"
                    + " in the class path");
        }
        order.addAll(last);
        return order;
    }

    /**
     * Copies one jar: byte for byte without a Class-Path; else without it, unless that breaks
     * its signature. Returns the Class-Path entries of the copy that leave lib/ (none for most).
     */
    private static List<String> copy(Path jar, Path copy) {
        byte[] manifest;
        boolean signed;
        try (ZipFile zip = new ZipFile(jar.toFile())) {
            ZipEntry entry = manifestEntry(zip);
            manifest = entry == null ? null : read(zip, entry);
            signed = isSigned(zip);
        } catch (IOException e) {
            throw Console.fail("cannot read the jar " + jar + ": " + e.getMessage());
        }
        byte[] stripped = manifest == null ? null : withoutClassPath(manifest);
        try {
            if (stripped == manifest) {
                Files.copy(jar, copy);
                return List.of();
            }
            rewrite(jar, copy, stripped);
            if (!signed || sameSigners(jar, copy)) {
                return List.of();
            }
            Files.copy(jar, copy, StandardCopyOption.REPLACE_EXISTING);
        } catch (IOException e) {
            throw Console.fail("cannot copy " + jar + ": " + e.getMessage());
        }
        return leavingLib(classPath(manifest), copy);
    }

    /** The manifest as java finds it: the entry of that name in any case. */
    private static ZipEntry manifestEntry(ZipFile zip) {
        ZipEntry exact = zip.getEntry(MANIFEST);
        if (exact != null) {
            return exact;
        }
        return Collections.list(zip.entries()).stream().filter(e -> e.getName().equalsIgnoreCase(MANIFEST))
                .findFirst().orElse(null);
    }

    /** A signature file (META-INF/*.SF) with a signature block beside it, as java's verifier wants. */
    private static boolean isSigned(ZipFile zip) {
        boolean file = false;
        boolean block = false;
        for (ZipEntry entry : Collections.list(zip.entries())) {
            String name = entry.getName().toUpperCase(Locale.ROOT);
            if (!name.startsWith("META-INF/") || name.indexOf('/', "META-INF/".length()) >= 0) {
                continue;
            }
            file |= name.endsWith(".SF");
            block |= name.endsWith(".RSA") || name.endsWith(".DSA") || name.endsWith(".EC");
        }
        return file && block;
    }

    /**
     * The jar again with {@code manifest} in place of its manifest: every other entry with its
     * order, method, times, extra fields and comment, and the archive's comment. The manifest
     * comes first (after a leading META-INF/ folder entry), where JarInputStream looks for it.
     * A name the jar holds twice is written once, with the data java reads for it.
     */
    private static void rewrite(Path jar, Path copy, byte[] manifest) throws IOException {
        try (ZipFile zip = new ZipFile(jar.toFile());
             OutputStream file = Files.newOutputStream(copy);
             ZipOutputStream out = new ZipOutputStream(file)) {
            List<ZipEntry> entries = new ArrayList<>(Collections.list(zip.entries()));
            String name = manifestEntry(zip).getName();
            ZipEntry old = entries.stream().filter(e -> e.getName().equals(name)).findFirst().orElseThrow();
            entries.remove(old);
            entries.add(!entries.isEmpty() && entries.get(0).getName().equals("META-INF/") ? 1 : 0, old);
            if (zip.getComment() != null) {
                out.setComment(zip.getComment());
            }
            Set<String> written = new HashSet<>();
            for (ZipEntry entry : entries) {
                if (!written.add(entry.getName())) {
                    continue;
                }
                ZipEntry source = entry == old ? old : zip.getEntry(entry.getName());
                ZipEntry next = new ZipEntry(source);
                if (entry != old) {
                    out.putNextEntry(next);
                    try (InputStream in = zip.getInputStream(source)) {
                        in.transferTo(out);
                    }
                    continue;
                }
                CRC32 crc = new CRC32();
                crc.update(manifest);
                next.setSize(manifest.length);
                next.setCrc(crc.getValue());
                next.setCompressedSize(next.getMethod() == ZipEntry.STORED ? manifest.length : -1);
                out.putNextEntry(next);
                out.write(manifest);
            }
        }
    }

    /** The copy verifies as the original does: every entry read, with the same signers. */
    private static boolean sameSigners(Path jar, Path copy) {
        try (JarFile original = new JarFile(jar.toFile(), true); JarFile copied = new JarFile(copy.toFile(), true)) {
            for (JarEntry entry : Collections.list(original.entries())) {
                JarEntry other = copied.getJarEntry(entry.getName());
                if (other == null) {
                    return false;
                }
                readAll(original, entry);
                readAll(copied, other);
                if (!Arrays.equals(entry.getCodeSigners(), other.getCodeSigners())) {
                    return false;
                }
            }
            return true;
        } catch (IOException | SecurityException e) {
            return false;
        }
    }

    private static void readAll(JarFile jar, JarEntry entry) throws IOException {
        try (InputStream in = jar.getInputStream(entry)) {
            in.transferTo(OutputStream.nullOutputStream());
        }
    }

    private static byte[] read(ZipFile zip, ZipEntry entry) throws IOException {
        try (InputStream in = zip.getInputStream(entry)) {
            return in.readAllBytes();
        }
    }

    /**
     * The manifest without the Class-Path header (and its continuation lines) of its main
     * section; every other byte stays. The same array when there is none.
     */
    static byte[] withoutClassPath(byte[] manifest) {
        ByteArrayOutputStream out = new ByteArrayOutputStream(manifest.length);
        boolean removed = false;
        boolean skipping = false;
        int start = 0;
        while (start < manifest.length) {
            int end = start;
            while (end < manifest.length && manifest[end] != '\n' && manifest[end] != '\r') {
                end++;
            }
            int next = end;
            if (next < manifest.length && manifest[next] == '\r') {
                next++;
            }
            if (next < manifest.length && manifest[next] == '\n') {
                next++;
            }
            if (end == start) {
                // The main section ends at the first blank line.
                out.write(manifest, start, manifest.length - start);
                break;
            }
            boolean continuation = manifest[start] == ' ';
            if (!continuation) {
                skipping = startsWithIgnoreCase(manifest, start, end, "class-path:");
                removed |= skipping;
            }
            if (!skipping) {
                out.write(manifest, start, next - start);
            }
            start = next;
        }
        return removed ? out.toByteArray() : manifest;
    }

    private static boolean startsWithIgnoreCase(byte[] bytes, int start, int end, String prefix) {
        if (end - start < prefix.length()) {
            return false;
        }
        String head = new String(bytes, start, prefix.length(), StandardCharsets.ISO_8859_1);
        return head.equalsIgnoreCase(prefix);
    }

    /** The main section's Class-Path entries, as java's Manifest reads them. */
    private static List<String> classPath(byte[] manifest) {
        try {
            String value = new Manifest(new ByteArrayInputStream(manifest)).getMainAttributes()
                    .getValue(Attributes.Name.CLASS_PATH);
            return value == null || value.isBlank() ? List.of() : List.of(value.trim().split("\\s+"));
        } catch (IOException e) {
            return List.of();
        }
    }

    /**
     * The Class-Path entries that the VM, resolving them against {@code jar} in lib/, opens
     * outside lib/: absolute paths, local file URLs and relative paths that climb out of it.
     * An absolute URL of another scheme or host is harmless: the VM ignores it.
     */
    static List<String> leavingLib(List<String> entries, Path jar) {
        Path lib = jar.getParent();
        List<String> leaving = new ArrayList<>();
        for (String entry : entries) {
            URL url;
            Path target;
            try {
                url = new URL(jar.toUri().toURL(), entry);
                target = Path.of(URLDecoder.decode(url.getPath().replace("+", "%2B"), StandardCharsets.UTF_8));
            } catch (MalformedURLException | IllegalArgumentException e) {
                continue;
            }
            String host = url.getHost();
            if (entry.contains(":") && !"file".equalsIgnoreCase(url.getProtocol())
                    || host != null && !host.isEmpty() && !host.equalsIgnoreCase("localhost")) {
                // Another scheme, or another machine's file: the VM opens nothing here.
                continue;
            }
            if (!target.normalize().startsWith(lib)) {
                leaving.add(entry);
            }
        }
        return leaving;
    }
}
