// The documentation files of a package (copyright, changelog, manual page, in Debian's
// forms, which the rpm carries too) and lintian's overrides. Pure functions of the facts.
package com.vellumbry.corvane.ship;

import java.util.List;
import java.util.Locale;

final class DebianFiles {
    private DebianFiles() {
    }

    static String copyright(Package p) {
        StringBuilder out = new StringBuilder();
        out.append(p.displayName()).append(", packaged for Debian by ").append(p.maintainer()).append(" on ")
           .append(p.date()).append("\nwith corvane's tools/package.\n\n");
        if (!p.homepage().isEmpty()) {
            out.append("Upstream: ").append(p.homepage()).append("\n\n");
        }
        if (!p.copyright().isEmpty()) {
            out.append("Copyright ").append(p.copyright()).append('\n');
        }
        out.append("Authors: ").append(p.developer()).append(".\nLicense: ").append(p.license()).append("\n\n")
           .append("The package holds the application's own files, a Java runtime made from the\n")
           .append("JDK with jlink (GNU General Public License version 2 with the Classpath\n")
           .append("exception; its legal notices are in /opt/").append(p.name()).append("/jre/legal/) and the corvane\n")
           .append("launcher (/opt/").append(p.name()).append("/corvane; Apache License, version 2.0).\n")
           .append("On Debian systems the full text of the GNU General Public License version 2\n")
           .append("is in /usr/share/common-licenses/GPL-2, that of the Apache License 2.0 in\n")
           .append("/usr/share/common-licenses/Apache-2.0.\n");
        return out.toString();
    }

    static String changelog(Package p) {
        return p.name() + " (" + p.version() + ") unstable; urgency=medium\n\n"
                + "  * Packaged with corvane's tools/package.\n\n"
                + " -- " + p.maintainer() + "  " + p.changelogDate() + "\n";
    }

    static String manualPage(Package p) {
        StringBuilder out = new StringBuilder();
        out.append(".TH ").append(p.name().toUpperCase(Locale.ROOT)).append(" 1 \"").append(p.date()).append("\" \"")
           .append(p.name()).append(' ').append(p.version()).append("\"\n")
           .append(".SH NAME\n").append(p.name()).append(" \\- ").append(roff(p.summary())).append('\n')
           .append(".SH SYNOPSIS\n.B ").append(p.name()).append("\n[\\fIarguments\\fR...]\n.SH DESCRIPTION\n");
        List<String> paragraphs = p.paragraphs();
        for (int i = 0; i < paragraphs.size(); i++) {
            if (i > 0) {
                out.append(".PP\n");
            }
            out.append(roff(paragraphs.get(i))).append('\n');
        }
        out.append(".PP\nThe launcher keeps a log in\n.IR ~/.local/state/").append(p.name())
           .append("/corvane-native.log ,\nor in\n.IR $XDG_STATE_HOME/").append(p.name())
           .append("/\nwhen that is an absolute path; the Java VM's crash reports and heap dumps go there too.\n");
        return out.toString();
    }

    /** Text safe as a roff line: backslashes doubled, no request at its start. */
    static String roff(String text) {
        String escaped = text.replace("\\", "\\\\");
        return escaped.startsWith(".") || escaped.startsWith("'") ? "\\&" + escaped : escaped;
    }

    /**
     * Why lintian's complaints do not apply: the tree lives whole under /opt, and its runtime
     * carries the libraries the JDK was built with ({@code embedded}: "zlib [path]" entries).
     */
    static String lintianOverrides(Package p, List<String> embedded) {
        StringBuilder out = new StringBuilder();
        out.append("# A self-contained application: the install tree stays whole under /opt.\n")
           .append(p.name()).append(": dir-or-file-in-opt\n");
        if (!embedded.isEmpty()) {
            out.append("# Its private Java runtime carries the libraries its JDK was built with\n")
               .append("# instead of the system's (each named with the file that holds it).\n");
            embedded.forEach(e -> out.append(p.name()).append(": embedded-library ").append(e).append('\n'));
        }
        if (p.repository() != null) {
            out.append("# The application's own repository, where its updates come from (--repository-url).\n")
               .append(p.name()).append(": package-installs-apt-sources [")
               .append(UpdateSource.sourcesPath(p.name()).substring(1)).append("]\n");
        }
        return out.toString();
    }
}
