package bridgeapp;

import bridgeapp.dep.Chained;

/** A plain application for the entry bridge's tests: the first argument picks the behaviour. */
public class Main {
    public static void main(String[] args) throws Exception {
        String mode = args.length == 0 ? "" : args[0];
        switch (mode) {
            case "args":
                for (String a : args) {
                    System.out.println("arg=" + a);
                }
                break;
            case "thread":
                Thread late = new Thread(() -> {
                    pause(1500);
                    System.out.println("thread ended");
                });
                late.start();
                System.out.println("main returned");
                break;
            case "daemon":
                Thread idle = new Thread(() -> pause(600_000));
                idle.setDaemon(true);
                idle.start();
                System.out.println("main returned");
                break;
            case "throw":
                throw new IllegalStateException("thrown out of main");
            case "exit":
                System.exit(Integer.parseInt(args[1]));
                break;
            case "property":
                System.out.println("bridge.test=" + System.getProperty("bridge.test"));
                break;
            case "opened":
                // Needs the Add-Opens of this jar's manifest.
                java.lang.reflect.Field f = String.class.getDeclaredField("value");
                f.setAccessible(true);
                System.out.println("opened " + f.getName());
                break;
            case "locale":
                // Needs the runtime's jdk.localedata.
                System.out.println(String.format(java.util.Locale.GERMANY, "%,.2f", 1234.5));
                break;
            case "window":
                // Ends when its window is closed and disposed, as with java.
                javax.swing.SwingUtilities.invokeLater(() -> {
                    javax.swing.JFrame frame = new javax.swing.JFrame("Bridge window");
                    frame.setDefaultCloseOperation(javax.swing.WindowConstants.DISPOSE_ON_CLOSE);
                    frame.setSize(320, 200);
                    frame.setVisible(true);
                });
                break;
            case "crash":
                // A deliberate VM crash (a write to address 0): the next start tells of its error file.
                java.lang.reflect.Field theUnsafe = Class.forName("sun.misc.Unsafe").getDeclaredField("theUnsafe");
                theUnsafe.setAccessible(true);
                Object unsafe = theUnsafe.get(null);
                unsafe.getClass().getMethod("putAddress", long.class, long.class).invoke(unsafe, 0L, 0L);
                break;
            case "chain":
                System.out.println(Chained.text());
                break;
            case "named-window":
                // Windows named by the application itself, as X11 applications set awtAppClassName;
                // needs this jar's Add-Opens of sun.awt.X11. Ends after a few seconds.
                System.out.println(Chained.text());
                java.awt.Toolkit toolkit = java.awt.Toolkit.getDefaultToolkit();
                java.lang.reflect.Field name = toolkit.getClass().getDeclaredField("awtAppClassName");
                name.setAccessible(true);
                name.set(null, "BridgeApp");
                javax.swing.SwingUtilities.invokeLater(() -> {
                    javax.swing.JFrame frame = new javax.swing.JFrame("Named window");
                    frame.setSize(320, 200);
                    frame.setVisible(true);
                });
                pause(3000);
                System.exit(0);
                break;
            default:
                System.out.println("unknown mode " + mode);
        }
    }

    private static void pause(long millis) {
        try {
            Thread.sleep(millis);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }
}
