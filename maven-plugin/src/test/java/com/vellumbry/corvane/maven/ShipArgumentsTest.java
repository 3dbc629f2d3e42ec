// The pom.xml's settings against the argument lists written out by hand from the
// commands' usage texts.
package com.vellumbry.corvane.maven;

import static org.junit.Assert.assertEquals;

import java.io.File;
import java.util.List;
import java.util.function.Consumer;
import java.util.function.Function;
import org.junit.Test;

public class ShipArgumentsTest {
    private record Case(String name, Function<ShipSettings, List<String>> goal, Consumer<ShipSettings> set,
            List<String> want) {
    }

    private static final Function<ShipSettings, List<String>> ASSEMBLE = ShipArguments::assemble;
    private static final Function<ShipSettings, List<String>> PACKAGE = ShipArguments::packageTree;
    private static final Function<ShipSettings, List<String>> PUBLISH = ShipArguments::publish;

    @Test
    public void settingsBecomeTheCommandsArguments() {
        List<Case> cases = List.of(
                new Case("assemble, nothing set: the jars alone", ASSEMBLE, s -> { },
                        List.of("--", "/p/app.jar", "/p/-lib.jar")),
                new Case("assemble, everything set", ASSEMBLE, s -> {
                    s.launcher = new File("/b/corvane");
                    s.jdk = new File("/jdk");
                    s.treeDirectory = new File("/p/target/corvane/app");
                    s.name = "app";
                    s.mainClass = "org.example.Main";
                    s.jvmOptions = List.of("-Xmx1g", "-Dtwo words=x");
                    s.resources = List.of(new File("/p/res"), new File("/p/more"));
                    s.train = true;
                    s.trainArgs = List.of("--demo", "");
                    s.trainSeconds = 30;
                    s.commands = List.of("app-cli=org.example.Cli");
                    s.singleInstance = "raise";
                    s.splash = new File("/p/splash.png");
                    s.noSplash = true;
                }, List.of("--launcher=/b/corvane", "--jdk=/jdk", "--dest=/p/target/corvane/app", "--name=app",
                        "--main-class=org.example.Main", "--jvm-option=-Xmx1g", "--jvm-option=-Dtwo words=x",
                        "--resources=/p/res", "--resources=/p/more", "--train", "--train-arg=--demo",
                        "--train-seconds=30", "--command=app-cli=org.example.Cli", "--single-instance=raise",
                        "--splash=/p/splash.png", "--no-splash", "--", "/p/app.jar", "/p/-lib.jar")),
                new Case("single instance yes: the bare flag", ASSEMBLE, s -> s.singleInstance = "yes",
                        List.of("--single-instance", "--", "/p/app.jar", "/p/-lib.jar")),
                new Case("single instance, another word: the command judges it", ASSEMBLE, s -> s.singleInstance = "always",
                        List.of("--single-instance=always", "--", "/p/app.jar", "/p/-lib.jar")),
                new Case("package, nothing set", PACKAGE, s -> { }, List.of()),
                new Case("package, everything set", PACKAGE, s -> {
                    s.treeDirectory = new File("/p/target/corvane/app");
                    s.packageDirectory = new File("/p/target");
                    s.version = "1:2.0-3";
                    s.displayName = "The App";
                    s.summary = "Does things";
                    s.description = "One.\n\nTwo.";
                    s.icon = new File("/p/icon.svg");
                    s.categories = "Office;";
                    s.maintainer = "Jane Doe <jane@example.org>";
                    s.developer = "Jane Doe";
                    s.copyright = "2024 Jane Doe";
                    s.homepage = "https://example.org/app";
                    s.license = "Apache-2.0";
                    s.appId = "org.example.app";
                    s.menuEntries = List.of("app-cli=App Console");
                    s.fileTypes = List.of("text/x-app;app;App document");
                    s.urlSchemes = List.of("app", "app-web");
                    s.repositoryUrl = "https://example.org/repo";
                    s.repositoryKeys = List.of(new File("/p/key.asc"), new File("/p/next.asc"));
                    s.flatpak = false;
                }, List.of("--tree=/p/target/corvane/app", "--out-dir=/p/target", "--version=1:2.0-3",
                        "--display-name=The App", "--summary=Does things", "--description=One.\n\nTwo.",
                        "--icon=/p/icon.svg", "--categories=Office;", "--maintainer=Jane Doe <jane@example.org>",
                        "--developer=Jane Doe", "--copyright=2024 Jane Doe", "--homepage=https://example.org/app",
                        "--license=Apache-2.0", "--app-id=org.example.app", "--menu-entry=app-cli=App Console",
                        "--file-type=text/x-app;app;App document", "--url-scheme=app", "--url-scheme=app-web",
                        "--repository-url=https://example.org/repo", "--repository-key=/p/key.asc",
                        "--repository-key=/p/next.asc", "--no-flatpak")),
                new Case("publish, everything set", PUBLISH, s -> {
                    s.publishRepository = new File("/srv/repo");
                    s.publishKeys = List.of("OLDKEY", "NEWKEY");
                    s.gnupgHome = new File("/p/gnupg");
                    s.keep = 2;
                    s.suite = "stable";
                    s.origin = "Example";
                    s.label = "Example apps";
                    s.publishUrl = "https://example.org/repo";
                    s.packages = List.of(new File("/p/target/app_1.0_amd64.deb"));
                }, List.of("--repo=/srv/repo", "--key=OLDKEY", "--key=NEWKEY", "--gnupg-home=/p/gnupg", "--keep=2",
                        "--suite=stable", "--origin=Example", "--label=Example apps", "--url=https://example.org/repo",
                        "--", "/p/target/app_1.0_amd64.deb")));
        for (Case c : cases) {
            ShipSettings settings = new ShipSettings();
            settings.jars = List.of(new File("/p/app.jar"), new File("/p/-lib.jar"));
            c.set().accept(settings);
            assertEquals(c.name(), c.want(), c.goal().apply(settings));
        }
    }
}
