package demo;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;

/** A small app that shows what the launcher handed it. */
public final class Main {
    private Main() {}

    public static void main(String[] args) {
        long ageMillis = processAgeMillis();
        System.out.println("Hello from a Vorlane-launched app.");
        System.out.println();
        System.out.println("Arguments (" + args.length + "):");
        for (int i = 0; i < args.length; i++) {
            System.out.println("  [" + i + "] " + args[i]);
        }
        System.out.println();
        System.out.println("System properties the launcher set:");
        for (String key : new String[] {"app.dir", "java.class.path", "sun.java.command",
                "java.home", "java.version", "file.encoding"}) {
            System.out.println("  " + key + " = " + System.getProperty(key));
        }
        System.out.println();
        System.out.println("Main thread: \"" + Thread.currentThread().getName() + "\"");
        if (ageMillis >= 0) {
            System.out.println("From process start to main(): about " + ageMillis
                    + " ms (the kernel counts in 10 ms ticks)");
        }
    }

    /** How long ago the kernel started this process, from /proc; -1 if unknown. */
    private static long processAgeMillis() {
        try {
            String uptime = Files.readString(Path.of("/proc/uptime"));
            String stat = Files.readString(Path.of("/proc/self/stat"));
            double upSeconds = Double.parseDouble(uptime.split(" ")[0]);
            // Fields after the command name, which is in parentheses and may hold spaces.
            String[] fields = stat.substring(stat.lastIndexOf(')') + 2).split(" ");
            long startTicks = Long.parseLong(fields[19]);
            return Math.round((upSeconds - startTicks / 100.0) * 1000);
        } catch (IOException | RuntimeException e) {
            return -1;
        }
    }
}
