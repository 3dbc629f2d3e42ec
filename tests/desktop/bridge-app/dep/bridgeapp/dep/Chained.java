package bridgeapp.dep;

/** Lives in a jar that only a manifest Class-Path names. */
public class Chained {
    public static String text() {
        return "chained " + Chained.class.getProtectionDomain().getCodeSource().getLocation().getPath()
                .replaceAll(".*/", "");
    }
}
