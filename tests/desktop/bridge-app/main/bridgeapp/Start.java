package bridgeapp;

import java.io.IOException;
import java.lang.management.ManagementFactory;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.TimeUnit;

/**
 * Shows what a start hands the application: its arguments, its folder and its heap
 * limit; with the argument "restart" it also starts itself again the way many
 * applications restart, java with its own input arguments, and shows the child's output.
 */
public class Start {
    public static void main(String[] args) throws IOException, InterruptedException {
        for (String a : args) {
            System.out.println("arg=" + a);
        }
        System.out.println("dir=" + System.getProperty("user.dir"));
        System.out.println("heap=" + Runtime.getRuntime().maxMemory());
        if (List.of(args).contains("restart")) {
            List<String> command = new ArrayList<>();
            command.add(System.getProperty("java.home") + "/bin/java");
            command.addAll(ManagementFactory.getRuntimeMXBean().getInputArguments());
            command.addAll(List.of("-cp", System.getProperty("java.class.path"), Start.class.getName(), "child"));
            Process child = new ProcessBuilder(command).redirectErrorStream(true).start();
            String out = new String(child.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
            boolean ended = child.waitFor(60, TimeUnit.SECONDS);
            System.out.println("child " + (ended ? "status " + child.exitValue() : "still running") + ": "
                    + out.lines().filter(l -> l.startsWith("arg=")).findFirst().orElse(out));
        }
    }
}
