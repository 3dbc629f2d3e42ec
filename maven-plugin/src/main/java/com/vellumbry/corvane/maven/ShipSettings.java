// What the pom.xml sets for corvane-ship, one field a parameter: filled by the goals,
// read only by ShipArguments. An empty field (null, "", empty list) gives no option.
package com.vellumbry.corvane.maven;

import java.io.File;
import java.util.List;

final class ShipSettings {
    // assemble
    File launcher;
    File jdk;
    File treeDirectory;
    String name;
    String mainClass;
    List<String> jvmOptions = List.of();
    List<File> resources = List.of();
    boolean train;
    List<String> trainArgs = List.of();
    Integer trainSeconds;
    List<String> commands = List.of();
    String singleInstance;
    File splash;
    boolean noSplash;
    List<File> jars = List.of();

    // package
    File packageDirectory;
    String version;
    String displayName;
    String summary;
    String description;
    File icon;
    String categories;
    String maintainer;
    String developer;
    String copyright;
    String homepage;
    String license;
    String appId;
    List<String> menuEntries = List.of();
    List<String> fileTypes = List.of();
    List<String> urlSchemes = List.of();
    String repositoryUrl;
    List<File> repositoryKeys = List.of();
    boolean flatpak = true;

    // publish
    File publishRepository;
    List<String> publishKeys = List.of();
    File gnupgHome;
    Integer keep;
    String suite;
    String origin;
    String label;
    String publishUrl;
    List<File> packages = List.of();
}
