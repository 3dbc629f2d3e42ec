package bridgeapp;

/** A second command of the bridge's test application: names itself, its main thread's class and its arguments. */
public class Other {
    public static void main(String[] args) {
        System.out.println("other " + Thread.currentThread().getClass().getName() + " " + String.join(",", args));
    }
}
