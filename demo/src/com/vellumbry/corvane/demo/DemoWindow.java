package com.vellumbry.corvane.demo;

import java.awt.BorderLayout;
import java.awt.Color;
import java.awt.Dimension;
import java.awt.Font;
import java.lang.reflect.InvocationTargetException;
import javax.swing.BorderFactory;
import javax.swing.JButton;
import javax.swing.JFrame;
import javax.swing.JLabel;
import javax.swing.JPanel;
import javax.swing.JScrollPane;
import javax.swing.JTextArea;
import javax.swing.SwingUtilities;
import javax.swing.Timer;
import javax.swing.WindowConstants;

/** The demo's window: the facts, a live heap line and a Quit button along the bottom edge. */
public final class DemoWindow {

    public static final String TITLE = "Corvane demo";

    private DemoWindow() {
    }

    /** Builds and shows the window on the event thread; returns when it is showing. */
    public static void open(String[] args) throws InterruptedException, InvocationTargetException {
        if (System.getProperty("awt.useSystemAAFontSettings") == null) {
            System.setProperty("awt.useSystemAAFontSettings", "on");
        }
        DemoFacts facts = new DemoFacts(args);
        SwingUtilities.invokeAndWait(() -> build(facts));
    }

    private static void build(DemoFacts facts) {
        JFrame frame = new JFrame(TITLE);
        // Closing the window ends the application, and with it the launcher, with status 0.
        frame.setDefaultCloseOperation(WindowConstants.EXIT_ON_CLOSE);

        JLabel header = new JLabel("Running inside the corvane launcher: process " + facts.pid()
            + ", runtime " + Runtime.version());
        header.setOpaque(true);
        header.setBackground(new Color(0x1f, 0x4e, 0x79));
        header.setForeground(Color.WHITE);
        header.setFont(header.getFont().deriveFont(Font.BOLD, 16f));
        header.setBorder(BorderFactory.createEmptyBorder(10, 12, 10, 12));

        JTextArea text = new JTextArea(facts.report());
        text.setEditable(false);
        text.setFont(new Font(Font.MONOSPACED, Font.PLAIN, 13));
        text.setCaretPosition(0);
        text.setBorder(BorderFactory.createEmptyBorder(6, 8, 6, 8));

        JLabel heap = new JLabel("Heap: " + DemoFacts.heap());
        heap.setBorder(BorderFactory.createEmptyBorder(6, 12, 6, 12));
        Timer heapTimer = new Timer(1000, e -> heap.setText("Heap: " + DemoFacts.heap()));
        heapTimer.start();

        // The button spans the whole bottom edge, so a click near the bottom centre hits it.
        JButton quit = new JButton("Quit");
        quit.setFont(quit.getFont().deriveFont(Font.BOLD, 15f));
        quit.setPreferredSize(new Dimension(200, 48));
        quit.addActionListener(e -> System.exit(0));

        JPanel bottom = new JPanel(new BorderLayout());
        bottom.add(heap, BorderLayout.NORTH);
        bottom.add(quit, BorderLayout.SOUTH);

        frame.getContentPane().setLayout(new BorderLayout());
        frame.getContentPane().add(header, BorderLayout.NORTH);
        frame.getContentPane().add(new JScrollPane(text), BorderLayout.CENTER);
        frame.getContentPane().add(bottom, BorderLayout.SOUTH);
        frame.getRootPane().setDefaultButton(quit);
        frame.setSize(960, 640);
        frame.setLocationRelativeTo(null);
        frame.setVisible(true);
        quit.requestFocusInWindow();
    }
}
