package com.vellumbry.corvane.entry;

import com.vellumbry.corvane.entry.parts.Part;
import com.vellumbry.corvane.entry.parts.Parts;
import java.awt.BorderLayout;
import java.awt.Dimension;
import java.awt.FlowLayout;
import java.awt.Graphics;
import java.awt.event.KeyEvent;
import java.awt.event.WindowAdapter;
import java.awt.event.WindowEvent;
import java.util.Comparator;
import java.util.List;
import java.util.Map;
import java.util.Objects;
import java.util.TreeMap;
import java.util.stream.Collectors;
import java.util.stream.IntStream;
import javax.swing.Icon;
import javax.swing.JButton;
import javax.swing.JComboBox;
import javax.swing.JFrame;
import javax.swing.JLabel;
import javax.swing.JMenu;
import javax.swing.JMenuBar;
import javax.swing.JMenuItem;
import javax.swing.JPanel;
import javax.swing.JScrollPane;
import javax.swing.JSplitPane;
import javax.swing.JTabbedPane;
import javax.swing.JTable;
import javax.swing.JTextArea;
import javax.swing.JTextField;
import javax.swing.JToolBar;
import javax.swing.JTree;
import javax.swing.KeyStroke;
import javax.swing.SwingUtilities;
import javax.swing.WindowConstants;
import javax.swing.table.AbstractTableModel;
import javax.swing.tree.DefaultMutableTreeNode;

/**
 * A window with the weight of a small desktop application's main window: a
 * few hundred classes of its own (the generated parts), lambdas in listeners
 * and streams, icons and a banner image, several fonts and laid-out text, menus,
 * a tool bar, a tree, a 400-row table, tabs and a text area. Once its first
 * paint has completed, the given action runs on the event thread.
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
        List<Part> parts = Parts.all();
        Map<String, List<Part>> groups = parts.stream()
            .collect(Collectors.groupingBy(Part::group, TreeMap::new, Collectors.toList()));
        Icon[] icons = PaintArt.icons(24, i -> PaintArt.icon(i, i / 3));
        JFrame frame = new JFrame("Corvane paint benchmark");
        frame.setDefaultCloseOperation(WindowConstants.EXIT_ON_CLOSE);
        JLabel status = new JLabel(parts.size() + " parts in " + groups.size() + " groups");
        status.setFont(PaintArt.SMALL);
        frame.setJMenuBar(menus(groups, icons, status));

        JTextArea notes = new JTextArea(8, 60);
        notes.setFont(PaintArt.MONO);
        notes.setText(IntStream.range(0, 40)
            .mapToObj(i -> "Line " + i + " of the notes: the quick brown fox jumps over the lazy dog.")
            .collect(Collectors.joining("\n")));
        notes.getDocument().addDocumentListener(Listeners.onChange(() -> status.setText("Notes changed")));
        JTabbedPane tabs = new JTabbedPane();
        tabs.addTab("Table", icons[0], new JScrollPane(table(parts)));
        tabs.addTab("Type", icons[1], PaintArt.typePanel(PaintArt.banner(640, 96)));
        tabs.addChangeListener(e -> status.setText("Tab " + tabs.getSelectedIndex()));
        JSplitPane right = new JSplitPane(JSplitPane.VERTICAL_SPLIT, tabs, new JScrollPane(notes));
        right.setResizeWeight(0.7);
        JTree tree = tree(groups);
        tree.addTreeSelectionListener(e -> status.setText(String.valueOf(e.getPath().getLastPathComponent())));
        JSplitPane main = new JSplitPane(JSplitPane.HORIZONTAL_SPLIT, new JScrollPane(tree), right);
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
        content.add(toolBar(parts, icons, status), BorderLayout.NORTH);
        content.add(main, BorderLayout.CENTER);
        JPanel south = new JPanel(new FlowLayout(FlowLayout.LEFT));
        south.add(status);
        content.add(south, BorderLayout.SOUTH);
        frame.setContentPane(content);
        frame.addWindowListener(new WindowAdapter() {
            @Override
            public void windowActivated(WindowEvent e) {
                SwingUtilities.invokeLater(() -> status.setText("Ready"));
            }
        });
        frame.setPreferredSize(new Dimension(1024, 720));
        frame.pack();
        frame.setLocationRelativeTo(null);
        frame.setVisible(true);
    }

    private static JMenuBar menus(Map<String, List<Part>> groups, Icon[] icons, JLabel status) {
        JMenuBar bar = new JMenuBar();
        JMenu file = new JMenu("File");
        List.of("New", "Open...", "Save", "Save As...", "Quit").forEach(name -> {
            JMenuItem item = new JMenuItem(name, icons[Math.floorMod(name.hashCode(), icons.length)]);
            item.addActionListener(e -> status.setText(name));
            file.add(item);
        });
        file.getItem(0).setAccelerator(KeyStroke.getKeyStroke(KeyEvent.VK_N, KeyEvent.CTRL_DOWN_MASK));
        bar.add(file);
        groups.forEach((group, members) -> {
            JMenu menu = new JMenu(group);
            members.stream()
                .filter(part -> part.action() != null)
                .sorted(Comparator.comparingInt(Part::weight).thenComparing(Part::title))
                .forEach(part -> menu.add(new JMenuItem(part.action())));
            members.stream().filter(part -> part.action() == null).limit(6)
                .map(part -> new JMenuItem(part.title(), icons[part.weight() % icons.length]))
                .peek(item -> item.addActionListener(e -> status.setText(item.getText())))
                .forEach(menu::add);
            bar.add(menu);
        });
        JMenu help = new JMenu("Help");
        help.add(new JMenuItem("About")).addActionListener(e -> status.setText("About"));
        bar.add(help);
        return bar;
    }

    private static JToolBar toolBar(List<Part> parts, Icon[] icons, JLabel status) {
        JToolBar bar = new JToolBar();
        parts.stream().map(Part::action).filter(Objects::nonNull).limit(16).forEach(action -> {
            JButton button = bar.add(action);
            button.setIcon(icons[Math.floorMod(action.hashCode(), icons.length)]);
            button.addActionListener(e -> status.setText(String.valueOf(action.getValue(javax.swing.Action.NAME))));
        });
        bar.addSeparator();
        JTextField search = new JTextField(16);
        search.setFont(PaintArt.ITALIC);
        search.addActionListener(e -> status.setText("Search: " + search.getText()));
        bar.add(search);
        JComboBox<String> zoom = new JComboBox<>(IntStream.of(50, 75, 100, 125, 150, 200)
            .mapToObj(z -> z + " %").toArray(String[]::new));
        zoom.setSelectedIndex(2);
        zoom.addItemListener(e -> status.setText("Zoom " + e.getItem()));
        bar.add(zoom);
        return bar;
    }

    private static JTree tree(Map<String, List<Part>> groups) {
        DefaultMutableTreeNode root = new DefaultMutableTreeNode("Project");
        groups.forEach((group, members) -> {
            DefaultMutableTreeNode folder = new DefaultMutableTreeNode(group);
            members.stream().map(Part::title).sorted().map(DefaultMutableTreeNode::new).forEach(folder::add);
            root.add(folder);
        });
        JTree tree = new JTree(root);
        tree.expandRow(1);
        return tree;
    }

    private static JTable table(List<Part> parts) {
        List<String> titles = parts.stream().map(Part::title).collect(Collectors.toList());
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
                    case 1: return titles.get(row % titles.size());
                    case 2: return row % 3 == 0 ? "Folder" : "Document";
                    case 3: return (row * 37 % 1000) + " KiB";
                    default: return "2026-01-" + (row % 28 + 1);
                }
            }
        });
        table.setAutoCreateRowSorter(true);
        table.getSelectionModel().addListSelectionListener(e -> table.setToolTipText("Row " + e.getFirstIndex()));
        return table;
    }
}
