@PACKAGE_LINE@
/** The entry bridge's main thread, named like the application's main class so that its windows get java's window class. */
public class @SIMPLE_NAME@ extends java.lang.Thread {
    public @SIMPLE_NAME@(java.lang.Runnable body, java.lang.String name) {
        super(body, name);
    }

    @Override
    public void run() {
        super.run();
    }
}
