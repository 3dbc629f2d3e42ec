package com.vellumbry.corvane.api;

/**
 * What an application implements so that the launcher can start it. The launcher
 * creates the VM on a thread of its own, loads {@link #CLASS_NAME} from the tree's
 * class path and calls its {@code public static int} {@link #METHOD_NAME}{@code (String[])}
 * on that thread with every argument of the process (the launcher's own flags
 * included). The method must return promptly:
 * <ul>
 * <li>{@link #STARTED}: the application runs on threads of its own; the process lives
 * until the VM ends (the application calls {@code System.exit});</li>
 * <li>{@link #EXIT_NOW}: the launcher ends the process with status 0 at once;</li>
 * <li>above 1: a failed start; the launcher reports it and ends with that status
 * (2 is read as a failed call; use 3 or above).</li>
 * </ul>
 * An exception left pending is a failed start too. A tree whose jars hold no such
 * class gets the entry bridge, which implements it by calling the application's
 * {@code main}, as {@code java} does.
 */
public final class EntryContract {

    /** The entry class's binary name. */
    public static final String CLASS_NAME = "com.vellumbry.corvane.entry.CorvaneProcessEarlyEntry";

    /** The entry method's name. */
    public static final String METHOD_NAME = "startCorvane";

    /** The application runs on threads of its own. */
    public static final int STARTED = 0;

    /** The launcher ends the process with status 0. */
    public static final int EXIT_NOW = 1;

    private EntryContract() {
    }
}
