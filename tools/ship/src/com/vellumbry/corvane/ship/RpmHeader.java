// The name, epoch, version, release and architecture of an rpm file, read from its
// header (lead, signature header, main header) without the rpm tools.
package com.vellumbry.corvane.ship;

import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.channels.FileChannel;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;

record RpmHeader(String name, long epoch, String version, String release, String arch) {
    private static final int LEAD = 96;
    private static final int HEADER_MAGIC = 0x8eade801;
    private static final int NAME = 1000;
    private static final int VERSION = 1001;
    private static final int RELEASE = 1002;
    private static final int EPOCH = 1003;
    private static final int ARCH = 1022;
    private static final String PART = "[A-Za-z0-9._+~^]+";

    /** The file name rpm gives such a package. */
    String fileName() {
        return RpmFormat.fileName(name, version, release, arch);
    }

    static RpmHeader read(Path file) {
        try (FileChannel in = FileChannel.open(file)) {
            ByteBuffer lead = read(in, 0, LEAD);
            if (lead.getInt(0) != 0xedabeedb) {
                throw Console.fail("not an rpm package: " + file);
            }
            long signature = LEAD + headerLength(in, LEAD, file);
            long main = signature + (8 - signature % 8) % 8;
            ByteBuffer header = read(in, main, (int) headerLength(in, main, file));
            int entries = header.getInt(8);
            int data = 16 + 16 * entries;
            String[] strings = new String[4];
            long epoch = 0;
            for (int i = 0; i < entries; i++) {
                int tag = header.getInt(16 + 16 * i);
                int offset = header.getInt(16 + 16 * i + 8);
                if (tag == EPOCH) {
                    epoch = Integer.toUnsignedLong(header.getInt(data + offset));
                } else if (tag == NAME || tag == VERSION || tag == RELEASE || tag == ARCH) {
                    strings[tag == ARCH ? 3 : tag - NAME] = string(header, data + offset);
                }
            }
            for (String s : strings) {
                if (s == null || s.isEmpty()) {
                    throw Console.fail("the rpm package " + file + " lacks its name, version, release or architecture");
                }
            }
            // They make the file's name in the repository: a crafted header must not lead out of it.
            if (!strings[0].matches("[A-Za-z0-9_+][A-Za-z0-9._+~^-]*") || !strings[1].matches(PART)
                    || !strings[2].matches(PART) || !strings[3].matches("[A-Za-z0-9_]+")) {
                throw Console.fail("the rpm package " + file + " has an invalid name, version, release or architecture");
            }
            return new RpmHeader(strings[0], epoch, strings[1], strings[2], strings[3]);
        } catch (IndexOutOfBoundsException e) {
            throw Console.fail("cannot read the rpm package " + file + ": its header points outside itself");
        } catch (IOException | IllegalArgumentException e) {
            throw Console.fail("cannot read the rpm package " + file + ": " + e.getMessage());
        }
    }

    /** A header's length: its 16 bytes of magic and counts, the index entries and the data. */
    private static long headerLength(FileChannel in, long at, Path file) throws IOException {
        ByteBuffer start = read(in, at, 16);
        if (start.getInt(0) != HEADER_MAGIC) {
            throw Console.fail("not an rpm package (no header at " + at + "): " + file);
        }
        return 16 + 16L * start.getInt(8) + start.getInt(12);
    }

    private static ByteBuffer read(FileChannel in, long at, int length) throws IOException {
        if (length < 0 || length > (64 << 20)) {
            throw new IllegalArgumentException("header of " + length + " bytes");
        }
        ByteBuffer buffer = ByteBuffer.allocate(length);
        while (buffer.hasRemaining()) {
            if (in.read(buffer, at + buffer.position()) < 0) {
                throw new IOException("the file ends inside its header");
            }
        }
        return buffer.flip();
    }

    private static String string(ByteBuffer header, int at) {
        int end = at;
        while (header.get(end) != 0) {
            end++;
        }
        return new String(header.array(), at, end - at, StandardCharsets.UTF_8);
    }
}
