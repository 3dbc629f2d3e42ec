// The pom.xml's settings as corvane-ship's argument lists, one "--option=value" argument
// per option, so that a value never reads as an option. Checks nothing: every refusal
// is the command's own.
package com.vellumbry.corvane.maven;

import java.io.File;
import java.util.ArrayList;
import java.util.List;

final class ShipArguments {
    private final List<String> list = new ArrayList<>();

    private ShipArguments() {
    }

    /** corvane-ship assemble: the tree of the jars (the project's first) in treeDirectory. */
    static List<String> assemble(ShipSettings s) {
        ShipArguments a = new ShipArguments();
        a.value("--launcher", s.launcher);
        a.value("--jdk", s.jdk);
        a.value("--dest", s.treeDirectory);
        a.value("--name", s.name);
        a.value("--main-class", s.mainClass);
        a.each("--jvm-option", s.jvmOptions);
        a.each("--resources", s.resources);
        a.flag("--train", s.train);
        a.each("--train-arg", s.trainArgs);
        a.value("--train-seconds", s.trainSeconds);
        a.each("--command", s.commands);
        a.singleInstance(s.singleInstance);
        a.value("--splash", s.splash);
        a.flag("--no-splash", s.noSplash);
        a.rest(s.jars);
        return a.list;
    }

    /** corvane-ship package: the .deb, .rpm, .tar.gz (and .flatpak) of treeDirectory in packageDirectory. */
    static List<String> packageTree(ShipSettings s) {
        ShipArguments a = new ShipArguments();
        a.value("--tree", s.treeDirectory);
        a.value("--out-dir", s.packageDirectory);
        a.value("--version", s.version);
        a.value("--display-name", s.displayName);
        a.value("--summary", s.summary);
        a.value("--description", s.description);
        a.value("--icon", s.icon);
        a.value("--categories", s.categories);
        a.value("--maintainer", s.maintainer);
        a.value("--developer", s.developer);
        a.value("--copyright", s.copyright);
        a.value("--homepage", s.homepage);
        a.value("--license", s.license);
        a.value("--app-id", s.appId);
        a.each("--menu-entry", s.menuEntries);
        a.each("--file-type", s.fileTypes);
        a.each("--url-scheme", s.urlSchemes);
        a.value("--repository-url", s.repositoryUrl);
        a.each("--repository-key", s.repositoryKeys);
        a.flag("--no-flatpak", !s.flatpak);
        return a.list;
    }

    /** corvane-ship publish: the packages into the repository folder. */
    static List<String> publish(ShipSettings s) {
        ShipArguments a = new ShipArguments();
        a.value("--repo", s.publishRepository);
        a.each("--key", s.publishKeys);
        a.value("--gnupg-home", s.gnupgHome);
        a.value("--keep", s.keep);
        a.value("--suite", s.suite);
        a.value("--origin", s.origin);
        a.value("--label", s.label);
        a.value("--url", s.publishUrl);
        a.rest(s.packages);
        return a.list;
    }

    private void value(String option, Object value) {
        String text = value == null ? "" : value.toString();
        if (!text.isEmpty()) {
            list.add(option + "=" + text);
        }
    }

    private void each(String option, List<?> values) {
        for (Object value : values == null ? List.of() : values) {
            value(option, value);
        }
    }

    private void flag(String option, boolean set) {
        if (set) {
            list.add(option);
        }
    }

    /** yes is the bare flag; any other word goes to the command, which knows raise. */
    private void singleInstance(String value) {
        if ("yes".equals(value)) {
            list.add("--single-instance");
        } else {
            value("--single-instance", value);
        }
    }

    /** Files after "--": a name that starts with "-" is still a file. */
    private void rest(List<File> files) {
        list.add("--");
        files.forEach(file -> list.add(file.toString()));
    }
}
