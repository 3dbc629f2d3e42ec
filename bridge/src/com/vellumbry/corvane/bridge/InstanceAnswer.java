package com.vellumbry.corvane.bridge;

import com.vellumbry.corvane.api.SingleInstance;
import java.awt.EventQueue;
import java.awt.Frame;
import java.awt.GraphicsEnvironment;
import java.awt.Window;
import java.util.concurrent.ExecutionException;
import java.util.concurrent.FutureTask;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.TimeoutException;

/**
 * The running instance's answer to second starts when the application itself never
 * listens: without it a second start would wait for a listener that never comes. An
 * application that calls {@link SingleInstance#listen} later takes the starts over.
 */
final class InstanceAnswer {
    private static final long RAISE_WAIT_MILLIS = 1000;

    private InstanceAnswer() {
    }

    /** Answers from now on when the tree asks for one instance; nothing otherwise. */
    static void start() {
        SingleInstance.answerWithoutListener(InstanceAnswer::raiseWindow);
    }

    /**
     * Brings the application's last shown top-level window to the front, de-iconified;
     * false when it has none (a toolkit other than AWT's, or no window yet), so that
     * the second start goes on rather than end with nothing shown.
     */
    private static boolean raiseWindow() {
        if (GraphicsEnvironment.isHeadless()) {
            return false;
        }
        FutureTask<Boolean> raise = new FutureTask<>(() -> {
            Window target = null;
            for (Window window : Window.getWindows()) {
                if (window.isShowing() && window.getOwner() == null) {
                    target = window;
                }
            }
            if (target == null) {
                return false;
            }
            if (target instanceof Frame frame && (frame.getExtendedState() & Frame.ICONIFIED) != 0) {
                frame.setExtendedState(frame.getExtendedState() & ~Frame.ICONIFIED);
            }
            target.toFront();
            target.requestFocus();
            return true;
        });
        EventQueue.invokeLater(raise);
        try {
            return raise.get(RAISE_WAIT_MILLIS, TimeUnit.MILLISECONDS);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            return false;
        } catch (ExecutionException | TimeoutException e) {
            return false;
        }
    }
}
