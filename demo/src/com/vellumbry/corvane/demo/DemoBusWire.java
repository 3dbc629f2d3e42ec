package com.vellumbry.corvane.demo;

import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/**
 * The D-Bus wire format for DemoBus: signatures split into their types, and
 * values marshalled (little-endian) and unmarshalled (in either byte order),
 * each aligned to its type's boundary.
 */
final class DemoBusWire {

    private DemoBusWire() {
    }

    /** The single complete types of a signature, in order. */
    static List<String> types(String signature) {
        List<String> types = new ArrayList<>();
        for (int i = 0; i < signature.length(); ) {
            int end = typeEnd(signature, i);
            types.add(signature.substring(i, end));
            i = end;
        }
        return types;
    }

    private static int typeEnd(String signature, int start) {
        char c = signature.charAt(start);
        if (c == 'a') {
            return typeEnd(signature, start + 1);
        }
        if (c != '(' && c != '{') {
            return start + 1;
        }
        int depth = 0;
        for (int i = start; i < signature.length(); i++) {
            char d = signature.charAt(i);
            if (d == '(' || d == '{') {
                depth++;
            } else if ((d == ')' || d == '}') && --depth == 0) {
                return i + 1;
            }
        }
        throw new IllegalArgumentException("unbalanced signature " + signature);
    }

    private static int alignment(char type) {
        return switch (type) {
            case 'y', 'g', 'v' -> 1;
            case 'n', 'q' -> 2;
            case 'x', 't', 'd', '(', '{' -> 8;
            default -> 4;
        };
    }

    /** The members of a struct or dictionary entry type. */
    private static List<String> members(String type) {
        return types(type.substring(1, type.length() - 1));
    }

    /** Marshals values little-endian; alignment counts from the buffer's start, which is 8-aligned in the message. */
    static final class Writer {
        byte[] buffer = new byte[256];
        int size;

        void pad(int alignment) {
            while (size % alignment != 0) {
                bytes(new byte[] {0});
            }
        }

        void bytes(byte[] bytes) {
            if (size + bytes.length > buffer.length) {
                buffer = Arrays.copyOf(buffer, Math.max(buffer.length * 2, size + bytes.length));
            }
            System.arraycopy(bytes, 0, buffer, size, bytes.length);
            size += bytes.length;
        }

        void u32(int value) {
            pad(4);
            bytes(ByteBuffer.allocate(4).order(ByteOrder.LITTLE_ENDIAN).putInt(value).array());
        }

        private void text(String text, boolean signature) {
            byte[] bytes = text.getBytes(StandardCharsets.UTF_8);
            if (signature) {
                bytes(new byte[] {(byte) bytes.length});
            } else {
                u32(bytes.length);
            }
            bytes(bytes);
            bytes(new byte[] {0});
        }

        void value(String type, Object value) {
            char c = type.charAt(0);
            pad(alignment(c));
            switch (c) {
                case 'y' -> bytes(new byte[] {((Number) value).byteValue()});
                case 'b' -> u32((Boolean) value ? 1 : 0);
                case 'n', 'q' -> bytes(ByteBuffer.allocate(2).order(ByteOrder.LITTLE_ENDIAN)
                    .putShort(((Number) value).shortValue()).array());
                case 'i', 'u', 'h' -> u32(((Number) value).intValue());
                case 'x', 't' -> bytes(ByteBuffer.allocate(8).order(ByteOrder.LITTLE_ENDIAN)
                    .putLong(((Number) value).longValue()).array());
                case 'd' -> bytes(ByteBuffer.allocate(8).order(ByteOrder.LITTLE_ENDIAN)
                    .putDouble(((Number) value).doubleValue()).array());
                case 's', 'o' -> text((String) value, false);
                case 'g' -> text((String) value, true);
                case 'v' -> {
                    DemoBus.Variant variant = (DemoBus.Variant) value;
                    text(variant.signature(), true);
                    value(variant.signature(), variant.value());
                }
                case 'a' -> array(type.substring(1), value);
                case '(' -> {
                    List<String> members = members(type);
                    List<?> items = (List<?>) value;
                    for (int i = 0; i < members.size(); i++) {
                        value(members.get(i), items.get(i));
                    }
                }
                default -> throw new IllegalArgumentException("type " + type + " is not marshalled here");
            }
        }

        private void array(String element, Object value) {
            u32(0);
            int lengthAt = size - 4;
            pad(alignment(element.charAt(0)));
            int start = size;
            if (value instanceof byte[] bytes) {
                bytes(bytes);
            } else if (element.charAt(0) == '{') {
                List<String> entry = members(element);
                for (Map.Entry<?, ?> item : ((Map<?, ?>) value).entrySet()) {
                    pad(8);
                    value(entry.get(0), item.getKey());
                    value(entry.get(1), item.getValue());
                }
            } else {
                for (Object item : (List<?>) value) {
                    value(element, item);
                }
            }
            ByteBuffer.wrap(buffer, lengthAt, 4).order(ByteOrder.LITTLE_ENDIAN).putInt(size - start);
        }
    }

    /** Unmarshals values from a buffer in the message's byte order, aligned from the buffer's start. */
    static final class Reader {
        private final ByteBuffer buffer;

        Reader(ByteBuffer buffer, int position) {
            this.buffer = buffer;
            buffer.position(position);
        }

        private void align(int alignment) {
            buffer.position((buffer.position() + alignment - 1) / alignment * alignment);
        }

        private String text(int length) {
            byte[] bytes = new byte[length];
            buffer.get(bytes);
            buffer.get(); // the terminating NUL
            return new String(bytes, StandardCharsets.UTF_8);
        }

        Object value(String type) {
            char c = type.charAt(0);
            align(alignment(c));
            return switch (c) {
                case 'y' -> buffer.get();
                case 'b' -> buffer.getInt() != 0;
                case 'n', 'q' -> buffer.getShort();
                case 'i', 'u', 'h' -> buffer.getInt();
                case 'x', 't' -> buffer.getLong();
                case 'd' -> buffer.getDouble();
                case 's', 'o' -> text(buffer.getInt());
                case 'g' -> text(buffer.get() & 0xff);
                case 'v' -> value(text(buffer.get() & 0xff));
                case 'a' -> array(type.substring(1));
                case '(' -> {
                    List<Object> items = new ArrayList<>();
                    for (String member : members(type)) {
                        items.add(value(member));
                    }
                    yield items;
                }
                default -> throw new IllegalArgumentException("type " + type + " is not read here");
            };
        }

        private Object array(String element) {
            int length = buffer.getInt();
            align(alignment(element.charAt(0)));
            int end = buffer.position() + length;
            if (element.charAt(0) == '{') {
                List<String> entry = members(element);
                Map<Object, Object> map = new LinkedHashMap<>();
                while (buffer.position() < end) {
                    align(8);
                    map.put(value(entry.get(0)), value(entry.get(1)));
                }
                return map;
            }
            List<Object> items = new ArrayList<>();
            while (buffer.position() < end) {
                items.add(value(element));
            }
            return items;
        }
    }
}
