package com.vellumbry.corvane.entry;

import java.awt.BorderLayout;
import java.awt.Dimension;
import java.awt.Graphics;
import javax.swing.JFrame;
import javax.swing.JMenu;
import javax.swing.JMenuBar;
import javax.swing.JMenuItem;
import javax.swing.JPanel;
import javax.swing.JScrollPane;
import javax.swing.JSplitPane;
import javax.swing.JTable;
import javax.swing.JTextArea;
import javax.swing.JTree;
import javax.swing.SwingUtilities;
import javax.swing.WindowConstants;
import javax.swing.table.AbstractTableModel;
import javax.swing.tree.DefaultMutableTreeNode;

/**
 * A window like a small desktop application's main window: menus, a tree, a
 * 400-row table and a text area. Once its first paint has completed, the
 * given action runs on the event thread.
 */
final class PaintWindow {
    private static final int ROWS = 400;
    private static final String[] COLUMNS = {"#", "Name", "Kind", "Size", "Modified"};

    private PaintWindow() {
    }

    static void open(Runnable afterFirstPaint) {
        SwingUtilities.invokeLater(() -> build(afterFirstPaint));
    }

    private static void build(Runnable afterFirstPaint) {
        JFrame frame = new JFrame("Corvane paint benchmark");
        frame.setDefaultCloseOperation(WindowConstants.EXIT_ON_CLOSE);
        frame.setJMenuBar(menus());

        JTextArea notes = new JTextArea(8, 60);
        for (int i = 0; i < 40; i++) {
            notes.append("Line " + i + " of the notes: the quick brown fox jumps over the lazy dog.\n");
        }
        JSplitPane right = new JSplitPane(JSplitPane.VERTICAL_SPLIT, new JScrollPane(table()), new JScrollPane(notes));
        right.setResizeWeight(0.7);
        JSplitPane main = new JSplitPane(JSplitPane.HORIZONTAL_SPLIT, new JScrollPane(tree()), right);
        main.setDividerLocation(220);

        JPanel content = new JPanel(new BorderLayout()) {
            private static final long serialVersionUID = 1L;
            private boolean painted;

            @Override
            public void paint(Graphics g) {
                super.paint(g);
                if (!painted) {
                    painted = true;
                    // Runs after the paint pass that holds this call has been shown.
                    SwingUtilities.invokeLater(afterFirstPaint);
                }
            }
        };
        content.add(main, BorderLayout.CENTER);
        frame.setContentPane(content);
        frame.setPreferredSize(new Dimension(1024, 720));
        frame.pack();
        frame.setLocationRelativeTo(null);
        frame.setVisible(true);
    }

    private static JMenuBar menus() {
        JMenuBar bar = new JMenuBar();
        String[][] menus = {{"File", "New", "Open...", "Save", "Save As...", "Quit"},
            {"Edit", "Undo", "Redo", "Cut", "Copy", "Paste", "Find..."},
            {"View", "Zoom In", "Zoom Out", "Full Screen"}, {"Help", "Contents", "About"}};
        for (String[] names : menus) {
            JMenu menu = new JMenu(names[0]);
            for (int i = 1; i < names.length; i++) {
                menu.add(new JMenuItem(names[i]));
            }
            bar.add(menu);
        }
        return bar;
    }

    private static JTree tree() {
        DefaultMutableTreeNode root = new DefaultMutableTreeNode("Project");
        for (int i = 0; i < 12; i++) {
            DefaultMutableTreeNode folder = new DefaultMutableTreeNode("Folder " + i);
            for (int j = 0; j < 8; j++) {
                folder.add(new DefaultMutableTreeNode("Item " + i + "." + j));
            }
            root.add(folder);
        }
        JTree tree = new JTree(root);
        tree.expandRow(1);
        return tree;
    }

    private static JTable table() {
        JTable table = new JTable(new AbstractTableModel() {
            private static final long serialVersionUID = 1L;

            @Override
            public int getRowCount() {
                return ROWS;
            }

            @Override
            public int getColumnCount() {
                return COLUMNS.length;
            }

            @Override
            public String getColumnName(int column) {
                return COLUMNS[column];
            }

            @Override
            public Object getValueAt(int row, int column) {
                switch (column) {
                    case 0: return row + 1;
                    case 1: return "Entry " + (row + 1);
                    case 2: return row % 3 == 0 ? "Folder" : "Document";
                    case 3: return (row * 37 % 1000) + " KiB";
                    default: return "2026-01-" + (row % 28 + 1);
                }
            }
        });
        table.setAutoCreateRowSorter(true);
        return table;
    }
}
