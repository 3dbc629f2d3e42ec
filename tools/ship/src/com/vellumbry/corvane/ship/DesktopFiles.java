// The freedesktop files of a package: the menu entry, the AppStream metainfo and the
// AppStream id. Pure functions of the package's facts.
package com.vellumbry.corvane.ship;

import java.net.URI;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.Locale;

final class DesktopFiles {
    private DesktopFiles() {
    }

    /** The application's menu entry: it opens the package's file types and URL schemes, when there are any. */
    static String desktopEntry(Package p) {
        String mimeTypes = FileTypes.mimeTypeKey(p.fileTypes(), p.urlSchemes());
        return entry(p, p.displayName(), p.name() + FileTypes.execArguments(p.fileTypes(), p.urlSchemes()),
                p.windowClass()) + (mimeTypes.isEmpty() ? "" : "MimeType=" + mimeTypes + "\n");
    }

    /** The menu entry of a further command of the package. */
    static String commandEntry(Package p, TreeRecord.Command command) {
        return entry(p, p.menus().get(command.name()), command.name(), command.windowClass());
    }

    private static String entry(Package p, String title, String command, String windowClass) {
        return "[Desktop Entry]\n"
                + "Type=Application\n"
                + "Name=" + entryString(title) + "\n"
                + "Comment=" + entryString(p.summary()) + "\n"
                + "Exec=" + command + "\n"
                + "Icon=" + p.name() + "\n"
                + "Terminal=false\n"
                + "Categories=" + p.categories() + "\n"
                + "StartupWMClass=" + windowClass + "\n";
    }

    /** A desktop entry string: a backslash starts an escape there, so it is doubled. */
    private static String entryString(String text) {
        return text.replace("\\", "\\\\");
    }

    static String metainfo(Package p) {
        StringBuilder out = new StringBuilder();
        out.append("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<component type=\"desktop-application\">\n");
        out.append("  <id>").append(xml(p.appId())).append("</id>\n");
        out.append("  <metadata_license>FSFAP</metadata_license>\n");
        out.append("  <project_license>").append(xml(p.license())).append("</project_license>\n");
        out.append("  <name>").append(xml(p.displayName())).append("</name>\n");
        out.append("  <summary>").append(xml(p.summary())).append("</summary>\n");
        out.append("  <developer id=\"").append(xml(developerId(p.appId()))).append("\">\n");
        out.append("    <name>").append(xml(p.developer())).append("</name>\n  </developer>\n");
        out.append("  <description>\n");
        p.paragraphs().forEach(para -> out.append("    <p>").append(xml(para)).append("</p>\n"));
        out.append("  </description>\n");
        out.append("  <launchable type=\"desktop-id\">").append(xml(p.appId())).append(".desktop</launchable>\n");
        if (!p.homepage().isEmpty()) {
            out.append("  <url type=\"homepage\">").append(xml(p.homepage())).append("</url>\n");
        }
        out.append("  <provides>\n    <binary>").append(xml(p.name())).append("</binary>\n  </provides>\n");
        out.append("  <releases>\n    <release version=\"").append(xml(p.version())).append("\" date=\"")
           .append(p.date()).append("\"/>\n  </releases>\n");
        out.append("  <content_rating type=\"oars-1.1\"/>\n</component>\n");
        return out.toString();
    }

    /**
     * The AppStream id from the homepage's host and the name: https://www.example.org/x and
     * "my-app" give org.example.my_app. Each part is made a valid one as D-Bus names are:
     * "_" for a character other than a letter, digit or "_", and "_" before a leading digit.
     * Empty when the homepage names no host.
     */
    static String appId(String homepage, String name) {
        String host;
        try {
            host = homepage.isEmpty() ? null : URI.create(homepage).getHost();
        } catch (IllegalArgumentException e) {
            host = null;
        }
        if (host == null || host.isEmpty()) {
            return "";
        }
        List<String> labels = new ArrayList<>(List.of(host.toLowerCase(Locale.ROOT).replaceFirst("^www\\.", "").split("\\.")));
        Collections.reverse(labels);
        labels.add(name);
        return String.join(".", labels.stream()
                .map(l -> l.replaceAll("[^A-Za-z0-9_]", "_").replaceFirst("^([0-9])", "_$1")).toList());
    }

    /** True for an id of reverse-DNS form. */
    static boolean isAppId(String id) {
        return id.matches("[A-Za-z][A-Za-z0-9_-]*(\\.[A-Za-z_][A-Za-z0-9_-]*)+");
    }

    /** The developer's id: the app id without its last part (org.example.app: org.example). */
    private static String developerId(String appId) {
        return appId.substring(0, appId.lastIndexOf('.'));
    }

    static String xml(String text) {
        return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;").replace("\"", "&quot;");
    }
}
