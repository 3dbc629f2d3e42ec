// The checks the shipping program's tests share: each failure is printed and counted.
package com.vellumbry.corvane.ship;

final class Checks {
    private static int failures;

    private Checks() {
    }

    static void check(boolean ok, String what) {
        if (!ok) {
            failures++;
            System.out.println("FAIL: " + what);
        }
    }

    static void same(String actual, String wanted, String what) {
        check(actual.equals(wanted), what + ":\n--- got\n" + actual + "\n--- wanted\n" + wanted);
    }

    static int failures() {
        return failures;
    }
}
