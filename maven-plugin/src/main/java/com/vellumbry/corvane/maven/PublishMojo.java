// The publish goal: corvane-ship publish adds the packages of the package goal to a
// signed repository folder. Bound to no phase: run it as mvn package corvane:publish.
package com.vellumbry.corvane.maven;

import java.io.File;
import java.util.Arrays;
import java.util.List;
import java.util.regex.Pattern;
import org.apache.maven.plugin.MojoFailureException;
import org.apache.maven.plugins.annotations.Mojo;
import org.apache.maven.plugins.annotations.Parameter;

@Mojo(name = "publish", threadSafe = true)
public final class PublishMojo extends ShipMojo {
    // Neither is required here: without them the command refuses, in its words.
    /** The repository folder (made when missing). */
    @Parameter(property = "corvane.publishRepository")
    File publishRepository;

    /** GnuPG key ids or fingerprints whose secret keys gpg holds (a property: comma-separated). */
    @Parameter(property = "corvane.publishKeys")
    List<String> publishKeys;

    /** gpg's home (default: GNUPGHOME, else ~/.gnupg). */
    @Parameter(property = "corvane.gnupgHome")
    File gnupgHome;

    /** Versions kept of each package (default 3). */
    @Parameter
    Integer keep;

    /** The apt suite (default stable). */
    @Parameter
    String suite;

    @Parameter
    String origin;

    @Parameter
    String label;

    /** The address the repository folder is served at, which its Flatpak remote's files name. */
    @Parameter(property = "corvane.publishUrl")
    String publishUrl;

    /** The package files (default: the name's .deb, .rpm and .flatpak files in target/). */
    @Parameter
    List<File> packages;

    @Override
    public void execute() throws MojoFailureException {
        if (skip) {
            getLog().info("Skipped (corvane.skip)");
            return;
        }
        ShipSettings s = new ShipSettings();
        s.publishRepository = publishRepository;
        s.publishKeys = PackageMojo.listOf(publishKeys);
        s.gnupgHome = gnupgHome;
        s.keep = keep;
        s.suite = suite;
        s.origin = origin;
        s.label = label;
        s.publishUrl = publishUrl;
        s.packages = packages == null || packages.isEmpty() ? built() : packages;
        command().run("publish", ShipArguments.publish(s));
    }

    /**
     * name_<version>_<arch>.deb, name-<version>-<release>.<arch>.rpm and name-<version>-<cpu>.flatpak:
     * versions begin with a digit.
     */
    private List<File> built() throws MojoFailureException {
        Pattern deb = Pattern.compile(Pattern.quote(name) + "_[0-9].*\\.deb");
        Pattern other = Pattern.compile(Pattern.quote(name) + "-[0-9].*\\.(rpm|flatpak)");
        File[] files = buildDirectory().listFiles((dir, file) -> deb.matcher(file).matches() || other.matcher(file).matches());
        if (files == null || files.length == 0) {
            throw new MojoFailureException("no .deb, .rpm or .flatpak of " + name + " in " + buildDirectory()
                    + ": run the package goal first (mvn package corvane:publish)");
        }
        Arrays.sort(files);
        return List.of(files);
    }
}
