package updprobe;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.Arrays;
import java.util.List;
import java.util.Optional;
import kelderan.vorlane.updater.Cancellation;
import kelderan.vorlane.updater.ProgressListener;
import kelderan.vorlane.updater.Update;
import kelderan.vorlane.updater.UpdateException;
import kelderan.vorlane.updater.Updater;

/**
 * The app the update tests install: it runs the update API on its own
 * install and prints what happened, one line each.
 *
 * <pre>
 *   (no arguments)                 version V
 *   check [--downgrade]            update V BYTES | no update
 *   apply [--downgrade] [--pause-at STEP [MARKER]] [--cancel-at STEP]
 *                                  applied V; with --pause-at, at that step it prints
 *                                  "paused at STEP", writes MARKER and waits for the end
 *                                  of its input before it goes on; --cancel-at cancels there
 *   rollback                       rolled back to V
 *   restart                        ends, and the install starts again without arguments
 *   wait                           running V, then at the end of its input: still running V DATA
 * </pre>
 * A refusal prints "error: MESSAGE" and ends with status 3.
 * UPDPROBE_TIMEOUT (seconds) bounds each network wait.
 */
public final class Main {
    private Main() {}

    public static void main(String[] args) throws Exception {
        String timeout = System.getenv("UPDPROBE_TIMEOUT");
        if (timeout != null) {
            System.setProperty("kelderan.vorlane.updater.timeout", timeout);
        }
        List<String> a = Arrays.asList(args);
        try {
            Updater u = Updater.forThisApp();
            String command = a.isEmpty() ? "version" : a.get(0);
            boolean downgrade = a.contains("--downgrade");
            switch (command) {
                case "version":
                    say("version " + u.version() + " " + u.kind());
                    break;
                case "check": {
                    Optional<Update> up = u.check(downgrade);
                    say(up.isPresent() ? "update " + up.get().version() + " " + up.get().downloadBytes()
                            : "no update");
                    break;
                }
                case "apply": {
                    int at = a.indexOf("--pause-at");
                    String pauseAt = at >= 0 ? a.get(at + 1) : null;
                    String marker = at >= 0 && at + 2 < a.size() ? a.get(at + 2) : null;
                    int c = a.indexOf("--cancel-at");
                    String cancelAt = c >= 0 ? a.get(c + 1) : null;
                    Optional<Update> up = u.check(downgrade);
                    if (up.isEmpty()) {
                        say("no update");
                        break;
                    }
                    Cancellation cancellation = new Cancellation();
                    u.apply(up.get(), new ProgressListener() {
                        @Override
                        public void step(String step) {
                            if (step.equals(pauseAt)) {
                                pause(step, marker);
                            }
                            if (step.equals(cancelAt)) {
                                cancellation.cancel();
                            }
                        }
                    }, cancellation);
                    say("applied " + up.get().version());
                    break;
                }
                case "restart":
                    u.startAfterExit(List.of());
                    System.exit(0);
                    break;
                case "rollback":
                    say("rolled back to " + u.rollback());
                    break;
                case "wait":
                    say("running " + u.version());
                    while (System.in.read() >= 0) {
                        // Until the test closes our input.
                    }
                    // A class first loaded now comes from this version's jar, after any switch.
                    say("still running " + u.version() + " " + Late.data());
                    break;
                default:
                    say("error: unknown command " + command);
                    System.exit(2);
            }
        } catch (UpdateException e) {
            say("error: " + e.getMessage());
            System.exit(3);
        }
    }

    private static void pause(String step, String marker) {
        say("paused at " + step);
        try {
            if (marker != null) {
                Files.write(Paths.get(marker), step.getBytes(StandardCharsets.UTF_8));
            }
            while (System.in.read() >= 0) {
                // Until the test closes our input, or kills us.
            }
        } catch (IOException e) {
            throw new IllegalStateException(e);
        }
    }

    static void say(String line) {
        System.out.println(line);
        System.out.flush();
    }

    /** Loaded only at the end of "wait". */
    static final class Late {
        private Late() {}

        static String data() throws IOException {
            Path self = Paths.get(Main.class.getProtectionDomain().getCodeSource().getLocation().getPath());
            Path data = self.resolveSibling("data.txt");
            return Files.exists(data) ? new String(Files.readAllBytes(data), StandardCharsets.UTF_8).trim() : "-";
        }
    }
}
