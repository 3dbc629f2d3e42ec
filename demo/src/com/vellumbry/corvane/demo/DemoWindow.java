package com.vellumbry.corvane.demo;

import com.vellumbry.corvane.api.SingleInstance;
import java.awt.BorderLayout;
import java.awt.Color;
import java.awt.Dimension;
import java.awt.Font;
import java.awt.event.ActionEvent;
import java.awt.event.InputEvent;
import java.awt.event.KeyEvent;
import java.lang.reflect.InvocationTargetException;
import javax.swing.AbstractAction;
import javax.swing.BorderFactory;
import javax.swing.JButton;
import javax.swing.JComponent;
import javax.swing.JDialog;
import javax.swing.JFrame;
import javax.swing.JLabel;
import javax.swing.JOptionPane;
import javax.swing.JPanel;
import javax.swing.JRootPane;
import javax.swing.JScrollPane;
import javax.swing.JTextArea;
import javax.swing.KeyStroke;
import javax.swing.SwingUtilities;
import javax.swing.Timer;
import javax.swing.WindowConstants;

/** The demo's window: the facts, a live heap line with a Restart button, and a Quit button along the bottom edge. */
public final class DemoWindow {

    public static final String TITLE = "Corvane demo";
    /** The title of the note that a newer version is installed. */
    public static final String UPDATE_TITLE = TITLE + ": update installed";

    private DemoWindow() {
    }

    /** Builds and shows the window on the event thread; returns when it is showing. */
    public static void open(String[] args) throws InterruptedException, InvocationTargetException {
        if (System.getProperty("awt.useSystemAAFontSettings") == null) {
            System.setProperty("awt.useSystemAAFontSettings", "on");
        }
        DemoFacts facts = new DemoFacts(args);
        DemoRestart.holdExitIfAsked();
        SwingUtilities.invokeAndWait(() -> build(facts, args));
    }

    /** A note beside the window: a newer version is installed; "Restart to update" restarts into it. */
    private static void offerRestart(JFrame frame, AbstractAction restart) {
        JDialog note = new JDialog(frame, UPDATE_TITLE, false);
        JButton now = new JButton("Restart to update");
        now.addActionListener(e -> {
            note.dispose();
            restart.actionPerformed(e);
        });
        JButton later = new JButton("Later");
        later.addActionListener(e -> note.dispose());
        JPanel buttons = new JPanel();
        buttons.add(now);
        buttons.add(later);
        JLabel text = new JLabel("A newer version of the demo has been installed.");
        text.setBorder(BorderFactory.createEmptyBorder(12, 12, 6, 12));
        note.getContentPane().add(text, BorderLayout.CENTER);
        note.getContentPane().add(buttons, BorderLayout.SOUTH);
        // The note may hold the keyboard focus when it appears: Ctrl+R restarts from it too.
        restartOnKey(note.getRootPane(), restart);
        note.pack();
        note.setLocationRelativeTo(frame);
        note.setVisible(true);
    }

    /** Ctrl+R anywhere in the window runs {@code restart}. */
    private static void restartOnKey(JRootPane root, AbstractAction restart) {
        KeyStroke ctrlR = KeyStroke.getKeyStroke(KeyEvent.VK_R, InputEvent.CTRL_DOWN_MASK);
        root.getInputMap(JComponent.WHEN_IN_FOCUSED_WINDOW).put(ctrlR, "restart");
        root.getActionMap().put("restart", restart);
    }

    private static void build(DemoFacts facts, String[] args) {
        JFrame frame = new JFrame(TITLE);
        // Closing the window ends the application, and with it the launcher, with status 0.
        frame.setDefaultCloseOperation(WindowConstants.EXIT_ON_CLOSE);

        JLabel header = new JLabel("Version " + System.getProperty("CORVANE_VERSION", "(not set)")
            + ", running inside the corvane launcher: process " + facts.pid() + ", runtime " + Runtime.version());
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

        // Restart hands over to the install tree's launcher (Ctrl+R too), which
        // waits for this process to end: a newly installed version comes up.
        AbstractAction restart = new AbstractAction("Restart") {
            private static final long serialVersionUID = 1L;

            @Override
            public void actionPerformed(ActionEvent e) {
                String failure = DemoRestart.startSuccessor(args);
                if (failure == null) {
                    DemoRestart.greyOut(frame);
                    System.exit(0);
                }
                JOptionPane.showMessageDialog(frame, failure, "Restart failed", JOptionPane.ERROR_MESSAGE);
            }
        };
        restartOnKey(frame.getRootPane(), restart);

        JPanel heapRow = new JPanel(new BorderLayout());
        heapRow.add(heap, BorderLayout.CENTER);
        heapRow.add(new JButton(restart), BorderLayout.EAST);

        JPanel bottom = new JPanel(new BorderLayout());
        bottom.add(heapRow, BorderLayout.NORTH);
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
        // A newer version installed under this one: offer the restart into it.
        DemoUpdates.watch(() -> SwingUtilities.invokeLater(() -> offerRestart(frame, restart)));
        // A second start of a tree assembled with --single-instance comes here instead of a second window.
        SingleInstance.listen((directory, arguments) -> SwingUtilities.invokeLater(() -> {
            text.append("\nA second start in " + directory + " handed over its arguments " + arguments + "\n");
            DemoFacts.openedFiles(directory, arguments).forEach(line -> text.append("    " + line + "\n"));
            frame.toFront();
        }));
    }
}
