// The package goal: corvane-ship assemble builds the tree of the project's jar and its
// runtime dependencies in target/corvane/<name>/, then corvane-ship package makes the
// .deb, .rpm and .tar.gz in target/. Bound to the package phase, after the jar.
package com.vellumbry.corvane.maven;

import java.io.File;
import java.util.ArrayList;
import java.util.List;
import org.apache.maven.artifact.Artifact;
import org.apache.maven.plugin.MojoFailureException;
import org.apache.maven.plugins.annotations.LifecyclePhase;
import org.apache.maven.plugins.annotations.Mojo;
import org.apache.maven.plugins.annotations.Parameter;
import org.apache.maven.plugins.annotations.ResolutionScope;

@Mojo(name = "package", defaultPhase = LifecyclePhase.PACKAGE, requiresDependencyResolution = ResolutionScope.RUNTIME,
        threadSafe = true)
public final class PackageMojo extends ShipMojo {
    /** The built corvane launcher (default: the one of the corvane-ship release). */
    @Parameter(property = "corvane.launcher")
    File launcher;

    /** The JDK the runtime is made from (default: JAVA_HOME when it has javac, else the newest under /usr/lib/jvm). */
    @Parameter(property = "corvane.jdk")
    File jdk;

    /** The main class (default: the project jar's manifest Main-Class). */
    @Parameter
    String mainClass;

    /** JVM options for every start. */
    @Parameter
    List<String> jvmOptions;

    /** Folders whose contents go into the tree's lib/, next to the jars. */
    @Parameter
    List<File> resources;

    /** Trains the class-data archives on runs of the application. */
    @Parameter(property = "corvane.train", defaultValue = "false")
    boolean train;

    /** Arguments of the training runs. */
    @Parameter
    List<String> trainArgs;

    /** Time limit of each training run in seconds (default 60). */
    @Parameter
    Integer trainSeconds;

    /** Further commands, each name=main class. */
    @Parameter
    List<String> commands;

    /** One instance per user: yes, or raise (the running window comes to the front). */
    @Parameter
    String singleInstance;

    /** The splash screen's image instead of the manifest's. */
    @Parameter
    File splash;

    /** No splash screen, whatever the manifest names. */
    @Parameter(defaultValue = "false")
    boolean noSplash;

    /** The package version. */
    @Parameter(defaultValue = "${project.version}")
    String version;

    @Parameter(defaultValue = "${project.name}")
    String displayName;

    @Parameter
    String summary;

    @Parameter(defaultValue = "${project.description}")
    String description;

    /** A square PNG or an SVG. */
    @Parameter
    File icon;

    /** Freedesktop categories, e.g. Office;Graphics; */
    @Parameter
    String categories;

    /** Name &lt;email&gt; (default: from DEBFULLNAME and DEBEMAIL). */
    @Parameter
    String maintainer;

    @Parameter
    String developer;

    /** The upstream copyright notice, years and holder. */
    @Parameter
    String copyright;

    @Parameter(defaultValue = "${project.url}")
    String homepage;

    /** An SPDX expression. */
    @Parameter
    String license;

    /** The AppStream id in reverse-DNS form. */
    @Parameter
    String appId;

    /** Menu entries of further commands, each command[=name]. */
    @Parameter
    List<String> menuEntries;

    /** File types, each "MIME type;ext[,ext...];description[;icon]". */
    @Parameter
    List<String> fileTypes;

    @Parameter
    List<String> urlSchemes;

    /** The repository (the publish goal's) that brings updates. */
    @Parameter
    String repositoryUrl;

    /** The publisher's public keys that sign that repository. */
    @Parameter
    List<File> repositoryKeys;

    /** A Flatpak too (when flatpak is installed). */
    @Parameter(property = "corvane.flatpak", defaultValue = "true")
    boolean flatpak;

    @Override
    public void execute() throws MojoFailureException {
        if (skip) {
            getLog().info("Skipped (corvane.skip)");
            return;
        }
        ShipSettings s = new ShipSettings();
        s.launcher = launcher;
        s.jdk = jdk;
        // assemble makes the tree, not the folder that holds it.
        File trees = new File(buildDirectory(), "corvane");
        if (!trees.isDirectory() && !trees.mkdirs()) {
            throw new MojoFailureException("cannot create the folder " + trees);
        }
        s.treeDirectory = new File(trees, name);
        s.name = name;
        s.mainClass = mainClass;
        s.jvmOptions = listOf(jvmOptions);
        s.resources = listOf(resources);
        s.train = train;
        s.trainArgs = listOf(trainArgs);
        s.trainSeconds = trainSeconds;
        s.commands = listOf(commands);
        s.singleInstance = singleInstance;
        s.splash = splash;
        s.noSplash = noSplash;
        s.jars = jars();
        s.packageDirectory = buildDirectory();
        s.version = version;
        s.displayName = displayName;
        s.summary = summary;
        s.description = description;
        s.icon = icon;
        s.categories = categories;
        s.maintainer = maintainer;
        s.developer = developer;
        s.copyright = copyright;
        s.homepage = homepage;
        s.license = license;
        s.appId = appId;
        s.menuEntries = listOf(menuEntries);
        s.fileTypes = listOf(fileTypes);
        s.urlSchemes = listOf(urlSchemes);
        s.repositoryUrl = repositoryUrl;
        s.repositoryKeys = listOf(repositoryKeys);
        s.flatpak = flatpak;
        ShipCommand ship = command();
        ship.run("assemble", ShipArguments.assemble(s));
        ship.run("package", ShipArguments.packageTree(s));
    }

    /** The project's jar, then its runtime dependencies in Maven's class-path order. */
    private List<File> jars() throws MojoFailureException {
        File own = project.getArtifact().getFile();
        if (own == null || !own.isFile() || !own.getName().endsWith(".jar")) {
            throw new MojoFailureException("the project has no jar yet: run the goal in the package phase"
                    + " (mvn package), after the jar");
        }
        List<File> jars = new ArrayList<>(List.of(own));
        for (Artifact artifact : project.getArtifacts()) {
            if (artifact.getArtifactHandler().isAddedToClasspath()
                    && (Artifact.SCOPE_COMPILE.equals(artifact.getScope()) || Artifact.SCOPE_RUNTIME.equals(artifact.getScope()))) {
                jars.add(artifact.getFile());
            }
        }
        return jars;
    }

    static <T> List<T> listOf(List<T> values) {
        return values == null ? List.of() : values;
    }
}
