package com.vellumbry.corvane.demo;

import java.io.IOException;
import java.nio.file.ClosedWatchServiceException;
import java.nio.file.FileSystems;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardWatchEventKinds;
import java.nio.file.WatchKey;
import java.nio.file.WatchService;

/**
 * Notices a newer version installed under the running demo. A package runs each
 * version from /opt/<name>/versions/<copy>/ through the link /opt/<name>/current,
 * which an upgrade points at the new copy: when it names another copy than this
 * process's, an update is waiting for a restart. The link's folder is watched with
 * inotify (java.nio's WatchService), so nothing polls the disk.
 */
final class DemoUpdates {

    private DemoUpdates() {
    }

    /**
     * Calls {@code onUpdate} once, on a thread of its own, when an update is installed;
     * nothing outside a package. Inside a Flatpak the portal tells (DemoFlatpak).
     */
    static void watch(Runnable onUpdate) {
        if (DemoFlatpak.inside()) {
            DemoFlatpak.watch(onUpdate);
            return;
        }
        String jars = System.getProperty("corvane.jars.path");
        if (jars == null) {
            return;
        }
        Path copy = Path.of(jars).toAbsolutePath().normalize().getParent();
        Path versions = copy == null ? null : copy.getParent();
        if (versions == null || !versions.getFileName().toString().equals("versions")
                || !Files.isSymbolicLink(versions.resolveSibling("current"))) {
            return;
        }
        Thread watcher = new Thread(() -> waitForUpdate(versions.getParent(), copy, onUpdate), "demo-update-watch");
        watcher.setDaemon(true);
        watcher.start();
    }

    private static void waitForUpdate(Path base, Path copy, Runnable onUpdate) {
        try (WatchService service = FileSystems.getDefault().newWatchService()) {
            // The link is replaced by a rename: a create event in its folder.
            base.register(service, StandardWatchEventKinds.ENTRY_CREATE, StandardWatchEventKinds.ENTRY_MODIFY);
            while (!updated(base, copy)) {
                WatchKey key = service.take();
                key.pollEvents();
                key.reset();
            }
            onUpdate.run();
        } catch (IOException | ClosedWatchServiceException e) {
            System.err.println("corvane demo: cannot watch for updates: " + e);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    /** True when current names another copy than this process's. */
    private static boolean updated(Path base, Path copy) {
        try {
            return !base.resolve("current").toRealPath().equals(copy.toRealPath());
        } catch (IOException e) {
            return false; // current is being replaced
        }
    }
}
