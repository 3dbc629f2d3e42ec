import java.awt.Color;
import java.awt.Font;
import java.awt.GradientPaint;
import java.awt.Graphics2D;
import java.awt.RenderingHints;
import java.awt.image.BufferedImage;
import java.io.File;
import java.io.IOException;
import javax.imageio.ImageIO;

/** Draws the splash benchmark's image: java SplashImage.java <out.png>. */
public final class SplashImage {
    public static void main(String[] args) throws IOException {
        BufferedImage image = new BufferedImage(480, 270, BufferedImage.TYPE_INT_RGB);
        Graphics2D g = image.createGraphics();
        g.setRenderingHint(RenderingHints.KEY_ANTIALIASING, RenderingHints.VALUE_ANTIALIAS_ON);
        g.setPaint(new GradientPaint(0, 0, new Color(0x1f3a68), 480, 270, new Color(0x3fa7b3)));
        g.fillRect(0, 0, 480, 270);
        g.setColor(Color.WHITE);
        g.setFont(new Font(Font.SANS_SERIF, Font.BOLD, 28));
        g.drawString("Corvane splash benchmark", 40, 150);
        g.dispose();
        ImageIO.write(image, "png", new File(args[0]));
    }
}
