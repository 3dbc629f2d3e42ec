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
        argv.addAll(armored ? List.of("--armor", "--output", out.toString(), "--export") : List.of("--output", out.toString(), "--export"));
        argv.add("--");
        argv.addAll(keys);
        Exec.output(argv, scratch, "cannot export the public keys " + String.join(" ", keys));
    }

    /** One binary keyring of the public keys in {@code files} (armored or binary), through a GnuPG home of its own. */
    static byte[] keyring(List<Path> files, Path scratch) {
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
            Path out = scratch.resolve("keyring.gpg");
            List<String> argv = new ArrayList<>(base);
            argv.addAll(List.of("--output", out.toString(), "--export"));
            Exec.output(argv, scratch, "cannot export the repository keys");
            byte[] keyring = Files.readAllBytes(out);
            if (keyring.length == 0) {
                throw Console.fail("no public key in " + files);
            }
            return keyring;
        } catch (IOException e) {
            throw Console.fail("cannot make the package's keyring: " + e.getMessage());
        }
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
