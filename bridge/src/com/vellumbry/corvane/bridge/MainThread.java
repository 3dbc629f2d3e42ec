package com.vellumbry.corvane.bridge;

/**
 * The thread that runs main. AWT's X11 toolkit names windows (WM_CLASS) after the
 * class of the bottom frame of the thread that starts it; with java that is the main
 * class. The tree's bridge jar holds a tiny Thread subclass of the main class's name,
 * defined here in a loader of its own, so that the bottom frame carries that name.
 */
final class MainThread {

    private MainThread() {
    }

    static Thread create(String mainClassName, byte[] namedThreadClass, Runnable body) {
        Thread thread = namedThread(mainClassName, namedThreadClass, body);
        if (thread == null) {
            thread = new Thread(body, "main");
        }
        thread.setDaemon(false);
        thread.setContextClassLoader(ClassLoader.getSystemClassLoader());
        return thread;
    }

    private static Thread namedThread(String name, byte[] classBytes, Runnable body) {
        if (classBytes == null) {
            return null;
        }
        try {
            Class<?> type = new DefiningLoader().define(name, classBytes);
            return (Thread) type.getConstructor(Runnable.class, String.class).newInstance(body, "main");
        } catch (ReflectiveOperationException | LinkageError | ClassCastException | SecurityException e) {
            System.err.println("corvane bridge: the main thread keeps the default window class: " + e);
            return null;
        }
    }

    /** Defines the named thread class apart from the application's own class of that name. */
    private static final class DefiningLoader extends ClassLoader {
        DefiningLoader() {
            super("corvane-main-thread", ClassLoader.getSystemClassLoader());
        }

        Class<?> define(String name, byte[] bytes) {
            return defineClass(name, bytes, 0, bytes.length);
        }
    }
}
