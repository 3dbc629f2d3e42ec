package com.vellumbry.corvane.entry;

import com.vellumbry.corvane.api.EntryContract;
import com.vellumbry.corvane.bridge.ApplicationStart;

/**
 * The entry class that tools/assemble-tree puts into a tree whose jars have none:
 * it starts the application's own {@code main} the way the {@code java} command does.
 * It never returns 2 and never leaves an exception pending.
 */
public final class CorvaneProcessEarlyEntry {

    private CorvaneProcessEarlyEntry() {
    }

    public static int startCorvane(String[] args) {
        ApplicationStart.start(args);
        return EntryContract.STARTED;
    }
}
