package com.vellumbry.corvane.api;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.net.StandardProtocolFamily;
import java.net.UnixDomainSocketAddress;
import java.nio.ByteBuffer;
import java.nio.channels.FileChannel;
import java.nio.channels.FileLock;
import java.nio.channels.SelectionKey;
import java.nio.channels.Selector;
import java.nio.channels.ServerSocketChannel;
import java.nio.channels.SocketChannel;
import java.nio.charset.StandardCharsets;
import java.nio.file.FileAlreadyExistsException;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.StandardOpenOption;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.Objects;
import java.util.Set;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.function.BooleanSupplier;

/**
 * One instance per user of an application that the corvane launcher starts.
 *
 * <p>When the install tree's record ({@code lib/corvane-tree.txt}, made by
 * {@code tools/assemble-tree --single-instance}) holds {@code single-instance=yes}
 * (or {@code raise}), a second start of the launcher does not create a VM: it hands
 * its working directory and arguments to the running instance and ends with status 0.
 * This class is that instance's side: {@link #listen} makes this process answer those
 * starts. An application that never listens is answered for by the entry bridge
 * ({@link #answerWithoutListener}), so that no second start waits for it. Compile against it and ship it in the application's own jar
 * ({@code build/api/corvane-api.jar}); it needs Java 16 or newer and nothing else.
 *
 * <p>The socket is {@code $XDG_RUNTIME_DIR/corvane/<name>.socket}, where the
 * name is the record's {@code name}; {@code XDG_RUNTIME_DIR} must be an absolute
 * directory of the user's with mode 0700. The process listens only while it holds
 * the lock on {@code <name>.lock} next to it (the launcher's start takes one lock
 * on the file; this class takes a second through {@link FileChannel#tryLock}, so
 * that of two processes only one listens, also under plain {@code java} with
 * {@code -Dcorvane.jars.path=<tree>/lib/}). A socket file left by an ended
 * process is replaced; the socket file is removed when the process ends normally.
 *
 * <p>The request a start sends: the line {@code corvane-instance 1}, a line
 * with the number of strings that follow, then the working directory and every
 * argument of the start from the program path on, each ended by a NUL byte. The
 * answer {@code ok} and a line feed says the start was taken (a listener's call is
 * queued, or the window was raised); {@code none} and a line feed says that this
 * instance has no listener, and the start goes on as a normal start.
 */
public final class SingleInstance {

    /** What the running instance is told of a second start. */
    @FunctionalInterface
    public interface Listener {
        /**
         * A second start of the application, called on a thread of this class's
         * own, one call after the other, in the order the starts came (a Swing
         * application hops to the event dispatch thread with
         * {@code SwingUtilities.invokeLater}).
         *
         * @param workingDirectory the second start's working directory (resolve
         *                         its relative paths against it, not against this process's)
         * @param arguments        its own arguments: without the program path and the
         *                         launcher's flags, as the application's first start gets them
         */
        void opened(Path workingDirectory, List<String> arguments);
    }

    static final String HEADER = "corvane-instance 1";
    private static final byte[] ANSWER = "ok\n".getBytes(StandardCharsets.US_ASCII);
    private static final byte[] NO_LISTENER = "none\n".getBytes(StandardCharsets.US_ASCII);
    private static final long READ_NANOS = 2_000_000_000L;
    private static final int MAX_REQUEST_BYTES = 8 << 20;
    private static final int SOCKET_TYPE = 0140000;
    private static final System.Logger LOG = System.getLogger(SingleInstance.class.getName());

    // The launcher's flags, which a start passes on with the application's own arguments: the
    // flags of api/contract.txt (the API runs inside applications, away from that file; a test
    // checks that these are its flags).
    private static final String WAIT_FOR_PID = "--wait-for-pid";
    private static final String JVM_ARGS_PREFIX = "--jvm-args=";
    private static final Set<String> FLAGS = Set.of("--version", "--log-native-to-stdout", "--install",
            "--kill-wait-for-pid-target-on-timeout", "--print-jvm-options");

    // Set for good by stopAnswering: this process never answers again.
    private static boolean stopped;
    // The socket and its channel while this process answers (null otherwise).
    private static Path socketFile;
    private static ServerSocketChannel server;
    // The application's listener, once it has one; until then starts get NO_LISTENER,
    // or the window raised when the record asks for that.
    private static volatile Listener listening;
    private static volatile BooleanSupplier raise;
    // Kept for the process's life: closing the channel would release the lock.
    private static FileChannel lockChannel;

    private SingleInstance() {
    }

    /**
     * Makes this process answer the second starts of its application. Call it
     * once, early; once a call has returned true, later calls change nothing
     * (the first listener stays) and return true.
     *
     * @return true when this process now answers second starts; false when the
     *         tree does not ask for one instance, when another process answers them
     *         already, or when the socket cannot be made (the reason is logged
     *         through {@link System.Logger})
     */
    public static synchronized boolean listen(Listener listener) {
        Objects.requireNonNull(listener, "listener");
        if (listening != null) {
            return true;
        }
        if (server == null && !answer()) {
            return false;
        }
        listening = listener;
        return true;
    }

    /**
     * Makes this process answer the second starts of an application that has no
     * listener (the entry bridge calls it before the application's {@code main}):
     * a second start then goes on at once as a normal start instead of waiting for a
     * listener that never comes; when the record holds {@code single-instance=raise},
     * {@code raiseWindow} runs first, and when it returns true (a window came to the
     * front) the second start ends. A later {@link #listen} takes the starts over.
     *
     * @return true when this process now answers second starts
     */
    public static synchronized boolean answerWithoutListener(BooleanSupplier raiseWindow) {
        Objects.requireNonNull(raiseWindow, "raiseWindow");
        if (server == null && !answer()) {
            return false;
        }
        if ("raise".equals(TreeRecordFile.ofRunningTree().get("single-instance"))) {
            raise = raiseWindow;
        }
        return true;
    }

    /**
     * Stops answering second starts, for an instance that ends after it started the next one
     * itself (a restart into a new version): the socket goes, so that every start from now on,
     * the next instance's own too, finds no instance to hand over to and waits for the instance
     * lock, which this process keeps until it ends. Without this, a start could be handed to this
     * ending process and be lost. {@link #listen} returns false after it. Does nothing in a
     * process that does not answer.
     */
    public static synchronized void stopAnswering() {
        stopped = true;
        if (server == null) {
            return;
        }
        try {
            server.close();
        } catch (IOException e) {
            LOG.log(System.Logger.Level.WARNING, "cannot close the socket " + socketFile + ": " + e);
        }
        removeSocket(socketFile);
        server = null;
        listening = null;
        raise = null;
    }

    /** Takes the lock and the socket and answers starts from now on; false, with the reason logged, when not. */
    private static boolean answer() {
        if (stopped) {
            LOG.log(System.Logger.Level.DEBUG, "this process stopped answering second starts");
            return false;
        }
        String name = applicationName();
        if (name == null) {
            LOG.log(System.Logger.Level.DEBUG, "the tree does not ask for one instance");
            return false;
        }
        Path folder = socketFolder();
        if (folder == null) {
            return false;
        }
        try {
            if (!lock(folder.resolve(name + ".lock"))) {
                LOG.log(System.Logger.Level.DEBUG, "another process answers the starts of " + name);
                return false;
            }
            Path socket = folder.resolve(name + ".socket");
            ServerSocketChannel channel = bind(socket);
            socketFile = socket;
            server = channel;
            Runtime.getRuntime().addShutdownHook(new Thread(SingleInstance::stopAnswering, "corvane-single-instance-end"));
            Thread acceptor = new Thread(() -> acceptStarts(channel), "corvane-single-instance");
            acceptor.setDaemon(true);
            acceptor.start();
            return true;
        } catch (IOException | RuntimeException e) {
            LOG.log(System.Logger.Level.WARNING, "cannot answer the second starts of " + name + ": " + e);
            unlock();
            return false;
        }
    }

    /** The application's own arguments of a start: without the program path and the launcher's flags. */
    static List<String> applicationArguments(List<String> processArguments) {
        List<String> own = new ArrayList<>();
        for (int i = 1; i < processArguments.size(); i++) {
            String argument = processArguments.get(i);
            if (argument.equals(WAIT_FOR_PID)) {
                i++; // the pid belongs to the flag
            } else if (!FLAGS.contains(argument) && !argument.startsWith(JVM_ARGS_PREFIX)) {
                own.add(argument);
            }
        }
        return List.copyOf(own);
    }

    /** The strings of a whole request (working directory first), or null while it is incomplete or unlike one. */
    static List<String> parseRequest(byte[] bytes, int length) {
        int header = indexOf(bytes, 0, length, (byte) '\n');
        int countEnd = header < 0 ? -1 : indexOf(bytes, header + 1, length, (byte) '\n');
        if (countEnd < 0 || !new String(bytes, 0, header, StandardCharsets.US_ASCII).equals(HEADER)) {
            return null;
        }
        String countText = new String(bytes, header + 1, countEnd - header - 1, StandardCharsets.US_ASCII);
        if (!countText.matches("[1-9][0-9]{0,6}")) {
            return null;
        }
        int count = Integer.parseInt(countText);
        List<String> strings = new ArrayList<>();
        int start = countEnd + 1;
        while (strings.size() < count) {
            int end = indexOf(bytes, start, length, (byte) 0);
            if (end < 0) {
                return null;
            }
            strings.add(new String(bytes, start, end - start, StandardCharsets.UTF_8));
            start = end + 1;
        }
        return start == length ? strings : null;
    }

    private static int indexOf(byte[] bytes, int from, int length, byte wanted) {
        for (int i = from; i < length; i++) {
            if (bytes[i] == wanted) {
                return i;
            }
        }
        return -1;
    }

    /** $XDG_RUNTIME_DIR/corvane, made when missing; null unless both are the user's own. */
    private static Path socketFolder() {
        String runtime = System.getenv("XDG_RUNTIME_DIR");
        try {
            if (runtime == null || !Path.of(runtime).isAbsolute() || !isPrivateFolder(Path.of(runtime), true)) {
                LOG.log(System.Logger.Level.INFO, "XDG_RUNTIME_DIR is not a private absolute folder: " + runtime);
                return null;
            }
            Path folder = Path.of(runtime, "corvane");
            try {
                Files.createDirectory(folder, PosixFilePermissions.asFileAttribute(PosixFilePermissions.fromString("rwx------")));
            } catch (FileAlreadyExistsException e) {
                // made by the launcher or an earlier instance
            }
            return isPrivateFolder(folder, false) ? folder : null;
        } catch (IOException | RuntimeException e) {
            LOG.log(System.Logger.Level.WARNING, "cannot use XDG_RUNTIME_DIR " + runtime + ": " + e);
            return null;
        }
    }

    private static boolean isPrivateFolder(Path folder, boolean mode0700) throws IOException {
        if (!Files.isDirectory(folder, LinkOption.NOFOLLOW_LINKS)) {
            return false;
        }
        Map<String, Object> attributes = Files.readAttributes(folder, "unix:uid,mode", LinkOption.NOFOLLOW_LINKS);
        return attributes.get("uid").equals(ownUid()) && (!mode0700 || ((Integer) attributes.get("mode") & 07777) == 0700);
    }

    private static Object ownUid() throws IOException {
        return Files.getAttribute(Path.of("/proc/self"), "unix:uid");
    }

    /** The record's name when it also asks for one instance and the name is valid; else null. */
    private static String applicationName() {
        Map<String, String> record = TreeRecordFile.ofRunningTree();
        String name = record.get("name");
        boolean one = Set.of("yes", "raise").contains(record.getOrDefault("single-instance", ""));
        return one && TreeRecordFile.isApplicationName(name) ? name : null;
    }

    private static boolean lock(Path file) throws IOException {
        FileChannel channel = FileChannel.open(file, Set.of(StandardOpenOption.CREATE, StandardOpenOption.WRITE,
                LinkOption.NOFOLLOW_LINKS), PosixFilePermissions.asFileAttribute(PosixFilePermissions.fromString("rw-------")));
        FileLock lock = channel.tryLock();
        if (lock == null) {
            channel.close();
            return false;
        }
        lockChannel = channel;
        return true;
    }

    private static void unlock() {
        try {
            if (lockChannel != null) {
                lockChannel.close();
            }
        } catch (IOException ignored) {
            // the lock goes with the process anyway
        }
        lockChannel = null;
    }

    /** Binds the socket; a socket file there is an ended instance's (this process holds the lock). */
    private static ServerSocketChannel bind(Path socket) throws IOException {
        if (Files.exists(socket, LinkOption.NOFOLLOW_LINKS)) {
            int mode = (Integer) Files.getAttribute(socket, "unix:mode", LinkOption.NOFOLLOW_LINKS);
            if ((mode & 0170000) != SOCKET_TYPE) {
                throw new IOException(socket + " is not a socket; not replacing it");
            }
            Files.delete(socket);
        }
        ServerSocketChannel channel = ServerSocketChannel.open(StandardProtocolFamily.UNIX);
        channel.bind(UnixDomainSocketAddress.of(socket));
        return channel;
    }

    private static void removeSocket(Path socket) {
        try {
            Files.deleteIfExists(socket);
        } catch (IOException ignored) {
            // the next instance replaces it
        }
    }

    private static void acceptStarts(ServerSocketChannel channel) {
        ExecutorService calls = Executors.newSingleThreadExecutor(task -> {
            Thread thread = new Thread(task, "corvane-single-instance-opened");
            thread.setDaemon(true);
            return thread;
        });
        while (channel.isOpen()) {
            try (SocketChannel start = channel.accept()) {
                List<String> strings = readRequest(start);
                if (strings == null) {
                    LOG.log(System.Logger.Level.WARNING, "a start sent no whole request; ignored");
                    continue;
                }
                start.write(ByteBuffer.wrap(take(strings, calls) ? ANSWER : NO_LISTENER));
            } catch (IOException | RuntimeException e) {
                if (channel.isOpen()) {
                    LOG.log(System.Logger.Level.WARNING, "a second start failed: " + e);
                }
            }
        }
    }

    /** Passes a start to the listener, else raises the window when asked; false when neither took it. */
    private static boolean take(List<String> strings, ExecutorService calls) {
        Listener listener = listening;
        if (listener != null) {
            Path workingDirectory = Path.of(strings.get(0));
            List<String> arguments = applicationArguments(strings.subList(1, strings.size()));
            calls.execute(() -> listener.opened(workingDirectory, arguments));
            return true;
        }
        BooleanSupplier raiseWindow = raise;
        return raiseWindow != null && raiseWindow.getAsBoolean();
    }

    /** Reads one request within a bounded time: a stuck client cannot hold the next start up for long. */
    private static List<String> readRequest(SocketChannel start) throws IOException {
        start.configureBlocking(false);
        ByteArrayOutputStream bytes = new ByteArrayOutputStream();
        ByteBuffer buffer = ByteBuffer.allocate(8192);
        long deadline = System.nanoTime() + READ_NANOS;
        try (Selector selector = Selector.open()) {
            start.register(selector, SelectionKey.OP_READ);
            while (bytes.size() <= MAX_REQUEST_BYTES) {
                long left = (deadline - System.nanoTime()) / 1_000_000L;
                if (left <= 0) {
                    return null;
                }
                selector.select(left);
                selector.selectedKeys().clear();
                buffer.clear();
                int count = start.read(buffer);
                if (count < 0) {
                    return null;
                }
                bytes.write(buffer.array(), 0, count);
                byte[] all = bytes.toByteArray();
                List<String> strings = count > 0 ? parseRequest(all, all.length) : null;
                if (strings != null) {
                    return strings;
                }
            }
        }
        return null;
    }
}
