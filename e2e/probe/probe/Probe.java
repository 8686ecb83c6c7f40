package probe;

import java.lang.management.ManagementFactory;
import java.util.List;
import java.util.concurrent.CountDownLatch;

/**
 * An app for the end-to-end tests: reports what it received and does what the
 * comma-separated actions of the system property probe.actions ask.
 */
public final class Probe {
    private Probe() {}

    private static native String threadInfo();

    /** Starts a sleeping child with fork and exec, as a native library would; returns its pid. */
    private static native int spawnSleeper();

    /**
     * Opened once every action of main has run without an exception. A worker
     * of the thread action waits for it: it ends after main, and never when
     * main throws, so a launcher that awaited it then would hang, not race.
     */
    private static final CountDownLatch MAIN_RETURNED = new CountDownLatch(1);

    /** A main class whose name is not ASCII. */
    public static final class Grüße {
        private Grüße() {}

        public static void main(String[] args) {
            System.out.println("main of " + escape(Grüße.class.getSimpleName()));
        }
    }

    public static void main(String[] args) throws Exception {
        String actions = System.getProperty("probe.actions", "args");
        for (String action : actions.split(",")) {
            run(action.trim(), args);
        }
        System.out.flush();
        MAIN_RETURNED.countDown();
    }

    private static void run(String action, String[] args) throws Exception {
        int colon = action.indexOf(':');
        String name = colon < 0 ? action : action.substring(0, colon);
        String value = colon < 0 ? "" : action.substring(colon + 1);
        switch (name) {
            case "args":
                System.out.println("argc " + args.length);
                for (int i = 0; i < args.length; i++) {
                    System.out.println("arg " + i + ": " + escape(args[i]));
                }
                break;
            case "arg-summary": {
                // For argument lists too long to print: their count, their
                // total length in chars and List.hashCode of them.
                long chars = 0;
                for (String arg : args) {
                    chars += arg.length();
                }
                System.out.println("argc " + args.length + " chars " + chars
                        + " hash " + java.util.Arrays.asList(args).hashCode());
                break;
            }
            case "prop":
                System.out.println("prop " + value + "=" + escape(System.getProperty(value)));
                break;
            case "prop-length": {
                String property = System.getProperty(value);
                System.out.println("prop-length " + value + "=" + (property == null ? -1 : property.length()));
                break;
            }
            case "streams": {
                // What the standard streams are connected to: bytes read from
                // stdin until its end, and whether writing to stdout and
                // stderr works. Reported on both.
                int in = System.in.readAllBytes().length;
                System.out.println("to stdout");
                System.err.println("to stderr");
                String report = "stdin " + in + " bytes, stdout " + (System.out.checkError() ? "failed" : "ok")
                        + ", stderr " + (System.err.checkError() ? "failed" : "ok");
                System.out.println(report);
                System.err.println(report);
                break;
            }
            case "input-args":
                List<String> inputs = ManagementFactory.getRuntimeMXBean().getInputArguments();
                for (String input : inputs) {
                    System.out.println("jvm arg: " + escape(input));
                }
                break;
            case "env":
                System.out.println("env " + value + "=" + escape(System.getenv(value)));
                break;
            case "throw":
                throw new IllegalStateException("probe failure", new java.io.IOException("disk gone"));
            case "exit":
                System.out.flush();
                System.exit(Integer.parseInt(value));
                break;
            case "block":
                // Never ends by itself: for a run that must be stopped from outside.
                new CountDownLatch(1).await();
                break;
            case "hook":
                Runtime.getRuntime().addShutdownHook(new Thread(() -> {
                    System.out.println("hook ran");
                    System.out.flush();
                }));
                break;
            case "thread": {
                Thread worker = new Thread(() -> {
                    try {
                        MAIN_RETURNED.await();
                    } catch (InterruptedException e) {
                        return;
                    }
                    System.out.println("thread done");
                    System.out.flush();
                });
                worker.setDaemon(false);
                worker.start();
                System.out.println("main done");
                break;
            }
            case "jvm-options": {
                // The options file through the Java API, as a settings dialog writes it.
                kelderan.vorlane.launcher.JvmOptions options =
                        kelderan.vorlane.launcher.JvmOptions.forThisApp();
                System.out.println("allowed " + options.allowedPrefixes());
                options.write(List.of(value));
                System.out.println("wrote " + options.file());
                break;
            }
            case "crash": {
                // A write to address 0 through Unsafe: the JVM crashes and writes its crash log.
                java.lang.reflect.Field field =
                        Class.forName("sun.misc.Unsafe").getDeclaredField("theUnsafe");
                field.setAccessible(true);
                Object unsafe = field.get(null);
                unsafe.getClass().getMethod("putAddress", long.class, long.class)
                        .invoke(unsafe, 0L, 0L);
                break;
            }
            case "native":
                System.load(System.getProperty("probe.native"));
                System.out.println("thread " + threadInfo());
                break;
            case "single":
                // Prints each launch handed over; a launch whose first argument
                // is "quit" ends the app.
                System.out.println("single instance id=" + kelderan.vorlane.launcher.SingleInstance.id()
                        + " primary=" + kelderan.vorlane.launcher.SingleInstance.isPrimary());
                System.out.flush();
                kelderan.vorlane.launcher.SingleInstance.onLaunch(Probe::printLaunch);
                break;
            case "wait-line":
                new java.io.BufferedReader(new java.io.InputStreamReader(System.in)).readLine();
                break;
            case "sleeper":
                System.load(System.getProperty("probe.native"));
                System.out.println("spawned " + (spawnSleeper() > 0));
                System.out.flush();
                break;
            case "updater":
                kelderan.vorlane.updater.OnlineUpdater.checkForUpdates();
                System.out.println("updater ok");
                break;
            default:
                throw new IllegalArgumentException("unknown probe action " + action);
        }
    }

    private static synchronized void printLaunch(kelderan.vorlane.launcher.SingleInstance.Launch launch) {
        StringBuilder line = new StringBuilder("launch raw=");
        for (byte[] raw : launch.rawArguments()) {
            line.append('[');
            for (byte b : raw) {
                line.append(String.format("%02x", b & 0xFF));
            }
            line.append(']');
        }
        line.append(" chars=");
        for (String arg : launch.arguments()) {
            line.append('[').append(escape(arg)).append(']');
        }
        line.append(" cwd=").append(escape(launch.workingDirectory()));
        line.append(" token=").append(escape(launch.activationToken().orElse(null)));
        line.append(" startup=").append(escape(launch.startupId().orElse(null)));
        System.out.println(line);
        System.out.flush();
        if (!launch.arguments().isEmpty() && launch.arguments().get(0).equals("quit")) {
            System.exit(0);
        }
    }

    /** The string with every char outside printable ASCII (and the backslash) as \\uXXXX. */
    static String escape(String s) {
        if (s == null) {
            return "(null)";
        }
        StringBuilder out = new StringBuilder();
        for (char c : s.toCharArray()) {
            if (c >= 0x20 && c < 0x7F && c != '\\') {
                out.append(c);
            } else {
                out.append(String.format("\\u%04x", (int) c));
            }
        }
        return out.toString();
    }
}
