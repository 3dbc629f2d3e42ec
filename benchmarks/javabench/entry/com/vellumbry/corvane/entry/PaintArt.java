package com.vellumbry.corvane.entry;

import java.awt.BasicStroke;
import java.awt.Color;
import java.awt.Font;
import java.awt.GradientPaint;
import java.awt.Graphics;
import java.awt.Graphics2D;
import java.awt.RenderingHints;
import java.awt.font.FontRenderContext;
import java.awt.font.LineBreakMeasurer;
import java.awt.font.TextAttribute;
import java.awt.font.TextLayout;
import java.awt.geom.AffineTransform;
import java.awt.geom.Ellipse2D;
import java.awt.geom.Path2D;
import java.awt.image.BufferedImage;
import java.io.ByteArrayInputStream;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.UncheckedIOException;
import java.text.AttributedString;
import java.util.Map;
import java.util.function.IntFunction;
import java.util.stream.IntStream;
import javax.imageio.ImageIO;
import javax.swing.Icon;
import javax.swing.ImageIcon;
import javax.swing.JComponent;

/**
 * The paint window's images and type, as an application has them: icons drawn
 * in memory, a banner that goes through PNG (as an application's bundled
 * images do), several derived fonts and a paragraph laid out with TextLayout.
 */
final class PaintArt {
    static final Font BASE = new Font(Font.SANS_SERIF, Font.PLAIN, 12);
    static final Font TITLE = BASE.deriveFont(Font.BOLD, 22f);
    static final Font SMALL = BASE.deriveFont(10f);
    static final Font ITALIC = BASE.deriveFont(Font.ITALIC, 13f);
    static final Font MONO = new Font(Font.MONOSPACED, Font.PLAIN, 12);
    static final Font SLANTED = BASE.deriveFont(AffineTransform.getShearInstance(-0.2, 0));
    static final Font TRACKED = BASE.deriveFont(Map.of(TextAttribute.TRACKING, 0.08f, TextAttribute.SIZE, 14f));

    private static final Color[] PALETTE = {new Color(0x2d6cdf), new Color(0xe0823d), new Color(0x3aa45b),
        new Color(0xc2414b), new Color(0x8a5cc7), new Color(0x3fa7b3), new Color(0xb0a23a), new Color(0x6b7280)};

    private PaintArt() {
    }

    static Color color(int i) {
        return PALETTE[Math.floorMod(i, PALETTE.length)];
    }

    /** A 16-pixel icon of the given kind and colour, drawn with anti-aliasing. */
    static Icon icon(int kind, int tint) {
        BufferedImage image = new BufferedImage(16, 16, BufferedImage.TYPE_INT_ARGB);
        Graphics2D g = smooth(image.createGraphics());
        g.setPaint(new GradientPaint(0, 0, color(tint).brighter(), 16, 16, color(tint).darker()));
        switch (Math.floorMod(kind, 3)) {
            case 0 -> g.fill(new Ellipse2D.Double(1, 1, 14, 14));
            case 1 -> g.fillRoundRect(1, 2, 14, 12, 4, 4);
            default -> {
                Path2D.Double arrow = new Path2D.Double();
                arrow.moveTo(2, 8);
                arrow.lineTo(14, 2);
                arrow.lineTo(10, 14);
                arrow.closePath();
                g.fill(arrow);
            }
        }
        g.setColor(Color.WHITE);
        g.setStroke(new BasicStroke(1.2f));
        g.drawLine(5, 8, 11, 8);
        g.dispose();
        return new ImageIcon(image);
    }

    /** Icons 0 .. n-1, made by `make`. */
    static Icon[] icons(int n, IntFunction<Icon> make) {
        return IntStream.range(0, n).mapToObj(make).toArray(Icon[]::new);
    }

    /** A banner drawn, written as PNG and read back. */
    static BufferedImage banner(int width, int height) {
        BufferedImage drawn = new BufferedImage(width, height, BufferedImage.TYPE_INT_RGB);
        Graphics2D g = smooth(drawn.createGraphics());
        g.setPaint(new GradientPaint(0, 0, color(0), width, height, color(5)));
        g.fillRect(0, 0, width, height);
        IntStream.range(0, 24).forEach(i -> {
            g.setColor(new Color(255, 255, 255, 40 + i * 4));
            g.fill(new Ellipse2D.Double(i * width / 24.0, height / 2.0 - i, 10 + i, 10 + i));
        });
        g.setFont(TITLE);
        g.setColor(Color.WHITE);
        g.drawString("Corvane paint benchmark", 16, height - 16);
        g.dispose();
        try {
            ByteArrayOutputStream png = new ByteArrayOutputStream();
            ImageIO.write(drawn, "png", png);
            return ImageIO.read(new ByteArrayInputStream(png.toByteArray()));
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    static Graphics2D smooth(Graphics g) {
        Graphics2D g2 = (Graphics2D) g;
        g2.setRenderingHint(RenderingHints.KEY_ANTIALIASING, RenderingHints.VALUE_ANTIALIAS_ON);
        g2.setRenderingHint(RenderingHints.KEY_TEXT_ANTIALIASING, RenderingHints.VALUE_TEXT_ANTIALIAS_LCD_HRGB);
        return g2;
    }

    /** A panel with the banner, lines in each font and a paragraph broken into lines by TextLayout. */
    static JComponent typePanel(BufferedImage banner) {
        return new JComponent() {
            private static final long serialVersionUID = 1L;

            @Override
            protected void paintComponent(Graphics graphics) {
                Graphics2D g = smooth(graphics.create());
                g.drawImage(banner, 0, 0, getWidth(), banner.getHeight(), null);
                int y = banner.getHeight() + 20;
                Font[] fonts = {BASE, ITALIC, MONO, SLANTED, TRACKED, SMALL};
                for (Font font : fonts) {
                    g.setFont(font);
                    g.setColor(color(y));
                    g.drawString(font.getFontName() + " " + font.getSize2D() + ": Sphinx of black quartz, judge my vow", 8, y);
                    y += g.getFontMetrics().getHeight() + 2;
                }
                AttributedString text = new AttributedString(
                    "Typography matters: kerning, ligatures (ffi, fl), accents (é, ü, ñ, ø) and mixed styles are laid out "
                    + "by TextLayout and broken into lines as wide as the panel, as editors and reports do.");
                text.addAttribute(TextAttribute.FONT, ITALIC);
                text.addAttribute(TextAttribute.WEIGHT, TextAttribute.WEIGHT_BOLD, 0, 10);
                FontRenderContext context = g.getFontRenderContext();
                LineBreakMeasurer measurer = new LineBreakMeasurer(text.getIterator(), context);
                g.setColor(Color.DARK_GRAY);
                while (measurer.getPosition() < text.getIterator().getEndIndex() && y < getHeight()) {
                    TextLayout line = measurer.nextLayout(Math.max(60, getWidth() - 16));
                    y += (int) line.getAscent();
                    line.draw(g, 8, y);
                    y += (int) (line.getDescent() + line.getLeading());
                }
                g.dispose();
            }
        };
    }
}
