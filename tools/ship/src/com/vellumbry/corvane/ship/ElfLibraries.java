// The shared libraries a tree's programs need: the Debian packages that provide them
// (as dpkg-shlibdeps writes them, with versions) and the libraries its runtime carries
// built in, which lintian calls embedded.
package com.vellumbry.corvane.ship;

import java.io.IOException;
import java.io.InputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.TreeSet;
import java.util.stream.Stream;

final class ElfLibraries {
    /** Libraries the JDK may build into its own: lintian's name, the system's soname, the runtime files that carry it. */
    private record Embeddable(String name, String soname, List<String> files) {
    }

    private static final List<Embeddable> EMBEDDABLE = List.of(
            new Embeddable("zlib", "libz.so.1", List.of("libzip.so", "libjli.so", "libsplashscreen.so")),
            new Embeddable("libjpeg", "libjpeg.so.62", List.of("libjavajpeg.so", "libsplashscreen.so")),
            new Embeddable("lcms2", "liblcms2.so.2", List.of("liblcms.so")),
            new Embeddable("freetype", "libfreetype.so.6", List.of("libfreetype.so")));

    private ElfLibraries() {
    }

    /** The ELF files below {@code tree}. */
    static List<Path> elfFiles(Path tree) {
        try (Stream<Path> files = Files.walk(tree)) {
            return files.filter(Files::isRegularFile).filter(ElfLibraries::isElf).sorted().toList();
        } catch (IOException e) {
            throw Console.fail("cannot read the tree " + tree + ": " + e.getMessage());
        }
    }

    /** The CPU the tree at {@code tree} is for: its launcher's. */
    static String cpuOf(Path tree) {
        String cpu = machine(tree.resolve("corvane"));
        return cpu.isEmpty() ? Jdk.HOST_ARCH : cpu;
    }

    /**
     * The ELF files below {@code tree} for the tree's CPU: what the package needs. A program for
     * another CPU there (the tools' launcher for arm64 trees) is data to it.
     */
    private static List<Path> programsOf(Path tree) {
        String cpu = cpuOf(tree);
        return elfFiles(tree).stream().filter(file -> machine(file).equals(cpu)).toList();
    }

    /**
     * The CPU an ELF program is for, in the JDK release files' words (OS_ARCH), from its header's
     * e_machine; "" for no 64-bit little-endian ELF file.
     */
    static String machine(Path file) {
        try (InputStream in = Files.newInputStream(file)) {
            byte[] header = in.readNBytes(20);
            if (header.length < 20 || !isElf(header) || header[4] != 2 || header[5] != 1) {
                return "";
            }
            int machine = (header[18] & 0xff) | (header[19] & 0xff) << 8;
            return switch (machine) {
                case 62 -> "x86_64";
                case 183 -> "aarch64";
                default -> "elf-machine-" + machine;
            };
        } catch (IOException e) {
            return "";
        }
    }

    private static boolean isElf(byte[] magic) {
        return magic.length >= 4 && magic[0] == 0x7f && magic[1] == 'E' && magic[2] == 'L' && magic[3] == 'F';
    }

    private static boolean isElf(Path file) {
        try (InputStream in = Files.newInputStream(file)) {
            return isElf(in.readNBytes(4));
        } catch (IOException e) {
            return false;
        }
    }

    /**
     * Depends for the tree at {@code tree}: dpkg-shlibdeps over its ELF files (the tree's own
     * library folders searched first), and what a desktop runtime loads with dlopen.
     */
    static List<String> depends(Path tree, Path scratch) {
        if (!cpuOf(tree).equals(Jdk.HOST_ARCH)) {
            return foreignDepends(tree, scratch);
        }
        Path work = scratch.resolve("shlibdeps");
        TreeSet<String> libraryDirs = new TreeSet<>();
        List<Path> elves = programsOf(tree);
        try {
            Files.createDirectories(work.resolve("debian"));
            Files.writeString(work.resolve("debian/control"), "Source: tree\n\nPackage: tree\nArchitecture: amd64\n");
        } catch (IOException e) {
            throw Console.fail("cannot write in " + work + ": " + e.getMessage());
        }
        List<String> argv = new ArrayList<>(List.of("dpkg-shlibdeps", "-O"));
        elves.stream().filter(f -> f.getFileName().toString().contains(".so")).forEach(f -> libraryDirs.add(f.getParent().toString()));
        libraryDirs.forEach(dir -> argv.add("-l" + dir));
        elves.forEach(f -> argv.add(f.toString()));
        Path out = scratch.resolve("shlibdeps.out");
        int status = Exec.run(new Exec.Command(argv, java.util.Map.of(), java.util.Set.of(), 0, work), out);
        String text = Exec.read(out);
        String line = text.lines().filter(l -> l.startsWith("shlibs:Depends=")).findFirst().orElse(null);
        if (status != 0 || line == null) {
            throw Console.fail("dpkg-shlibdeps cannot work out the dependencies: "
                    + ClassDataArchives.firstMatching(text.lines().toList(), ".*(error|cannot|couldn't).*"));
        }
        List<String> depends = new ArrayList<>(List.of(line.substring("shlibs:Depends=".length()).split(", ")));
        if (Files.exists(tree.resolve("jre/lib/libfontmanager.so"))) {
            // Java 2D opens fontconfig with dlopen and needs at least one font to draw text.
            depends.add("libfontconfig1");
            depends.add("fonts-dejavu-core | fonts-freefont-ttf");
        }
        return depends.stream().filter(d -> !d.isBlank()).toList();
    }

    /**
     * Depends of a tree for another CPU, whose libraries this machine lacks for dpkg-shlibdeps:
     * each library it needs and does not carry, by the package that holds the library of the same
     * name here (Debian names a library's package alike on every CPU); libc6 at least the newest
     * GLIBC version the programs use.
     */
    private static List<String> foreignDepends(Path tree, Path scratch) {
        TreeSet<String> packages = new TreeSet<>();
        String glibc = "";
        for (String require : rpmRequires(tree, scratch)) {
            if (require.startsWith("libc.so.6(GLIBC_")) {
                String version = require.replaceAll("libc\\.so\\.6\\(GLIBC_([0-9.]+)\\).*", "$1");
                glibc = compareVersions(version, glibc) > 0 ? version : glibc;
            } else if (require.endsWith("()(64bit)")) {
                String library = require.substring(0, require.indexOf('('));
                if (library.startsWith("ld-linux-")) {
                    // The CPU's own dynamic loader: glibc's, named after the CPU.
                    packages.add("libc6");
                    continue;
                }
                String found = Exec.output(List.of("dpkg-query", "--search", "*/" + Jdk.HOST_ARCH + "-linux-gnu/" + library),
                        scratch, "cannot tell which package holds " + library + " for the " + cpuOf(tree)
                                + " programs: install its " + Jdk.debianArch(Jdk.HOST_ARCH) + " package here");
                packages.add(found.lines().findFirst().orElse("").replaceAll(":.*", ""));
            }
        }
        List<String> depends = new ArrayList<>();
        for (String name : packages) {
            depends.add(name.equals("libc6") && !glibc.isEmpty() ? "libc6 (>= " + glibc + ")" : name);
        }
        if (Files.exists(tree.resolve("jre/lib/libfontmanager.so"))) {
            // As for this machine's trees: fontconfig (named among the requires above) and a font.
            depends.add("fonts-dejavu-core | fonts-freefont-ttf");
        }
        return depends;
    }

    /** Dotted version numbers compared number by number. */
    private static int compareVersions(String a, String b) {
        String[] x = a.isEmpty() ? new String[0] : a.split("\\.");
        String[] y = b.isEmpty() ? new String[0] : b.split("\\.");
        for (int i = 0; i < Math.max(x.length, y.length); i++) {
            int d = Integer.compare(i < x.length ? Integer.parseInt(x[i]) : 0, i < y.length ? Integer.parseInt(y[i]) : 0);
            if (d != 0) {
                return d;
            }
        }
        return 0;
    }

    /**
     * Requires for the tree at {@code tree}, in rpm's names: each library its ELF files need
     * that the tree does not carry itself, with the symbol versions they use
     * ("libc.so.6()(64bit)", "libc.so.6(GLIBC_2.34)(64bit)"), and what a desktop runtime
     * loads with dlopen.
     */
    static List<String> rpmRequires(Path tree, Path scratch) {
        List<Path> elves = programsOf(tree);
        TreeSet<String> carried = new TreeSet<>();
        TreeSet<String> requires = new TreeSet<>();
        elves.forEach(f -> carried.add(f.getFileName().toString()));
        List<String> argv = new ArrayList<>(List.of("readelf", "--wide", "--dynamic", "--version-info"));
        elves.forEach(f -> argv.add(f.toString()));
        String needs = "";
        for (String line : Exec.output(argv, scratch, "readelf cannot read the tree's programs").lines().toList()) {
            String library = line.replaceAll(".*\\[(.*)\\].*", "$1");
            if (line.contains("(SONAME)")) {
                carried.add(library);
            } else if (line.contains("(NEEDED)")) {
                requires.add(library + "()(64bit)");
            } else if (line.matches("\\s*[0-9a-fx]+: Version: .* File: .*")) {
                needs = line.replaceAll(".* File: (\\S+).*", "$1");
            } else if (line.matches("\\s*0x[0-9a-f]+: +Name: .*") && !line.contains("WEAK")) {
                requires.add(needs + "(" + line.replaceAll(".*Name: (\\S+).*", "$1") + ")(64bit)");
            }
        }
        requires.removeIf(r -> carried.contains(r.substring(0, r.indexOf('('))));
        List<String> result = new ArrayList<>(requires);
        if (Files.exists(tree.resolve("jre/lib/libfontmanager.so"))) {
            // Java 2D opens fontconfig with dlopen and needs at least one font to draw text:
            // rpm's font dependency generator gives every font with Latin letters font(:lang=en).
            result.add("libfontconfig.so.1()(64bit)");
            result.add("font(:lang=en)");
        }
        return result;
    }

    /** The libraries the runtime carries built in, as "name [path below /]" for lintian's overrides. */
    static List<String> embedded(Path tree, String installedAt, Path scratch) {
        List<String> found = new ArrayList<>();
        for (Embeddable library : EMBEDDABLE) {
            for (String file : library.files()) {
                Path path = tree.resolve("jre/lib").resolve(file);
                if (Files.isRegularFile(path) && !needed(path, scratch).contains(library.soname())) {
                    found.add(library.name() + " [" + installedAt + "/jre/lib/" + file + "]");
                }
            }
        }
        return found;
    }

    /** The NEEDED entries of an ELF file. */
    static List<String> needed(Path file, Path scratch) {
        String text = Exec.output(List.of("readelf", "-d", file.toString()), scratch, "readelf cannot read " + file);
        return text.lines().filter(l -> l.contains("(NEEDED)"))
                .map(l -> l.replaceAll(".*\\[(.*)\\].*", "$1")).toList();
    }
}
