// Everything asked of GnuPG: signatures by the publisher's keys and their public
// halves. It never makes, exports or stores a secret key: gpg signs, in batch mode,
// with the keys its home (--gnupg-home or GNUPGHOME) already holds.
package com.vellumbry.corvane.ship;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;

/**
 * @param keys the key ids or fingerprints that sign, each signature made by all of them
 * @param home the GnuPG home, or null for gpg's own choice (GNUPGHOME, ~/.gnupg)
 */
record Signing(List<String> keys, Path home) {

    /** Checks that gpg holds a secret key for each of {@code keys}. */
    static Signing check(List<String> keys, Path home, Path scratch) {
        if (!Exec.onPath("gpg")) {
            throw Console.fail("gpg is not installed (package gnupg)");
        }
        Signing signing = new Signing(List.copyOf(keys), home);
        for (String key : keys) {
            List<String> argv = signing.gpg();
            argv.addAll(List.of("--with-colons", "--list-secret-keys", "--", key));
            if (Exec.run(new Exec.Command(argv), scratch.resolve("gpg-list.out")) != 0) {
                String where = home != null ? home.toString() : System.getenv().getOrDefault("GNUPGHOME", "~/.gnupg");
                throw Console.fail("no secret key " + key + " in " + where + " (give --gnupg-home or set GNUPGHOME)");
            }
        }
        return signing;
    }

    /** InRelease: {@code file} clearsigned by every key. */
    void clearsign(Path file, Path out, Path scratch) {
        sign(List.of("--clearsign"), file, out, scratch);
    }

    /** Release.gpg, repomd.xml.asc: detached armored signatures of every key. */
    void detachSign(Path file, Path out, Path scratch) {
        sign(List.of("--detach-sign", "--armor"), file, out, scratch);
    }

    /** The signing keys' public halves: binary (what apt's Signed-By takes) or armored. */
    void exportPublic(boolean armored, Path out, Path scratch) {
        List<String> argv = gpg();
        argv.addAll(export(armored, out));
        argv.add("--");
        argv.addAll(keys);
        Exec.output(argv, scratch, "cannot export the public keys " + String.join(" ", keys));
    }

    /**
     * The public keys in {@code files} (armored or binary) as one block, binary (what apt's Signed-By
     * takes) or armored (rpm's), through a GnuPG home of its own.
     */
    static byte[] publicKeys(List<Path> files, boolean armored, Path scratch) {
        if (!Exec.onPath("gpg")) {
            throw Console.fail("gpg is not installed (package gnupg): it makes the package's keyring");
        }
        try {
            Path home = Files.createTempDirectory(scratch, "gnupg.");
            List<String> base = List.of("gpg", "--batch", "--no-tty", "--no-autostart", "--homedir", home.toString());
            for (Path file : files) {
                List<String> argv = new ArrayList<>(base);
                argv.addAll(List.of("--import", "--", file.toString()));
                Exec.output(argv, scratch, "no public key in " + file);
            }
            Path out = home.resolve("keys");
            List<String> argv = new ArrayList<>(base);
            argv.addAll(export(armored, out));
            Exec.output(argv, scratch, "cannot export the repository keys");
            byte[] keys = Files.exists(out) ? Files.readAllBytes(out) : new byte[0];
            if (keys.length == 0) {
                throw Console.fail("no public key in " + files);
            }
            return keys;
        } catch (IOException e) {
            throw Console.fail("cannot make the package's keyring: " + e.getMessage());
        }
    }

    /** gpg's arguments that export public keys into {@code out}, binary or armored. */
    private static List<String> export(boolean armored, Path out) {
        return armored ? List.of("--armor", "--output", out.toString(), "--export") : List.of("--output", out.toString(), "--export");
    }

    private void sign(List<String> how, Path file, Path out, Path scratch) {
        List<String> argv = gpg();
        argv.add("--digest-algo");
        argv.add("SHA512");
        for (String key : keys) {
            argv.add("--local-user");
            argv.add(key);
        }
        argv.addAll(how);
        argv.addAll(List.of("--output", out.toString(), "--", file.toString()));
        Exec.output(argv, scratch, "gpg cannot sign " + file.getFileName());
    }

    private List<String> gpg() {
        List<String> argv = new ArrayList<>(List.of("gpg", "--batch", "--no-tty", "--yes"));
        if (home != null) {
            argv.addAll(List.of("--homedir", home.toString()));
        }
        return argv;
    }
}
