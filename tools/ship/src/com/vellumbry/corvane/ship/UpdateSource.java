// The package repository a package names as its own source of updates: its URL and the
// publisher's public keys (a second key published ahead of a rotation rides along).
// Without a URL a package carries no source entry.
package com.vellumbry.corvane.ship;

import java.net.URI;
import java.net.URISyntaxException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;

/**
 * @param url  the repository's base URL, http or https, without a trailing '/'
 * @param keys the publisher's public key files (GnuPG, armored or binary), one or more
 */
record UpdateSource(String url, List<Path> keys) {

    /** From --repository-url and --repository-key; null when no URL is given. */
    static UpdateSource parse(String url, List<String> keys) {
        if (url.isEmpty()) {
            if (!keys.isEmpty()) {
                throw Console.fail("--repository-key needs --repository-url");
            }
            return null;
        }
        URI uri;
        try {
            uri = new URI(url);
        } catch (URISyntaxException e) {
            throw Console.fail("--repository-url " + url + " is no URL: " + e.getReason());
        }
        if (!("http".equals(uri.getScheme()) || "https".equals(uri.getScheme())) || uri.getHost() == null
                || uri.getQuery() != null || uri.getFragment() != null || url.matches(".*\\s.*")) {
            throw Console.fail("--repository-url must be an http or https URL without query or blanks: " + url);
        }
        if (keys.isEmpty()) {
            throw Console.fail("--repository-url needs the publisher's public key (--repository-key <file>)");
        }
        List<Path> files = keys.stream().map(k -> Path.of(k).toAbsolutePath().normalize()).toList();
        for (Path file : files) {
            if (!Files.isRegularFile(file) || !Files.isReadable(file)) {
                throw Console.fail("repository key not readable: " + file);
            }
        }
        return new UpdateSource(url.replaceAll("/+$", ""), files);
    }

    /** Where the package installs the keyring that its source entry trusts. */
    static String keyringPath(String name) {
        return "/usr/share/keyrings/" + name + "-archive-keyring.gpg";
    }

    /** Where the package installs its source entry (a conffile: purge removes it). */
    static String sourcesPath(String name) {
        return "/etc/apt/sources.list.d/" + name + ".sources";
    }

    /** The package's apt source entry (deb822); tools/publish puts the apt half under <url>/apt. */
    String aptSources(String name) {
        return "Types: deb\n"
                + "URIs: " + url + "/apt\n"
                + "Suites: stable\n"
                + "Components: main\n"
                + "Architectures: amd64\n"
                + "Signed-By: " + keyringPath(name) + "\n";
    }
}
