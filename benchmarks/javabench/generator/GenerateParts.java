import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;

/**
 * Writes the paint window's generated classes: a few hundred small classes of
 * three kinds, as an application's commands, views and data types are, and
 * Parts.all(), which makes one of each (so every class is loaded at start-up).
 * Run at build time: java GenerateParts.java <source folder> <count>.
 */
public final class GenerateParts {
    private static final String PACKAGE = "com.vellumbry.corvane.entry.parts";

    public static void main(String[] args) throws IOException {
        Path dir = Path.of(args[0], PACKAGE.replace('.', '/'));
        int count = Integer.parseInt(args[1]);
        Files.createDirectories(dir);
        write(dir, "Part", partInterface());
        java.util.List<String> all = new java.util.ArrayList<>();
        for (int i = 0; i < count; i++) {
            String name = String.format("Part%03d", i);
            String body = switch (i % 3) {
                case 0 -> command(name, i);
                case 1 -> view(name, i);
                default -> record(name, i);
            };
            write(dir, name, body);
            all.add("            new " + name + "()");
        }
        write(dir, "Parts", parts(String.join(",\n", all)));
    }

    private static void write(Path dir, String name, String body) throws IOException {
        Files.writeString(dir.resolve(name + ".java"), "package " + PACKAGE + ";\n\n" + body, StandardCharsets.UTF_8);
    }

    private static String partInterface() {
        return """
            /** One generated part of the paint window: a menu item, a tree node and a table row. */
            public interface Part {
                String title();
                String group();
                int weight();
                javax.swing.Action action();
            }
            """;
    }

    private static String command(String name, int i) {
        return """
            final class %1$s extends javax.swing.AbstractAction implements Part {
                private static final long serialVersionUID = 1L;
                %1$s() {
                    super("Command %2$d");
                    putValue(SHORT_DESCRIPTION, "Runs command %2$d of group %3$d");
                    putValue(MNEMONIC_KEY, %4$d);
                }
                @Override public String title() { return (String) getValue(NAME); }
                @Override public String group() { return "Tools %3$d"; }
                @Override public int weight() { return %5$d; }
                @Override public javax.swing.Action action() { return this; }
                @Override public void actionPerformed(java.awt.event.ActionEvent event) {
                    firePropertyChange("ran", null, event.getActionCommand());
                }
            }
            """.formatted(name, i, i % 8, 65 + i % 26, i * 37 % 101);
    }

    private static String view(String name, int i) {
        return """
            final class %1$s extends javax.swing.JComponent implements Part {
                private static final long serialVersionUID = 1L;
                private final java.awt.Color tint = new java.awt.Color(%4$d, %5$d, %6$d);
                @Override public String title() { return "View %2$d"; }
                @Override public String group() { return "Views %3$d"; }
                @Override public int weight() { return getWidth() + %7$d; }
                @Override public javax.swing.Action action() {
                    return new javax.swing.AbstractAction(title()) {
                        private static final long serialVersionUID = 1L;
                        @Override public void actionPerformed(java.awt.event.ActionEvent event) { repaint(); }
                    };
                }
                @Override protected void paintComponent(java.awt.Graphics g) {
                    g.setColor(tint);
                    g.fillRoundRect(0, 0, getWidth(), getHeight(), %3$d + 4, %3$d + 4);
                }
            }
            """.formatted(name, i, i % 6, i * 53 % 256, i * 97 % 256, i * 29 % 256, i % 50);
    }

    private static String record(String name, int i) {
        return """
            final class %1$s implements Part {
                record Entry(String key, long size, java.time.LocalDate changed) {
                    Entry { java.util.Objects.requireNonNull(key); }
                }
                private final java.util.List<Entry> entries = java.util.List.of(
                    new Entry("a%2$d", %4$dL, java.time.LocalDate.of(2026, 1 + %2$d %% 12, 1 + %2$d %% 28)),
                    new Entry("b%2$d", %5$dL, java.time.LocalDate.of(2025, 1 + %2$d %% 12, 1 + %2$d %% 28)));
                @Override public String title() { return "Data set %2$d (" + entries.size() + " entries)"; }
                @Override public String group() { return "Data %3$d"; }
                @Override public int weight() { return (int) (entries.get(0).size() %% 1000); }
                @Override public javax.swing.Action action() { return null; }
            }
            """.formatted(name, i, i % 5, i * 4099L, i * 7919L);
    }

    private static String parts(String all) {
        return """
            /** One of each generated part. */
            public final class Parts {
                private Parts() {
                }

                public static java.util.List<Part> all() {
                    return java.util.List.of(
            %s);
                }
            }
            """.formatted(all);
    }
}
