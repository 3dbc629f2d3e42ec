package com.vellumbry.corvane.demo;

import java.io.Closeable;
import java.io.IOException;
import java.net.StandardProtocolFamily;
import java.net.UnixDomainSocketAddress;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.channels.SocketChannel;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayDeque;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Deque;
import java.util.HashMap;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/**
 * A small client of the D-Bus session bus over its Unix socket: enough for the
 * Flatpak portal (method calls, match rules, signals). The JDK has no D-Bus
 * library, and the demo brings none. Values map to Java as: y Byte, b Boolean,
 * n/q Short, i/u/h Integer, x/t Long, d Double, s/o/g String, ay byte[] (when
 * sent), other arrays List, dictionaries Map, structs List, variants
 * {@link Variant} when sent and their plain value when received.
 */
final class DemoBus implements Closeable {

    /** A value sent with the type it has inside a variant. */
    record Variant(String signature, Object value) {
    }

    /** A message received: its kind, the header fields this client reads, and the body's values. */
    record Message(int type, int replySerial, String path, String iface, String member, String errorName,
                   List<Object> body) {
    }

    static final int METHOD_CALL = 1;
    static final int METHOD_RETURN = 2;
    static final int ERROR = 3;
    static final int SIGNAL = 4;

    private static final String BUS = "org.freedesktop.DBus";
    private static final String BUS_PATH = "/org/freedesktop/DBus";
    private static final int LIMIT = 1 << 27;

    private final SocketChannel channel;
    private final Deque<Message> signals = new ArrayDeque<>();
    private int serial;
    private String name;

    private DemoBus(SocketChannel channel) {
        this.channel = channel;
    }

    /** Connects to the session bus that DBUS_SESSION_BUS_ADDRESS names (unix:path=), authenticated and named. */
    static DemoBus openSession() throws IOException {
        String path = socketPath(System.getenv("DBUS_SESSION_BUS_ADDRESS"));
        if (path == null) {
            throw new IOException("no session bus at a unix:path= address (DBUS_SESSION_BUS_ADDRESS is "
                + System.getenv("DBUS_SESSION_BUS_ADDRESS") + ")");
        }
        SocketChannel channel = SocketChannel.open(StandardProtocolFamily.UNIX);
        DemoBus bus = new DemoBus(channel);
        try {
            channel.connect(UnixDomainSocketAddress.of(path));
            bus.authenticate();
            bus.name = (String) bus.call(BUS, BUS_PATH, BUS, "Hello", "").get(0);
            return bus;
        } catch (IOException | RuntimeException e) {
            bus.close();
            throw e;
        }
    }

    /** The connection's unique name on the bus. */
    String name() {
        return name;
    }

    /** The socket of the address's first unix:path= entry; null without one. */
    static String socketPath(String address) {
        if (address == null) {
            return null;
        }
        for (String entry : address.split(";")) {
            if (!entry.startsWith("unix:")) {
                continue;
            }
            for (String key : entry.substring("unix:".length()).split(",")) {
                if (key.startsWith("path=")) {
                    return unescape(key.substring("path=".length()));
                }
            }
        }
        return null;
    }

    /** Calls a method and returns its reply's values; an error reply is an IOException with its name and text. */
    List<Object> call(String destination, String path, String iface, String member, String signature,
                      Object... arguments) throws IOException {
        int sent = send(destination, path, iface, member, signature, arguments);
        while (true) {
            Message message = receive();
            if (message.type() == SIGNAL) {
                signals.add(message);
            } else if (message.replySerial() == sent && message.type() == ERROR) {
                Object text = message.body().isEmpty() ? "" : message.body().get(0);
                throw new IOException(member + " failed: " + message.errorName() + ": " + text);
            } else if (message.replySerial() == sent && message.type() == METHOD_RETURN) {
                return message.body();
            }
        }
    }

    /** Asks the bus for the messages that the match rule describes. */
    void addMatch(String rule) throws IOException {
        call(BUS, BUS_PATH, BUS, "AddMatch", "s", rule);
    }

    /** The next signal, waiting for it. */
    Message nextSignal() throws IOException {
        while (signals.isEmpty()) {
            Message message = receive();
            if (message.type() == SIGNAL) {
                signals.add(message);
            }
        }
        return signals.remove();
    }

    @Override
    public void close() throws IOException {
        channel.close();
    }

    // ---- the connection ----------------------------------------------------

    /** SASL EXTERNAL: the bus checks the socket's peer credentials against the uid sent here. */
    private void authenticate() throws IOException {
        Object uid = Files.getAttribute(Path.of("/proc/self"), "unix:uid");
        StringBuilder hex = new StringBuilder();
        for (byte b : uid.toString().getBytes(StandardCharsets.US_ASCII)) {
            hex.append(String.format("%02x", b));
        }
        write(("\0AUTH EXTERNAL " + hex + "\r\n").getBytes(StandardCharsets.US_ASCII));
        String answer = readLine();
        if (!answer.startsWith("OK ")) {
            throw new IOException("the session bus refused the authentication: " + answer);
        }
        write("BEGIN\r\n".getBytes(StandardCharsets.US_ASCII));
    }

    private String readLine() throws IOException {
        StringBuilder line = new StringBuilder();
        ByteBuffer one = ByteBuffer.allocate(1);
        while (line.length() < 512) {
            one.clear();
            if (channel.read(one) < 0) {
                throw new IOException("the session bus closed the connection");
            }
            char c = (char) one.get(0);
            if (c == '\n') {
                return line.toString().strip();
            }
            line.append(c);
        }
        throw new IOException("the session bus sent an overlong line");
    }

    private int send(String destination, String path, String iface, String member, String signature,
                     Object... arguments) throws IOException {
        DemoBusWire.Writer body = new DemoBusWire.Writer();
        List<String> types = DemoBusWire.types(signature);
        for (int i = 0; i < types.size(); i++) {
            body.value(types.get(i), arguments[i]);
        }
        Map<Integer, Variant> fields = new LinkedHashMap<>();
        fields.put(1, new Variant("o", path));
        fields.put(2, new Variant("s", iface));
        fields.put(3, new Variant("s", member));
        fields.put(6, new Variant("s", destination));
        if (!signature.isEmpty()) {
            fields.put(8, new Variant("g", signature));
        }
        serial++;
        DemoBusWire.Writer header = new DemoBusWire.Writer();
        header.bytes(new byte[] {'l', METHOD_CALL, 0, 1});
        header.u32(body.size);
        header.u32(serial);
        List<Object> structs = new ArrayList<>();
        fields.forEach((code, value) -> structs.add(List.of((byte) (int) code, value)));
        header.value("a(yv)", structs);
        header.pad(8);
        header.bytes(Arrays.copyOf(body.buffer, body.size));
        write(Arrays.copyOf(header.buffer, header.size));
        return serial;
    }

    private Message receive() throws IOException {
        ByteBuffer fixed = read(16);
        ByteOrder order = switch (fixed.get(0)) {
            case 'l' -> ByteOrder.LITTLE_ENDIAN;
            case 'B' -> ByteOrder.BIG_ENDIAN;
            default -> throw new IOException("not a D-Bus message (endianness " + fixed.get(0) + ")");
        };
        fixed.order(order);
        int type = fixed.get(1);
        int bodyLength = fixed.getInt(4);
        int fieldsLength = fixed.getInt(12);
        if (bodyLength < 0 || fieldsLength < 0 || bodyLength > LIMIT || fieldsLength > LIMIT) {
            throw new IOException("a D-Bus message too large");
        }
        int headerEnd = (16 + fieldsLength + 7) & ~7;
        ByteBuffer rest = read(headerEnd - 16 + bodyLength);
        ByteBuffer whole = ByteBuffer.allocate(16 + rest.capacity()).order(order);
        whole.put(fixed.rewind()).put(rest.rewind());
        DemoBusWire.Reader header = new DemoBusWire.Reader(whole, 12);
        Map<Integer, Object> fields = new HashMap<>();
        @SuppressWarnings("unchecked")
        List<Object> structs = (List<Object>) header.value("a(yv)");
        for (Object struct : structs) {
            List<?> field = (List<?>) struct;
            fields.put(((Byte) field.get(0)) & 0xff, field.get(1));
        }
        List<Object> body = new ArrayList<>();
        DemoBusWire.Reader values = new DemoBusWire.Reader(whole.slice(headerEnd, bodyLength).order(order), 0);
        for (String t : DemoBusWire.types((String) fields.getOrDefault(8, ""))) {
            body.add(values.value(t));
        }
        int replySerial = fields.get(5) instanceof Integer n ? n : 0;
        return new Message(type, replySerial, (String) fields.get(1), (String) fields.get(2),
            (String) fields.get(3), (String) fields.get(4), body);
    }

    private ByteBuffer read(int length) throws IOException {
        ByteBuffer buffer = ByteBuffer.allocate(length);
        while (buffer.hasRemaining()) {
            if (channel.read(buffer) < 0) {
                throw new IOException("the session bus closed the connection");
            }
        }
        return buffer.flip();
    }

    private void write(byte[] bytes) throws IOException {
        ByteBuffer buffer = ByteBuffer.wrap(bytes);
        while (buffer.hasRemaining()) {
            channel.write(buffer);
        }
    }

    /** A D-Bus address value with its %xx escapes undone. */
    private static String unescape(String value) {
        StringBuilder text = new StringBuilder();
        for (int i = 0; i < value.length(); i++) {
            char c = value.charAt(i);
            if (c == '%' && i + 2 < value.length()) {
                text.append((char) Integer.parseInt(value.substring(i + 1, i + 3), 16));
                i += 2;
            } else {
                text.append(c);
            }
        }
        return text.toString();
    }
}
