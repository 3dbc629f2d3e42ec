package com.vellumbry.corvane.bench;

import com.vellumbry.corvane.entry.CorvaneProcessEarlyEntry;

/**
 * The main class that the stock "java" launcher runs in the benchmarks: it calls
 * the application's entry method the way corvane does and acts on its result
 * the same way (0: the application runs on; 1: exit with 0; a negative value:
 * exit with 255; anything else: exit with that value).
 */
public final class JavaMain {
    private JavaMain() {
    }

    public static void main(String[] args) {
        int result = CorvaneProcessEarlyEntry.startCorvane(args);
        if (result == 0) {
            return;
        }
        System.exit(result == 1 ? 0 : result < 0 ? 255 : result);
    }
}
