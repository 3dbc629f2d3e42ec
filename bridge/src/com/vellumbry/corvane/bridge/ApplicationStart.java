package com.vellumbry.corvane.bridge;

import java.io.IOException;
import java.io.InputStream;
import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.nio.charset.StandardCharsets;
import java.util.concurrent.atomic.AtomicBoolean;

/**
 * Runs the application's {@code main} on a thread named "main", as the {@code java}
 * command does, and lets {@link ExitWatcher} end the process when it would.
 */
public final class ApplicationStart {

    static final String MAIN_CLASS_RESOURCE = "META-INF/corvane-bridge/main-class";
    static final String MAIN_THREAD_RESOURCE = "META-INF/corvane-bridge/main-thread.bin";
    /** Further commands: lines "<command> <main class>"; each class's thread in threads/<class>.bin. */
    static final String COMMANDS_RESOURCE = "META-INF/corvane-bridge/commands";
    static final String THREADS_FOLDER = "META-INF/corvane-bridge/threads/";

    private ApplicationStart() {
    }

    /** Called on the launcher's thread; returns once the main thread runs. */
    public static void start(String[] processArguments) {
        HiddenHooks.hide();
        String[] arguments = FixedArguments.prepend(LauncherArguments.applicationArguments(processArguments));
        Thread entryThread = Thread.currentThread();
        byte[] nameBytes = readResource(MAIN_CLASS_RESOURCE);
        if (nameBytes == null) {
            failStart("Error: the entry bridge names no main class (" + MAIN_CLASS_RESOURCE + " is missing)", null);
        }
        String mainClassName = new String(nameBytes, StandardCharsets.UTF_8).trim();
        String threadResource = MAIN_THREAD_RESOURCE;
        String command = processArguments.length == 0 ? "" : commandName(processArguments[0]);
        String commandClass = commandClass(command);
        if (commandClass != null) {
            mainClassName = commandClass;
            threadResource = THREADS_FOLDER + commandClass + ".bin";
        }
        Method main = findMain(mainClassName);
        InstanceAnswer.start();
        AtomicBoolean mainFailed = new AtomicBoolean();
        Thread mainThread = MainThread.create(mainClassName, readResource(threadResource),
                () -> runMain(main, arguments, mainFailed));
        mainThread.start();
        ExitWatcher.start(entryThread, mainFailed);
    }

    /** The name the launcher was started as: the program path's last part (a command's link keeps its name). */
    static String commandName(String programPath) {
        return programPath.substring(programPath.lastIndexOf('/') + 1);
    }

    /** The main class of a further command of that name, or null (the tree's own main class). */
    private static String commandClass(String command) {
        byte[] table = readResource(COMMANDS_RESOURCE);
        if (table == null || command.isEmpty()) {
            return null;
        }
        for (String line : new String(table, StandardCharsets.UTF_8).split("\n")) {
            String[] fields = line.trim().split(" ");
            if (fields.length == 2 && fields[0].equals(command)) {
                return fields[1];
            }
        }
        return null;
    }

    static byte[] readResource(String name) {
        try (InputStream in = ClassLoader.getSystemResourceAsStream(name)) {
            return in == null ? null : in.readAllBytes();
        } catch (IOException e) {
            return null;
        }
    }

    /** The main method as java finds it: main(String[]), else a no-argument main; static either way. */
    private static Method findMain(String className) {
        Class<?> mainClass = null;
        try {
            mainClass = Class.forName(className, false, ClassLoader.getSystemClassLoader());
        } catch (ClassNotFoundException | LinkageError e) {
            failStart("Error: Could not find or load main class " + className, e);
        }
        Method main = staticMethod(mainClass, String[].class);
        if (main == null) {
            main = staticMethod(mainClass);
        }
        if (main == null) {
            failStart("Error: Main method not found in class " + className
                    + ", please define the main method as:\n   public static void main(String[] args)", null);
        }
        main.setAccessible(true);
        return main;
    }

    private static Method staticMethod(Class<?> type, Class<?>... parameters) {
        for (Class<?> c = type; c != null; c = c.getSuperclass()) {
            try {
                Method m = c.getDeclaredMethod("main", parameters);
                if (java.lang.reflect.Modifier.isStatic(m.getModifiers()) && m.getReturnType() == void.class) {
                    return m;
                }
            } catch (NoSuchMethodException e) {
                // look in the superclass
            }
        }
        return null;
    }

    /** An exception out of main reaches the thread's uncaught-exception handler, as with java. */
    private static void runMain(Method main, String[] arguments, AtomicBoolean mainFailed) {
        try {
            if (main.getParameterCount() == 0) {
                main.invoke(null);
            } else {
                main.invoke(null, (Object) arguments);
            }
        } catch (InvocationTargetException e) {
            mainFailed.set(true);
            throw ApplicationStart.<RuntimeException>rethrow(e.getCause());
        } catch (Throwable t) {
            mainFailed.set(true);
            throw ApplicationStart.<RuntimeException>rethrow(t);
        }
    }

    @SuppressWarnings("unchecked")
    private static <T extends Throwable> T rethrow(Throwable t) throws T {
        throw (T) t;
    }

    private static void failStart(String message, Throwable cause) {
        System.err.println(message);
        if (cause != null) {
            System.err.println("Caused by: " + cause);
        }
        System.exit(1);
    }
}
