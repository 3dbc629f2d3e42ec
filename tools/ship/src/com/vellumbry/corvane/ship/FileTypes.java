// The files and links a package's application opens: file types (MIME type, file name
// extensions, description, optional icon) and URL schemes, and the shared-mime-info
// definition of the types the system does not know. Pure writers, but for reading
// which types the system's own database defines.
package com.vellumbry.corvane.ship;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Set;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import java.util.stream.Collectors;

final class FileTypes {
    /** A file type the application opens; {@code icon} is "" when the type has none of its own. */
    record FileType(String mimeType, List<String> extensions, String description, String icon) {
    }

    /** The system's own MIME database: types it defines need no definition of ours. */
    static final Path SYSTEM_TYPES = Path.of("/usr/share/mime/packages/freedesktop.org.xml");
    private static final Pattern DEFINED = Pattern.compile("<mime-type type=\"([^\"]+)\"");
    private static final String MIME = "[a-z0-9][a-z0-9!#$&^_.+-]*/[a-z0-9][a-z0-9!#$&^_.+-]*";

    private FileTypes() {
    }

    /** --file-type "<MIME type>;<ext>[,<ext>...];<description>[;<icon>]". */
    static FileType parse(String given) {
        String[] parts = given.split(";", -1);
        if (parts.length < 3 || parts.length > 4 || !parts[0].matches(MIME) || parts[2].isBlank()
                || parts[2].contains("\n") || !parts[1].matches("[A-Za-z0-9_+-]+(,[A-Za-z0-9_+-]+)*")) {
            throw Console.fail("--file-type needs \"<MIME type>;<ext>[,<ext>...];<description>[;<icon>]\", e.g."
                    + " \"application/x-myapp;myapp;My App document\", not '" + given + "'");
        }
        return new FileType(parts[0], List.of(parts[1].split(",")), parts[2].strip(), parts.length == 4 ? parts[3] : "");
    }

    /** --url-scheme <scheme>: as RFC 3986 spells a scheme, in lower case. */
    static String scheme(String given) {
        if (!given.matches("[a-z][a-z0-9+.-]*") || List.of("file", "http", "https").contains(given)) {
            throw Console.fail("--url-scheme needs a scheme of its own in lower case (letters, digits, + - .), not '"
                    + given + "'");
        }
        return given;
    }

    /** The desktop entry's MimeType value: the types, then x-scheme-handler/<scheme> for each scheme; "" for none. */
    static String mimeTypeKey(List<FileType> types, List<String> schemes) {
        List<String> all = new ArrayList<>(types.stream().map(FileType::mimeType).toList());
        schemes.forEach(s -> all.add("x-scheme-handler/" + s));
        return all.isEmpty() ? "" : String.join(";", all) + ";";
    }

    /** What Exec passes: paths for files alone (%F), URLs as soon as links are opened too (%U). */
    static String execArguments(List<FileType> types, List<String> schemes) {
        return !schemes.isEmpty() ? " %U" : types.isEmpty() ? "" : " %F";
    }

    /** The shared-mime-info definition of the types not in {@code known}; "" when there is nothing to define. */
    static String definitions(List<FileType> types, Set<String> known) {
        List<FileType> ours = types.stream().filter(t -> !known.contains(t.mimeType())).toList();
        if (ours.isEmpty()) {
            return "";
        }
        StringBuilder out = new StringBuilder("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                + "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n");
        for (FileType type : ours) {
            out.append("  <mime-type type=\"").append(type.mimeType()).append("\">\n")
               .append("    <comment>").append(DesktopFiles.xml(type.description())).append("</comment>\n");
            type.extensions().forEach(e -> out.append("    <glob pattern=\"*.").append(e).append("\"/>\n"));
            out.append("  </mime-type>\n");
        }
        return out.append("</mime-info>\n").toString();
    }

    /** The types the system's MIME database defines (none when it cannot be read). */
    static Set<String> systemTypes() {
        Matcher m = DEFINED.matcher(Files.isReadable(SYSTEM_TYPES) ? Exec.read(SYSTEM_TYPES) : "");
        return m.results().map(r -> r.group(1)).collect(Collectors.toSet());
    }

    /** The theme's icon name of a MIME type: its slash as a dash. */
    static String iconName(String mimeType) {
        return mimeType.replace('/', '-');
    }
}
