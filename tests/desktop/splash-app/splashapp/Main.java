package splashapp;

import java.awt.Color;
import java.awt.SplashScreen;
import java.awt.event.WindowAdapter;
import java.awt.event.WindowEvent;
import java.awt.image.BufferedImage;
import java.io.File;
import java.nio.file.Files;
import java.nio.file.Path;
import javax.imageio.ImageIO;
import javax.swing.JFrame;
import javax.swing.SwingUtilities;

/**
 * The splash screen test's application. "image <file> <width> <height>" writes a PNG;
 * otherwise it reports whether the splash library was in the process before it asked
 * for the splash screen and what java.awt.SplashScreen answers, then waits for the file
 * that SPLASH_TEST_GO names and opens its window "Splash test".
 */
public class Main {
    public static void main(String[] args) throws Exception {
        if (args.length == 4 && args[0].equals("image")) {
            BufferedImage image = new BufferedImage(Integer.parseInt(args[2]), Integer.parseInt(args[3]),
                    BufferedImage.TYPE_INT_RGB);
            var g = image.createGraphics();
            g.setColor(new Color(0x3366cc));
            g.fillRect(0, 0, image.getWidth(), image.getHeight());
            g.dispose();
            ImageIO.write(image, "png", new File(args[1]));
            return;
        }
        String maps = Files.readString(Path.of("/proc/self/maps"));
        System.out.println("library=" + (maps.contains("/libsplashscreen.so") ? "yes" : "no"));
        SplashScreen splash = SplashScreen.getSplashScreen();
        System.out.println("splash=" + (splash == null ? "none" : splash.getImageURL()));
        Path go = Path.of(System.getenv().getOrDefault("SPLASH_TEST_GO", "/nonexistent/go"));
        for (int i = 0; i < 600 && !Files.exists(go); i++) {
            Thread.sleep(100);
        }
        SwingUtilities.invokeLater(() -> {
            JFrame frame = new JFrame("Splash test");
            frame.addWindowListener(new WindowAdapter() {
                @Override
                public void windowOpened(WindowEvent e) {
                    System.out.println("window shown");
                }
            });
            frame.setSize(320, 200);
            frame.setVisible(true);
        });
    }
}
