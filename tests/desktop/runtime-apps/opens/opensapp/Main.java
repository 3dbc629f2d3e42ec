// Uses the modular library's JDBC names and a package its manifest's Add-Opens opens.
package opensapp;

public final class Main {
    private Main() {
    }

    public static void main(String[] args) throws Exception {
        System.out.println("jdbc type 4: " + modlib.Types.name(4));
        Class<?> toolkit = Class.forName("sun.awt.SunToolkit", false, Main.class.getClassLoader());
        System.out.println("sun.awt opened: " + toolkit.getDeclaredFields()[0].trySetAccessible());
    }
}
