// The self-contained tree's test application: loads the named classes in the given order,
// prints for each the jar it came from and whether it carries signers, then "ready", and
// ends when a line (or the end) arrives on its standard input.
package scapp;

import java.io.BufferedReader;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.security.CodeSource;

public final class Main {
    public static void main(String[] args) throws Exception {
        for (String name : args) {
            CodeSource source = Class.forName(name).getProtectionDomain().getCodeSource();
            System.out.println(name + " " + source.getLocation().getPath() + " "
                    + (source.getCodeSigners() == null ? "unsigned" : "signed"));
        }
        System.out.println("ready");
        System.out.flush();
        new BufferedReader(new InputStreamReader(System.in, StandardCharsets.UTF_8)).readLine();
    }
}
