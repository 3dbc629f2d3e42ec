package scaleapp;

import java.awt.GraphicsEnvironment;

/**
 * Prints the scale Swing gets: the two properties a launcher may set and, unless
 * the argument is "properties", the default transform of the default screen,
 * which the JDK works out from sun.java2d.uiScale, J2D_UISCALE or GDK_SCALE.
 */
public final class Main {
    private Main() {
    }

    public static void main(String[] args) {
        System.out.println("uiScale=" + System.getProperty("sun.java2d.uiScale"));
        System.out.println("display.scale=" + System.getProperty("corvane.display.scale"));
        if (args.length == 0 || !args[0].equals("properties")) {
            System.out.println("scaleX=" + GraphicsEnvironment.getLocalGraphicsEnvironment().getDefaultScreenDevice()
                    .getDefaultConfiguration().getDefaultTransform().getScaleX());
        }
    }
}
