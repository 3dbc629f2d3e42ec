// What a shipping tool says on stderr: progress (unless quiet), notes, and the one
// line of a failure. Every line starts with the tool's name.
package com.vellumbry.corvane.ship;

final class Console {
    private final String program;
    private volatile boolean quiet;

    Console(String program) {
        this.program = program;
    }

    String program() {
        return program;
    }

    void quiet(boolean value) {
        quiet = value;
    }

    /** Progress and notes: left out with --quiet. */
    void say(String text) {
        if (!quiet) {
            line(text);
        }
    }

    /** The tool's closing line and failures: always shown. */
    void line(String text) {
        System.err.println(program + ": " + oneLine(text));
    }

    static Failure fail(String message) {
        return new Failure(message);
    }

    static String oneLine(String text) {
        return text == null ? "" : text.replace('\n', ' ').replace('\r', ' ').strip();
    }
}
