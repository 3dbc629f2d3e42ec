// A failure the user can act on; its message becomes the tool's one line on stderr.
package com.vellumbry.corvane.ship;

final class Failure extends RuntimeException {
    private static final long serialVersionUID = 1L;

    Failure(String message) {
        super(message, null, false, false);
    }
}
