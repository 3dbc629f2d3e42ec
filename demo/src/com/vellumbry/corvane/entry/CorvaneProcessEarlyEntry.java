package com.vellumbry.corvane.entry;

import com.vellumbry.corvane.api.EntryContract;
import com.vellumbry.corvane.demo.DemoFacts;
import com.vellumbry.corvane.demo.DemoWindow;
import java.awt.Frame;
import java.awt.Graphics;
import java.awt.GraphicsEnvironment;
import javax.swing.JComponent;
import javax.swing.JFrame;
import javax.swing.SwingUtilities;

/**
 * The demo application's entry point, called by the corvane launcher on its
 * JVM thread with the whole process command line.
 *
 * <p>The launcher waits for this method: it returns 0 once the application runs
 * on threads of its own, and the process then ends when the application ends
 * the VM with {@code System.exit}.
 *
 * <p>Mode, from the system property {@code corvane.demo.mode} or else the
 * environment variable {@code CORVANE_DEMO_MODE}:
 * <ul>
 *   <li>{@code window} (default): a window when a display is usable, else the report;</li>
 *   <li>{@code report}: the facts on standard output, then exit with status 0;</li>
 *   <li>{@code probe}: exit with status 0 at once (start-up probes);</li>
 *   <li>{@code train}: like {@code window}, but exit with status 0 once the window
 *   has painted (training runs for the class-data archive).</li>
 * </ul>
 */
public final class CorvaneProcessEarlyEntry {

    /** How long the exit thread waits for the launcher's thread to leave the VM. */
    private static final long ENTRY_THREAD_WAIT_MILLIS = 10_000;

    private CorvaneProcessEarlyEntry() {
    }

    public static int startCorvane(String[] args) {
        String mode = DemoFacts.mode();
        switch (mode) {
            case "probe":
                System.exit(0);
                return EntryContract.STARTED; // not reached
            case "report":
                printReportAndExit(args, null);
                return EntryContract.STARTED;
            case "window":
            case "train":
                break;
            default:
                System.err.println("corvane demo: unknown mode '" + mode + "' (window, report, probe or train); using window");
                break;
        }
        if (GraphicsEnvironment.isHeadless()) {
            printReportAndExit(args, "no display (DISPLAY is not set)");
            return EntryContract.STARTED;
        }
        try {
            DemoWindow.open(args);
            if (mode.equals("train")) {
                SwingUtilities.invokeLater(CorvaneProcessEarlyEntry::exitAfterFirstPaint);
            }
        } catch (Throwable t) {
            printReportAndExit(args, "the display cannot be used: " + t);
        }
        return EntryContract.STARTED;
    }

    /**
     * Covers each window with an empty glass pane whose first paint, which comes
     * after the window's own, ends the VM with status 0.
     */
    private static void exitAfterFirstPaint() {
        for (Frame frame : Frame.getFrames()) {
            if (frame instanceof JFrame jframe) {
                JComponent glass = new JComponent() {
                    private static final long serialVersionUID = 1L;
                    private boolean painted;

                    @Override
                    protected void paintComponent(Graphics g) {
                        if (!painted) {
                            painted = true;
                            SwingUtilities.invokeLater(() -> System.exit(0));
                        }
                    }
                };
                jframe.setGlassPane(glass);
                glass.setVisible(true);
            }
        }
    }

    /**
     * Prints the report and ends the VM with status 0 from a thread of its own,
     * once the launcher's thread has returned from this entry and left the VM.
     */
    private static void printReportAndExit(String[] args, String whyNoWindow) {
        if (whyNoWindow != null) {
            System.out.println("Corvane demo: " + whyNoWindow + "; printing the report instead of opening a window.");
        }
        System.out.print(new DemoFacts(args).report());
        System.out.flush();
        Thread entryThread = Thread.currentThread();
        Thread exitThread = new Thread(() -> {
            try {
                entryThread.join(ENTRY_THREAD_WAIT_MILLIS);
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
            }
            System.exit(0);
        }, "corvane-demo-exit");
        exitThread.start();
    }
}
