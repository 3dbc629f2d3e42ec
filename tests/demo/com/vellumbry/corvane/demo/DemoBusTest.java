// The demo's D-Bus client on the session bus that dbus-run-session starts for
// it: addresses, a call whose reply is a dictionary of variants, a match rule
// and the signal it lets through, and the Flatpak portal's Spawn arguments,
// which the bus checks against their signature before it finds no such service
// (a message that does not match its signature ends the connection instead).
package com.vellumbry.corvane.demo;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import java.util.Map;

public final class DemoBusTest {
    private static final String BUS = "org.freedesktop.DBus";
    private static final String BUS_PATH = "/org/freedesktop/DBus";
    private static int failures;

    private DemoBusTest() {
    }

    public static void main(String[] args) throws IOException {
        addresses();
        try (DemoBus watcher = DemoBus.openSession()) {
            credentials(watcher);
            signal(watcher);
        }
        spawnArguments();
        System.out.println(failures == 0 ? "all checks passed" : failures + " check(s) failed");
        System.exit(failures == 0 ? 0 : 1);
    }

    private static void check(boolean ok, String what) {
        if (!ok) {
            failures++;
            System.out.println("FAIL: " + what);
        }
    }

    private static void addresses() {
        String[][] table = {
            {"unix:path=/run/user/1000/bus", "/run/user/1000/bus"},
            {"unix:path=/run/flatpak/bus,guid=0123abcd", "/run/flatpak/bus"},
            {"unix:abstract=/tmp/dbus-x,guid=1;unix:path=/tmp/a%20b%2cc", "/tmp/a b,c"},
            {"tcp:host=localhost,port=1", null},
            {"unix:abstract=/tmp/dbus-x", null},
            {"", null},
        };
        for (String[] row : table) {
            String path = DemoBus.socketPath(row[0]);
            check(row[1] == null ? path == null : row[1].equals(path), "the socket of '" + row[0] + "' is " + path);
        }
        check(DemoBus.socketPath(null) == null, "an unset address names a socket");
    }

    /** GetConnectionCredentials answers a{sv}: this process's pid and uid. */
    private static void credentials(DemoBus bus) throws IOException {
        Map<?, ?> credentials =
            (Map<?, ?>) bus.call(BUS, BUS_PATH, BUS, "GetConnectionCredentials", "s", bus.name()).get(0);
        check(Long.valueOf(ProcessHandle.current().pid()).equals(((Integer) credentials.get("ProcessID")).longValue()),
            "ProcessID is " + credentials.get("ProcessID") + ", this process is " + ProcessHandle.current().pid());
        check(Files.getAttribute(Path.of("/proc/self"), "unix:uid").equals(credentials.get("UnixUserID")),
            "UnixUserID is " + credentials.get("UnixUserID"));
    }

    /** A second connection's arrival, as NameOwnerChanged(name, "", name) through a match rule. */
    private static void signal(DemoBus watcher) throws IOException {
        watcher.addMatch("type='signal',interface='" + BUS + "',member='NameOwnerChanged'");
        try (DemoBus other = DemoBus.openSession()) {
            DemoBus.Message signal;
            do {
                signal = watcher.nextSignal();
            } while (!"NameOwnerChanged".equals(signal.member()) || !other.name().equals(signal.body().get(0)));
            check(signal.type() == DemoBus.SIGNAL && BUS_PATH.equals(signal.path()) && BUS.equals(signal.iface())
                && signal.body().equals(List.of(other.name(), "", other.name())), "the signal is " + signal);
        }
    }

    private static void spawnArguments() throws IOException {
        try (DemoBus bus = DemoBus.openSession()) {
            bus.call("org.example.NoSuchService", "/org/freedesktop/portal/Flatpak", "org.freedesktop.portal.Flatpak",
                "Spawn", "ayaaya{uh}a{ss}ua{sv}", "/home\0".getBytes(),
                List.of("/app/bin/x\0".getBytes(), "a b\0".getBytes()), Map.of(),
                Map.of("LANG", "C", "TERM", "dumb"), 2,
                Map.of("sandbox-expose", new DemoBus.Variant("as", List.of("x", "y")),
                    "sandbox-flags", new DemoBus.Variant("u", 1)));
            check(false, "Spawn reached a service that does not exist");
        } catch (IOException e) {
            check(e.getMessage().contains("org.freedesktop.DBus.Error.ServiceUnknown"),
                "Spawn's arguments, answered: " + e.getMessage());
        }
    }
}
