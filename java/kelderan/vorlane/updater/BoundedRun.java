package kelderan.vorlane.updater;

import java.io.ByteArrayOutputStream;
import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.util.List;
import java.util.Map;
import java.util.concurrent.TimeUnit;

/**
 * Runs a program of a new version (its launcher in check mode, its runtime
 * to dump a class-data archive) within a deadline, with no input and its
 * output kept aside.
 */
final class BoundedRun {
    /** How much of the output's end a failure names. */
    private static final int SHOWN = 400;

    private BoundedRun() {}

    /**
     * Runs {@code command} with {@code env} added; null when it ends with
     * status 0 within {@code seconds}, else why not. The output comes
     * through a pipe, not a file, so nothing is written where a link could
     * be planted.
     */
    static String run(List<String> command, long seconds, Map<String, String> env) throws UpdateException {
        try {
            ProcessBuilder pb = new ProcessBuilder(command).redirectErrorStream(true)
                    .redirectInput(ProcessBuilder.Redirect.from(new File("/dev/null")));
            if (env != null) {
                pb.environment().putAll(env);
            }
            Process p = pb.start();
            Tail tail = new Tail(p.getInputStream());
            tail.start();
            if (!p.waitFor(seconds, TimeUnit.SECONDS)) {
                p.destroyForcibly();
                p.waitFor(10, TimeUnit.SECONDS);
                return "it did not end within " + seconds + " s";
            }
            if (p.exitValue() == 0) {
                return null;
            }
            // A process it started may hold the pipe open: wait a little, then take what came.
            tail.join(TimeUnit.SECONDS.toMillis(10));
            String out = tail.text().trim();
            if (out.length() > SHOWN) {
                out = "..." + out.substring(out.length() - SHOWN);
            }
            return "status " + p.exitValue() + (out.isEmpty() ? "" : ": " + out.replace('\n', ' '));
        } catch (IOException e) {
            return e.getMessage();
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new UpdateException("The update was interrupted");
        }
    }

    /** Reads a process's output to its end, keeping only the last few KiB. */
    private static final class Tail extends Thread {
        private static final int KEEP = 4096;
        private final InputStream in;
        private final ByteArrayOutputStream last = new ByteArrayOutputStream();

        Tail(InputStream in) {
            super("vorlane-update-output");
            setDaemon(true);
            this.in = in;
        }

        @Override
        public void run() {
            byte[] buffer = new byte[KEEP];
            try (in) {
                for (int n; (n = in.read(buffer)) > 0; ) {
                    synchronized (this) {
                        if (last.size() + n > 2 * KEEP) {
                            byte[] all = last.toByteArray();
                            last.reset();
                            last.write(all, Math.max(0, all.length - KEEP), Math.min(all.length, KEEP));
                        }
                        last.write(buffer, 0, n);
                    }
                }
            } catch (IOException ignored) {
                // The process ended, or was ended.
            }
        }

        synchronized String text() {
            return new String(last.toByteArray(), StandardCharsets.UTF_8);
        }
    }
}
