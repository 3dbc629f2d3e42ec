// One window: the greeting and a button that closes it.
package org.example.sample;

import java.awt.BorderLayout;
import javax.swing.JButton;
import javax.swing.JFrame;
import javax.swing.JLabel;
import javax.swing.SwingConstants;
import javax.swing.WindowConstants;

final class SampleWindow {
    private final JFrame frame;

    SampleWindow(Greeting greeting) {
        frame = new JFrame(greeting.title());
        frame.setDefaultCloseOperation(WindowConstants.DISPOSE_ON_CLOSE);
        frame.add(new JLabel(greeting.text(), SwingConstants.CENTER), BorderLayout.CENTER);
        JButton close = new JButton("Close");
        close.addActionListener(event -> frame.dispose());
        frame.add(close, BorderLayout.SOUTH);
        frame.setSize(360, 160);
        frame.setLocationByPlatform(true);
    }

    void show() {
        frame.setVisible(true);
    }
}
