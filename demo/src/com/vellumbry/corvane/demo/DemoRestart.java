package com.vellumbry.corvane.demo;

import com.vellumbry.corvane.api.SingleInstance;
import java.awt.Graphics;
import java.awt.Graphics2D;
import java.awt.Toolkit;
import java.awt.color.ColorSpace;
import java.awt.image.BufferedImage;
import java.awt.image.ColorConvertOp;
import java.io.File;
import java.io.IOException;
import java.util.ArrayList;
import java.util.List;
import javax.swing.JComponent;
import javax.swing.JFrame;
import javax.swing.JRootPane;

/**
 * Restart: hands the application over to the launcher of the install tree it
 * runs from, which waits for this process to end and then starts afresh. Inside
 * a Flatpak the Flatpak portal starts the latest installed version instead.
 */
public final class DemoRestart {

    /** Seconds the VM's end is held up by a shutdown hook (a slow application's end). */
    static final String SLOW_EXIT_PROPERTY = "corvane.demo.slowExitSeconds";
    static final String SLOW_EXIT_VARIABLE = "CORVANE_DEMO_SLOW_EXIT_SECONDS";

    private DemoRestart() {
    }

    /** The launcher beside the lib directory that the launcher named in corvane.jars.path; null without one. */
    public static File launcher() {
        String jars = System.getProperty("corvane.jars.path");
        if (jars == null || jars.isEmpty()) {
            return null;
        }
        File tree = new File(jars).getAbsoluteFile().getParentFile();
        return tree == null ? null : new File(tree, "corvane");
    }

    /**
     * The new instance's command line: the launcher told to wait for this process
     * (and to end it if it outlives the wait), then the original arguments without
     * the program path and without the words of an earlier hand-over.
     */
    public static List<String> command(String launcher, long pid, String[] args) {
        List<String> command = new ArrayList<>(List.of(launcher, "--wait-for-pid", Long.toString(pid), "--install"));
        command.addAll(ownArguments(args));
        return command;
    }

    /** The original arguments without the program path and without the words of an earlier hand-over. */
    private static List<String> ownArguments(String[] args) {
        List<String> own = new ArrayList<>();
        for (int i = 1; i < args.length; i++) {
            if (args[i].equals("--wait-for-pid")) {
                i++;
            } else if (!args[i].equals("--install")) {
                own.add(args[i]);
            }
        }
        return own;
    }

    /**
     * Starts the new instance in a session of its own, its standard streams on
     * /dev/null, so that nothing of it depends on this process. Returns null when
     * it started, else why not.
     */
    public static String startSuccessor(String[] args) {
        File launcher = launcher();
        if (launcher == null) {
            return "not started by the corvane launcher (no corvane.jars.path)";
        }
        if (!launcher.canExecute()) {
            return "no launcher at " + launcher;
        }
        if (DemoFlatpak.inside()) {
            List<String> command = new ArrayList<>(List.of(launcher.getPath()));
            command.addAll(ownArguments(args));
            return DemoFlatpak.spawnLatest(command, SingleInstance::stopAnswering);
        }
        List<String> command = new ArrayList<>();
        command.add(new File("/usr/bin/setsid").canExecute() ? "/usr/bin/setsid" : "setsid");
        command.addAll(command(launcher.getPath(), ProcessHandle.current().pid(), args));
        try {
            new ProcessBuilder(command)
                .redirectInput(ProcessBuilder.Redirect.from(new File("/dev/null")))
                .redirectOutput(ProcessBuilder.Redirect.DISCARD)
                .redirectError(ProcessBuilder.Redirect.DISCARD)
                .start();
            return null;
        } catch (IOException | RuntimeException e) {
            return "cannot start " + launcher + ": " + e.getMessage();
        }
    }

    /**
     * Shows the window in grey from now on: this instance is ending, however long
     * its end takes. The grey comes from the runtime's colour management, loaded
     * only here.
     */
    public static void greyOut(JFrame frame) {
        JRootPane root = frame.getRootPane();
        if (root.getWidth() <= 0 || root.getHeight() <= 0) {
            return;
        }
        BufferedImage shot = new BufferedImage(root.getWidth(), root.getHeight(), BufferedImage.TYPE_INT_RGB);
        Graphics2D g = shot.createGraphics();
        root.paint(g);
        g.dispose();
        BufferedImage grey = new ColorConvertOp(ColorSpace.getInstance(ColorSpace.CS_GRAY), null).filter(shot, null);
        JComponent glass = new JComponent() {
            private static final long serialVersionUID = 1L;

            @Override
            protected void paintComponent(Graphics graphics) {
                graphics.drawImage(grey, 0, 0, null);
            }
        };
        frame.setGlassPane(glass);
        glass.setBounds(0, 0, root.getWidth(), root.getHeight());
        glass.setVisible(true);
        root.paintImmediately(0, 0, root.getWidth(), root.getHeight());
        Toolkit.getDefaultToolkit().sync();  // on the screen before the VM's end blocks this thread
    }

    /** Holds up the VM's end by the seconds that the property or variable asks for (none by default). */
    public static void holdExitIfAsked() {
        String text = System.getProperty(SLOW_EXIT_PROPERTY);
        if (text == null || text.isEmpty()) {
            text = System.getenv(SLOW_EXIT_VARIABLE);
        }
        if (text == null || text.isEmpty()) {
            return;
        }
        long seconds;
        try {
            seconds = Long.parseLong(text.trim());
        } catch (NumberFormatException e) {
            System.err.println("corvane demo: " + SLOW_EXIT_VARIABLE + " is not a number: " + text);
            return;
        }
        Runtime.getRuntime().addShutdownHook(new Thread(() -> {
            try {
                Thread.sleep(seconds * 1000);
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
            }
        }, "corvane-demo-slow-exit"));
    }
}
