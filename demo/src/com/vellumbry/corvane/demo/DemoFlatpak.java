package com.vellumbry.corvane.demo;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;

/**
 * Updates inside a Flatpak, through the Flatpak portal on the session bus.
 * Each instance runs in a sandbox of its own, with its own pid namespace, and
 * keeps the version it started with while flatpak update deploys a new one: the
 * portal's update monitor tells when the installed commit is no longer the
 * running one, and the portal's Spawn starts the latest version.
 */
final class DemoFlatpak {

    private static final String PORTAL = "org.freedesktop.portal.Flatpak";
    private static final String PORTAL_PATH = "/org/freedesktop/portal/Flatpak";
    private static final String MONITOR = "org.freedesktop.portal.Flatpak.UpdateMonitor";
    /** Spawn's flag for the latest installed version instead of the caller's commit. */
    private static final int SPAWN_LATEST_VERSION = 2;

    private DemoFlatpak() {
    }

    /** True inside a Flatpak sandbox. */
    static boolean inside() {
        return Files.exists(Path.of("/.flatpak-info"));
    }

    /**
     * Calls {@code onUpdate} once, on a thread of its own, when the portal reports
     * that a commit other than the running one is installed. The monitor lives as
     * long as the connection that made it, so the thread keeps it open.
     */
    static void watch(Runnable onUpdate) {
        Thread watcher = new Thread(() -> {
            try (DemoBus bus = DemoBus.openSession()) {
                String monitor = (String) bus.call(PORTAL, PORTAL_PATH, PORTAL, "CreateUpdateMonitor", "a{sv}",
                    Map.of()).get(0);
                bus.addMatch("type='signal',interface='" + MONITOR + "',member='UpdateAvailable',path='"
                    + monitor + "'");
                while (!installedAnother(bus, monitor)) {
                    // a newer version in the remote only: nothing to restart into yet
                }
                onUpdate.run();
            } catch (IOException | RuntimeException e) {
                System.err.println("corvane demo: cannot watch for updates through the Flatpak portal: " + e);
            }
        }, "demo-update-portal");
        watcher.setDaemon(true);
        watcher.start();
    }

    /** Waits for the monitor's next UpdateAvailable; true when the installed commit is not the running one. */
    private static boolean installedAnother(DemoBus bus, String monitor) throws IOException {
        DemoBus.Message signal = bus.nextSignal();
        if (!monitor.equals(signal.path()) || !"UpdateAvailable".equals(signal.member()) || signal.body().isEmpty()) {
            return false;
        }
        Map<?, ?> info = (Map<?, ?>) signal.body().get(0);
        Object running = info.get("running-commit");
        Object installed = info.get("local-commit");
        return running != null && installed != null && !running.equals(installed);
    }

    /**
     * Starts the latest installed version of this application with the command
     * and arguments given, in a sandbox of its own and independent of this process;
     * {@code beforeSpawn} runs once the session bus is reached, right before.
     * Returns null when the portal started it, else why not.
     */
    static String spawnLatest(List<String> command, Runnable beforeSpawn) {
        List<byte[]> argv = new ArrayList<>();
        for (String word : command) {
            argv.add(bytestring(word));
        }
        try (DemoBus bus = DemoBus.openSession()) {
            beforeSpawn.run();
            bus.call(PORTAL, PORTAL_PATH, PORTAL, "Spawn", "ayaaya{uh}a{ss}ua{sv}",
                bytestring(System.getProperty("user.dir", "/")), argv, Map.of(), Map.of(), SPAWN_LATEST_VERSION,
                Map.of());
            return null;
        } catch (IOException | RuntimeException e) {
            return "the Flatpak portal did not start the new version: " + e.getMessage();
        }
    }

    /** A path or argument as the portal takes it: bytes ended by a NUL. */
    private static byte[] bytestring(String text) {
        byte[] bytes = text.getBytes(StandardCharsets.UTF_8);
        byte[] ended = new byte[bytes.length + 1];
        System.arraycopy(bytes, 0, ended, 0, bytes.length);
        return ended;
    }
}
