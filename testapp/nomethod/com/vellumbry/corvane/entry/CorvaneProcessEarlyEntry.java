package com.vellumbry.corvane.entry;

/** An entry class whose startCorvane has the wrong signature (void, not int). */
public final class CorvaneProcessEarlyEntry {
    private CorvaneProcessEarlyEntry() {
    }

    public static void startCorvane(String[] args) {
    }
}
