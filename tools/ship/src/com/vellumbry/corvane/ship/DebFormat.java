// The Debian package: lintian's overrides and the apt source of its own beside the shared
// files, DEBIAN/ (control from its template, md5sums, conffiles, maintainer scripts), built
// by dpkg-deb and read back with dpkg-deb --field and --contents.
package com.vellumbry.corvane.ship;

import java.io.ByteArrayOutputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

final class DebFormat implements PackageFormat {
    /** A line of dpkg-deb --contents (tar's listing): type and mode, owner, size, date, time, name. */
    private static final Pattern LISTED = Pattern.compile("(\\S)\\S* +\\S+ +\\d+ +\\S+ +\\S+ \\./(.*)");
    private static final Pattern FIELD = Pattern.compile("(?m)^(Package|Version|Architecture): *(\\S+) *$");

    @Override
    public void checkTools() {
        for (String tool : List.of("dpkg-deb", "dpkg-shlibdeps")) {
            if (!Exec.onPath(tool)) {
                throw Console.fail(tool + " is not installed (packages: dpkg, dpkg-dev, binutils, tar)");
            }
        }
    }

    @Override
    public String folder() {
        return "deb";
    }

    @Override
    public List<String> scripts() {
        return List.of("postinst", "prerm", "postrm");
    }

    @Override
    public String fileName(Package p) {
        return fileName(p.name(), p.version(), Jdk.debianArch(p.arch()));
    }

    /** name_version_arch.deb, the version without its epoch, as Debian names its files. */
    static String fileName(String name, String version, String arch) {
        return name + "_" + Package.withoutEpoch(version) + "_" + arch + ".deb";
    }

    @Override
    public void stage(Package p, Path root, Path scratch) {
        String opt = "opt/" + p.name();
        PackageRoot.add(root, "usr/share/lintian/overrides/" + p.name(),
                DebianFiles.lintianOverrides(p, ElfLibraries.embedded(root.resolve(opt), opt, scratch)));
        if (p.repository() != null) {
            PackageRoot.add(root, UpdateSource.sourcesPath(p.name()).substring(1), p.repository().aptSources(p.name()));
            PackageRoot.add(root, UpdateSource.keyringPath(p.name()).substring(1),
                    Signing.publicKeys(p.repository().keys(), false, scratch));
        }
    }

    @Override
    public List<String> dependencies(Path tree, Path scratch) {
        return ElfLibraries.depends(tree, scratch);
    }

    @Override
    public Path build(Package p, Path root, List<String> dependencies, Map<String, String> scripts, Path stage, Path scratch) {
        PackageRoot.add(root, "DEBIAN/control", control(p, dependencies, PackageRoot.installedKiB(root)));
        PackageRoot.add(root, "DEBIAN/md5sums", PackageRoot.md5sums(root));
        if (p.repository() != null) {
            PackageRoot.add(root, "DEBIAN/conffiles", UpdateSource.sourcesPath(p.name()) + "\n");
        }
        scripts.forEach((name, text) -> {
            PackageRoot.add(root, "DEBIAN/" + name, text);
            PackageRoot.executable(root.resolve("DEBIAN").resolve(name));
        });
        Path deb = stage.resolve(fileName(p));
        Exec.output(List.of("dpkg-deb", "--root-owner-group", "-Zgzip", "--build", root.toString(), deb.toString()),
                scratch, "dpkg-deb failed");
        return deb;
    }

    static String control(Package p, List<String> depends, long installedKiB) {
        StringBuilder description = new StringBuilder();
        for (List<String> paragraph : p.description()) {
            description.append(description.length() > 0 ? "\n ." : "");
            // " ." starts a control statement: a line that begins with '.' is shown verbatim instead.
            paragraph.forEach(line -> description.append(line.startsWith(".") ? "\n  " : "\n ").append(line));
        }
        return Templates.fill(Templates.read("deb/control"), Map.of("NAME", p.name(), "VERSION", p.version(),
                "ARCH", Jdk.debianArch(p.arch()), "MAINTAINER", p.maintainer(), "INSTALLED_SIZE", Long.toString(installedKiB),
                "DEPENDS", field("Depends", depends), "RECOMMENDS", field("Recommends", p.recommends(new DebFormat())),
                "HOMEPAGE", p.homepage().isEmpty() ? "" : "Homepage: " + p.homepage() + "\n",
                "SUMMARY", p.summary(), "DESCRIPTION", description.toString()));
    }

    private static String field(String name, List<String> values) {
        return values.isEmpty() ? "" : name + ": " + String.join(", ", values) + "\n";
    }

    /** Every staged path but DEBIAN/'s: dpkg-deb lists each folder too. */
    @Override
    public Contents wanted(Package p, List<String> staged) {
        return new Contents(p.name(), p.version(), Jdk.debianArch(p.arch()), staged.stream().filter(s -> !s.startsWith("DEBIAN/"))
                .map(PackageFormat::installed).sorted().toList());
    }

    @Override
    public Contents readBack(Path file, Path scratch) {
        String control = Exec.output(List.of("dpkg-deb", "--field", file.toString(), "Package", "Version", "Architecture"),
                scratch, "dpkg-deb cannot read back " + file.getFileName());
        Map<String, String> fields = new java.util.HashMap<>(Map.of("Package", "", "Version", "", "Architecture", ""));
        for (Matcher m = FIELD.matcher(control); m.find(); ) {
            fields.put(m.group(1), m.group(2));
        }
        String listing = Exec.output(List.of("dpkg-deb", "--contents", file.toString()), scratch,
                "dpkg-deb cannot list " + file.getFileName());
        return new Contents(fields.get("Package"), fields.get("Version"), fields.get("Architecture"), listed(listing));
    }

    /** The installed paths of dpkg-deb --contents' lines (tar's escapes undone, link targets left out), sorted. */
    static List<String> listed(String listing) {
        List<String> files = new ArrayList<>();
        for (String line : listing.lines().toList()) {
            Matcher m = LISTED.matcher(line);
            if (m.matches() && !m.group(2).isEmpty()) {
                String name = m.group(2);
                name = m.group(1).equals("l") ? name.substring(0, name.indexOf(" -> "))
                        : m.group(1).equals("h") ? name.substring(0, name.indexOf(" link to ")) : name;
                files.add(PackageFormat.installed(unescape(name)));
            }
        }
        return files.stream().sorted().toList();
    }

    /** A name as tar prints it: C escapes, and octal ones for bytes the locale cannot show. */
    private static String unescape(String name) {
        ByteArrayOutputStream bytes = new ByteArrayOutputStream();
        for (int i = 0; i < name.length(); i++) {
            int c = name.codePointAt(i);
            if (c != '\\' || i + 1 == name.length()) {
                bytes.writeBytes(Character.toString(c).getBytes(StandardCharsets.UTF_8));
                i += Character.charCount(c) - 1;
            } else if (name.substring(i + 1).matches("[0-7]{3}.*")) {
                bytes.write(Integer.parseInt(name.substring(i + 1, i + 4), 8));
                i += 3;
            } else {
                char next = name.charAt(++i);
                int at = "abfnrtv".indexOf(next);
                bytes.write(at < 0 ? next : "\u0007\b\f\n\r\t\u000b".charAt(at));
            }
        }
        return bytes.toString(StandardCharsets.UTF_8);
    }
}
