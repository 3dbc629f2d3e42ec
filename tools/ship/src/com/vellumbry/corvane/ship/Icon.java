// The application's icon for the hicolor theme: an SVG as it is, a square PNG at one of
// the theme's standard sizes (a PNG of another size is scaled down to the next one).
package com.vellumbry.corvane.ship;

import java.awt.Graphics2D;
import java.awt.RenderingHints;
import java.awt.image.BufferedImage;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;
import java.util.List;
import javax.imageio.ImageIO;

/** @param folder the theme's folder ("scalable", "48x48"), @param extension "svg" or "png" */
record Icon(String folder, String extension, byte[] data) {
    static final List<Integer> SIZES = List.of(16, 22, 24, 32, 48, 64, 128, 256, 512);
    private static final byte[] PNG = {(byte) 0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

    static Icon read(Path file, Console console) {
        byte[] data;
        try {
            data = Files.readAllBytes(file);
        } catch (IOException e) {
            throw Console.fail("icon not found or not readable: " + file);
        }
        String name = file.getFileName().toString().toLowerCase(java.util.Locale.ROOT);
        if (name.endsWith(".svg")) {
            return new Icon("scalable", "svg", data);
        }
        if (!name.endsWith(".png")) {
            throw Console.fail("icon must be a .png or .svg file: " + file);
        }
        if (data.length < 24 || !Arrays.equals(Arrays.copyOf(data, 8), PNG)) {
            throw Console.fail("icon is not a PNG file: " + file);
        }
        int width = ByteBuffer.wrap(data, 16, 4).getInt();
        int height = ByteBuffer.wrap(data, 20, 4).getInt();
        if (width != height) {
            throw Console.fail("icon is not square (" + width + "x" + height + "): " + file);
        }
        if (SIZES.contains(width)) {
            return new Icon(width + "x" + width, "png", data);
        }
        int size = SIZES.stream().filter(s -> s < width).reduce((a, b) -> b)
                .orElseThrow(() -> Console.fail("icon is " + width + "x" + width + ", smaller than the theme's smallest size 16x16: " + file));
        console.say("icon " + width + "x" + width + " is no hicolor size: scaled to " + size + "x" + size);
        return new Icon(size + "x" + size, "png", scaled(data, size, file));
    }

    private static byte[] scaled(byte[] png, int size, Path file) {
        try {
            BufferedImage source = ImageIO.read(new java.io.ByteArrayInputStream(png));
            if (source == null) {
                throw Console.fail("icon is not a PNG file: " + file);
            }
            BufferedImage target = new BufferedImage(size, size, BufferedImage.TYPE_INT_ARGB);
            Graphics2D g = target.createGraphics();
            g.setRenderingHint(RenderingHints.KEY_INTERPOLATION, RenderingHints.VALUE_INTERPOLATION_BICUBIC);
            g.drawImage(source, 0, 0, size, size, null);
            g.dispose();
            ByteArrayOutputStream out = new ByteArrayOutputStream();
            ImageIO.write(target, "png", out);
            return out.toByteArray();
        } catch (IOException e) {
            throw Console.fail("cannot scale the icon " + file + ": " + e.getMessage());
        }
    }
}
