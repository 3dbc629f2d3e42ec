package com.vellumbry.corvane.bridge;

import java.lang.management.ManagementFactory;
import java.lang.management.ThreadMXBean;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.atomic.AtomicBoolean;

/**
 * Ends the process as java does once main has returned: when the last non-daemon
 * thread has ended, with status 1 if main threw, else 0. The launcher never destroys
 * the VM, so nothing else would end it.
 */
final class ExitWatcher {

    /** How long to wait for the launcher's thread to return from the entry and leave the VM. */
    private static final long ENTRY_THREAD_WAIT_MILLIS = 10_000;

    /** How soon to look again when the VM counts a thread the list does not show yet. */
    private static final long RECHECK_MILLIS = 10;

    private ExitWatcher() {
    }

    static void start(Thread entryThread, AtomicBoolean mainFailed) {
        Thread watcher = new Thread(() -> awaitAndExit(entryThread, mainFailed), "corvane-exit-watcher");
        watcher.setDaemon(true);
        watcher.start();
    }

    private static void awaitAndExit(Thread entryThread, AtomicBoolean mainFailed) {
        join(entryThread, ENTRY_THREAD_WAIT_MILLIS);
        ThreadMXBean counts = null;
        while (true) {
            List<Thread> alive = nonDaemonThreads(entryThread);
            for (Thread thread : alive) {
                join(thread, 0);
            }
            if (alive.isEmpty()) {
                // A thread that has only just started may be missing from the list,
                // but the VM's own count has it.
                if (counts == null) {
                    counts = ManagementFactory.getThreadMXBean();
                }
                int others = counts.getThreadCount() - counts.getDaemonThreadCount() - (entryThread.isAlive() ? 1 : 0);
                if (others <= 0) {
                    break;
                }
                pause(RECHECK_MILLIS);
            }
        }
        System.exit(mainFailed.get() ? 1 : 0);
    }

    private static void pause(long millis) {
        try {
            Thread.sleep(millis);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    /** The live non-daemon threads but this one and the launcher's. */
    private static List<Thread> nonDaemonThreads(Thread entryThread) {
        Thread self = Thread.currentThread();
        ThreadGroup root = self.getThreadGroup();
        while (root.getParent() != null) {
            root = root.getParent();
        }
        Thread[] threads = new Thread[root.activeCount() + 16];
        int count;
        while ((count = root.enumerate(threads, true)) == threads.length) {
            threads = new Thread[threads.length * 2];
        }
        List<Thread> alive = new ArrayList<>();
        for (Thread thread : Arrays.copyOf(threads, count)) {
            if (thread != self && thread != entryThread && !thread.isDaemon() && thread.isAlive()) {
                alive.add(thread);
            }
        }
        return alive;
    }

    private static void join(Thread thread, long millis) {
        boolean interrupted = false;
        while (true) {
            try {
                thread.join(millis);
                break;
            } catch (InterruptedException e) {
                interrupted = true;
            }
        }
        if (interrupted) {
            Thread.currentThread().interrupt();
        }
    }
}
