// tools/package's command line: checked, completed from the tree's record, and turned
// into the package's facts.
package com.vellumbry.corvane.ship;

import com.vellumbry.corvane.api.TreeRecordFile;
import java.nio.file.Files;
import java.nio.file.Path;
import java.time.Instant;
import java.time.ZoneOffset;
import java.time.ZonedDateTime;
import java.time.format.DateTimeFormatter;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.Set;

/**
 * @param notes   what the run says about the tree once every check has passed (a failure is its only line)
 * @param formats the packages to make, in their order
 */
record PackageOptions(Path tree, TreeRecord record, Package facts, Path icon, Path outDir, List<String> notes,
                      List<PackageFormat> formats) {
    private static final Set<String> WITH_VALUE = Set.of("--tree", "--name", "--version", "--display-name",
            "--summary", "--description", "--icon", "--categories", "--maintainer", "--developer", "--copyright",
            "--homepage", "--license", "--app-id", "--wm-class", "--menu-entry", "--file-type", "--url-scheme", "--out-dir",
            "--repository-url", "--repository-key", "--flatpak-runtime", "--flatpak-filesystem", "--flatpak-permission");
    private static final List<String> FLATPAK_OPTIONS = List.of("--flatpak-runtime", "--flatpak-filesystem",
            "--flatpak-permission");
    /** The Freedesktop runtime's current branch. */
    static final String FLATPAK_RUNTIME = "org.freedesktop.Platform//24.08";
    /** The sandbox's permissions: the X11 display and its shared memory. */
    private static final List<String> FLATPAK_PERMISSIONS = List.of("--socket=x11", "--share=ipc");
    /** The home folder: a JFileChooser shows the files themselves, it does not ask the file chooser portal. */
    private static final String FLATPAK_FILESYSTEM = "home";
    /** What every format's staging runs; each format checks its own tools besides. */
    private static final List<String> TOOLS = List.of("readelf", "strip", "tar");

    /** The options, or null when help was asked for (and printed). */
    static PackageOptions parse(String[] args, Console console) {
        CommandLine line = CommandLine.parse(args, WITH_VALUE, Set.of("--quiet", "--no-flatpak"), false);
        if (line.help()) {
            System.out.print(Usage.text("package", Usage.installed(console)));
            return null;
        }
        console.quiet(line.has("--quiet"));
        for (String tool : TOOLS) {
            if (!Exec.onPath(tool)) {
                throw Console.fail(tool + " is not installed (packages: dpkg, dpkg-dev, binutils, tar)");
            }
        }
        PackageFormat.ALL.forEach(PackageFormat::checkTools);
        List<String> notes = new java.util.ArrayList<>();
        List<PackageFormat> formats = new java.util.ArrayList<>(PackageFormat.ALL);
        FlatpakFormat flatpak = flatpak(line, console, notes);
        if (flatpak != null) {
            formats.add(flatpak);
        }
        String treeName = line.value("--tree", "");
        if (treeName.isEmpty()) {
            throw Console.fail("no tree given (--tree <dir>; see --help)");
        }
        Path tree = Path.of(treeName).toAbsolutePath().normalize();
        if (!Files.isExecutable(tree.resolve("corvane")) || !Files.isRegularFile(tree.resolve("lib/manifest-bootstrap.txt"))
                || !Files.isRegularFile(tree.resolve("jre/lib/server/libjvm.so"))) {
            throw Console.fail("not an install tree (corvane, lib/manifest-bootstrap.txt, jre/lib/server/libjvm.so): " + treeName);
        }
        try {
            // The folder itself, not a link to it: its contents are copied.
            tree = tree.toRealPath();
        } catch (java.io.IOException e) {
            throw Console.fail("cannot read the tree " + treeName + ": " + e.getMessage());
        }
        TreeRecord record = TreeRecord.read(tree);
        if (!record.trained()) {
            notes.add("note: the tree is not trained; assemble it with --train for a first window well before java's");
        }
        Path options = tree.resolve("lib").resolve(AssembleTree.OPTIONS_FILE);
        List<String> optionLines = Files.isRegularFile(options) ? Exec.read(options).lines().toList() : List.of();
        notes.add(record.heap().equals("java") ? AssembleTree.heapNote(optionLines)
                : "heap: the launcher's fixed -Xmx160m unless lib/" + AssembleTree.OPTIONS_FILE + " names one"
                        + " (the tree predates heap=java; assemble it again for java's default)");
        Path outDir = Path.of(line.value("--out-dir", ".")).toAbsolutePath().normalize();
        // Made only once every check has passed (PackageTree); here its nearest existing folder must take it.
        Path existing = outDir;
        while (existing.getParent() != null && !Files.exists(existing)) {
            existing = existing.getParent();
        }
        if (!Files.isDirectory(existing) || !Files.isWritable(existing)) {
            throw Console.fail("output folder not writable: " + outDir);
        }
        String icon = line.value("--icon", Templates.toolsDir().resolve("lib/default-icon.svg").toString());
        Package facts = facts(line, record, tree);
        if (facts.repository() != null && !Exec.onPath("gpg")) {
            throw Console.fail("gpg is not installed (package gnupg): it makes the keyring of --repository-key");
        }
        return new PackageOptions(tree, record, facts, Path.of(icon), outDir, notes, List.copyOf(formats));
    }

    /**
     * The Flatpak, or null: with --no-flatpak, or without flatpak here (a note then; with a Flatpak
     * option, a failure). Its permissions: the defaults, the file access of --flatpak-filesystem
     * (else the home folder; "none" for none) and each --flatpak-permission.
     */
    private static FlatpakFormat flatpak(CommandLine line, Console console, List<String> notes) {
        List<String> given = FLATPAK_OPTIONS.stream().filter(line::has).toList();
        if (line.has("--no-flatpak")) {
            if (!given.isEmpty()) {
                throw Console.fail("--no-flatpak and " + given.get(0) + " contradict each other");
            }
            return null;
        }
        String missing = FlatpakFormat.missingTools();
        if (missing != null) {
            if (!given.isEmpty()) {
                throw Console.fail(given.get(0) + " asks for a Flatpak, but " + missing);
            }
            notes.add("note: no Flatpak made: " + missing);
            return null;
        }
        String runtime = line.value("--flatpak-runtime", FLATPAK_RUNTIME);
        if (!runtime.matches("[A-Za-z_][A-Za-z0-9_-]*(\\.[A-Za-z_][A-Za-z0-9_-]*)+//[A-Za-z0-9_.-]+")) {
            throw Console.fail("--flatpak-runtime '" + runtime + "' is not <id>//<branch>, e.g. " + FLATPAK_RUNTIME);
        }
        List<String> permissions = new java.util.ArrayList<>(FLATPAK_PERMISSIONS);
        for (String filesystem : line.all("--flatpak-filesystem").isEmpty() ? List.of(FLATPAK_FILESYSTEM)
                : line.all("--flatpak-filesystem")) {
            if (!filesystem.matches("[^\\s]+")) {
                throw Console.fail("--flatpak-filesystem '" + filesystem + "' is no file access flatpak knows (see --help)");
            }
            if (!filesystem.equals("none")) {
                permissions.add("--filesystem=" + filesystem);
            }
        }
        for (String permission : line.all("--flatpak-permission")) {
            if (!permission.matches("--[a-z-]+(=[^\\s]+)?")) {
                throw Console.fail("--flatpak-permission '" + permission + "' is no option of flatpak build-finish,"
                        + " e.g. --device=dri");
            }
            permissions.add(permission);
        }
        return new FlatpakFormat(runtime, List.copyOf(permissions), console);
    }

    private static Package facts(CommandLine line, TreeRecord record, Path tree) {
        for (String option : List.of("--categories", "--developer", "--homepage", "--license", "--wm-class")) {
            // Each becomes part of one line of the control file, the menu entry or the metainfo.
            if (line.value(option, "").contains("\n") || line.value(option, "").contains("\r")) {
                throw Console.fail(option + " must be one line of text");
            }
        }
        String name = line.value("--name", record.name());
        if (!TreeRecordFile.isApplicationName(name)) {
            throw Console.fail("name '" + name + "' is no Debian package name (lower case letters, digits, + - .; give --name)");
        }
        String version = line.value("--version", record.launcherVersion());
        if (!version.matches("([0-9]+:)?[0-9][A-Za-z0-9.+~-]*") || version.endsWith("-")) {
            throw Console.fail("version '" + version + "' is no Debian version (an optional epoch 'N:', then digits first,"
                    + " no '-' at the end; give --version)");
        }
        String displayName = oneLine(line.value("--display-name", name), "display name");
        String summary = oneLine(line.value("--summary", "Java desktop application " + displayName), "summary");
        if (summary.length() > 80) {
            throw Console.fail("the summary must be one line of at most 80 characters");
        }
        summary = summary.replaceAll("\\.$", "");
        String description = line.value("--description",
                displayName + " is a Java desktop application, packaged with its own Java runtime.");
        List<String> paragraphs = List.of(description.strip().split("\\n\\s*\\n")).stream()
                .map(p -> p.strip().replaceAll("\\s*\\n\\s*", " ")).filter(p -> !p.isEmpty()).toList();
        String categories = line.value("--categories", "Utility;");
        categories = categories.endsWith(";") ? categories : categories + ";";
        String maintainer = maintainer(line, null);
        String homepage = line.value("--homepage", "");
        String appId = line.value("--app-id", DesktopFiles.appId(homepage, name));
        if (appId.isEmpty()) {
            throw Console.fail("no AppStream id: give --app-id (reverse-DNS, e.g. org.example." + name + ") or --homepage");
        }
        if (!DesktopFiles.isAppId(appId)) {
            throw Console.fail("app id '" + appId + "' is not in reverse-DNS form");
        }
        long epoch = sourceDateEpoch();
        ZonedDateTime when = Instant.ofEpochSecond(epoch).atZone(ZoneOffset.UTC);
        return new Package(name, version, displayName, summary, paragraphs, categories, maintainer,
                line.value("--developer", "the authors of " + displayName), line.value("--copyright", ""), homepage,
                line.value("--license", "LicenseRef-proprietary"), appId, line.value("--wm-class", record.windowClass()),
                when.toLocalDate(), DateTimeFormatter.ofPattern("EEE, dd MMM yyyy HH:mm:ss Z", Locale.ROOT).format(when),
                record.commands(), menus(line.all("--menu-entry"), record, name),
                line.all("--file-type").stream().map(FileTypes::parse).toList(),
                line.all("--url-scheme").stream().map(FileTypes::scheme).distinct().toList(),
                UpdateSource.parse(line.value("--repository-url", ""), line.all("--repository-key")),
                ElfLibraries.cpuOf(tree), Map.of());
    }

    /** --menu-entry <command>[=<name in menus>]: a further command of the tree that gets a menu entry. */
    private static Map<String, String> menus(List<String> given, TreeRecord record, String packageName) {
        for (TreeRecord.Command command : record.commands()) {
            if (command.name().equals(packageName)) {
                throw Console.fail("the tree's command " + command.name() + " has the package's name: give another --name");
            }
        }
        Map<String, String> menus = new java.util.LinkedHashMap<>();
        for (String entry : given) {
            int equals = entry.indexOf('=');
            String command = equals < 0 ? entry : entry.substring(0, equals);
            String title = oneLine(equals < 0 ? command : entry.substring(equals + 1), "menu entry's name");
            if (record.commands().stream().noneMatch(c -> c.name().equals(command))) {
                throw Console.fail("--menu-entry " + command + ": the tree has no such command (assemble-tree --command)");
            }
            menus.put(command, title);
        }
        return menus;
    }

    private static String oneLine(String text, String what) {
        if (text.contains("\n") || text.isBlank()) {
            throw Console.fail("the " + what + " must be one line of text");
        }
        return text.strip();
    }

    /**
     * --maintainer, else DEBFULLNAME and DEBEMAIL, else {@code fallback} (none: a failure); checked to be
     * "Name <email>" as both package formats want it.
     */
    static String maintainer(CommandLine line, String fallback) {
        String name = System.getenv().getOrDefault("DEBFULLNAME", "");
        String email = System.getenv().getOrDefault("DEBEMAIL", "");
        String maintainer = line.has("--maintainer") ? line.value("--maintainer", "")
                : !name.isEmpty() && !email.isEmpty() ? name + " <" + email + ">" : fallback;
        if (maintainer == null) {
            throw Console.fail("no maintainer: give --maintainer 'Name <email>' or set DEBFULLNAME and DEBEMAIL");
        }
        if (!maintainer.matches("[^<>\\n]+ <[^<>@ \\n]+@[^<>@ \\n]+>")) {
            throw Console.fail("maintainer '" + maintainer + "' is not 'Name <email>'");
        }
        return maintainer;
    }

    /** SOURCE_DATE_EPOCH for reproducible dates, else now. */
    static long sourceDateEpoch() {
        String value = System.getenv().getOrDefault("SOURCE_DATE_EPOCH", "");
        return value.matches("[0-9]{1,12}") ? Long.parseLong(value) : Instant.now().getEpochSecond();
    }
}
