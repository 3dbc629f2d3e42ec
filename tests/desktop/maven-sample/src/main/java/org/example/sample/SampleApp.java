// The Maven sample's entry: one window on Swing's thread.
package org.example.sample;

import javax.swing.SwingUtilities;

public final class SampleApp {
    private SampleApp() {
    }

    public static void main(String[] args) {
        SwingUtilities.invokeLater(() -> new SampleWindow(new Greeting(args)).show());
    }
}
