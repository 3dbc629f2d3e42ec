package com.vellumbry.corvane.entry;

import javax.swing.event.DocumentEvent;
import javax.swing.event.DocumentListener;

/** Listener adapters that take a lambda, as applications write them. */
final class Listeners {
    private Listeners() {
    }

    static DocumentListener onChange(Runnable action) {
        return new DocumentListener() {
            @Override
            public void insertUpdate(DocumentEvent e) {
                action.run();
            }

            @Override
            public void removeUpdate(DocumentEvent e) {
                action.run();
            }

            @Override
            public void changedUpdate(DocumentEvent e) {
                action.run();
            }
        };
    }
}
