// Which JDK modules the tree's runtime gets.
package com.vellumbry.corvane.ship;

import java.util.List;

import static com.vellumbry.corvane.ship.Checks.check;
import static com.vellumbry.corvane.ship.Checks.same;

final class RuntimeModulesTest {
    private RuntimeModulesTest() {
    }

    static void run() {
        // A JDK as JdkModules.main prints it: name, resolved for a class-path application, requires, packages.
        JdkModules jdk = JdkModules.parse(String.join("\n",
                "java.base\t1\t\tjava.lang,java.util",
                "java.desktop\t1\tjava.base\tjava.awt",
                "java.logging\t1\tjava.base\tjava.util.logging",
                "java.naming\t1\tjava.base\tjavax.naming",
                "java.sql\t1\tjava.base,java.logging\tjava.sql",
                "jdk.compiler\t1\tjava.base,jdk.internal.opt\tcom.sun.tools.javac",
                "jdk.internal.opt\t1\tjava.base\tjdk.internal.opt",
                "jdk.jlink\t1\tjava.base,jdk.internal.opt\tjdk.tools.jlink",
                "jdk.jshell\t1\tjava.base,jdk.compiler,jdk.jdi\tjdk.jshell",
                "jdk.jdi\t1\tjava.base\tcom.sun.jdi",
                "jdk.localedata\t1\tjava.base\tsun.util.resources.provider",
                "jdk.unsupported\t1\tjava.base\tsun.misc",
                "jdk.zipfs\t1\tjava.base\tjdk.nio.zipfs",
                "jdk.incubator.thing\t0\tjava.base\tjdk.incubator.thing",
                "jdk.jcmd\t0\tjava.base,jdk.jdi\tsun.tools.jcmd",
                "OpenJDK 64-Bit Server VM warning: a line of another form"));
        same(String.join(",", RuntimeImage.defaultModules(jdk)), "java.base,java.desktop,java.logging,java.naming,"
                + "java.sql,jdk.compiler,jdk.internal.opt,jdk.localedata,jdk.unsupported,jdk.zipfs",
                "default: what java resolves, less the tools, with what the kept ones require");
        // The named modules (manifests, bridge, --add-modules) are java.naming in every case.
        record Case(String name, boolean minimal, String jdepsError, List<String> jdeps, List<String> trained, String wanted) {
        }
        String all = "java.base,java.desktop,java.logging,java.naming,java.sql,jdk.compiler,jdk.internal.opt,"
                + "jdk.localedata,jdk.unsupported,jdk.zipfs";
        List<Case> cases = List.of(
                new Case("default", false, "", List.of(), List.of(), all),
                new Case("default with a tool the jars use", false, "", List.of("jdk.jshell"), List.of(),
                        "java.base,java.desktop,java.logging,java.naming,java.sql,jdk.compiler,jdk.internal.opt,jdk.jdi,"
                        + "jdk.jshell,jdk.localedata,jdk.unsupported,jdk.zipfs"),
                new Case("minimal", true, "", List.of("java.sql"), List.of(),
                        "java.base,java.desktop,java.logging,java.naming,java.sql,jdk.localedata,jdk.unsupported"),
                new Case("minimal with a training run's modules", true, "", List.of(), List.of("jdk.zipfs"),
                        "java.base,java.desktop,java.logging,java.naming,jdk.localedata,jdk.unsupported,jdk.zipfs"),
                new Case("minimal when jdeps failed: the default", true, "Error: Module x not found", List.of(),
                        List.of(), all));
        for (Case c : cases) {
            RuntimeImage.Needs needs = new RuntimeImage.Needs(new java.util.TreeSet<>(c.jdeps()), c.jdepsError(),
                    java.util.Set.of("java.naming"));
            same(String.join(",", RuntimeImage.choose(jdk, needs, c.minimal(), c.trained())), c.wanted(), c.name());
        }
        same(String.join(",", jdk.modulesOfClassList("""
                # NOTE: Do not modify this file.
                java/lang/Object id: 0
                java/sql/Driver id: 1
                jdk/nio/zipfs/ZipFileSystem id: 2
                app/Main id: 3
                @lambda-proxy java/util/function/Function id: 4
                """)), "java.base,java.sql,jdk.zipfs", "the JDK modules of a training run's class list");
    }
}
