package com.vellumbry.corvane.entry;

/** The probe runs' entry: it asks the launcher to end with status 0 at once. */
public final class CorvaneProcessEarlyEntry {
    public static int startCorvane(String[] args) {
        return 1;
    }
}
