package kelderan.vorlane.launcher;

import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.Optional;

/**
 * Launches of a single-instance app that were handed over to the running
 * one. The native launcher of an app packed with {@code --single-instance}
 * becomes the primary, or hands its command line over to the primary and
 * ends before any JVM starts; the primary queues each launch it takes from
 * then on, also while its JVM is still starting.
 *
 * <pre>{@code
 * SingleInstance.onLaunch(launch ->
 *         SwingUtilities.invokeLater(() -> open(launch.arguments(), launch.workingDirectory())));
 * }</pre>
 *
 * <p>The handler runs on a daemon thread of this class, one launch at a time,
 * in the order the primary took them. Launches taken before the first
 * {@link #onLaunch} wait for it; at most 64 launches (and 16 MiB of them)
 * wait, and a launch beyond that is refused: its process says so and exits
 * with status 1. Without single instance (another launcher,
 * or the launcher could not use it) nothing is ever delivered.
 */
public final class SingleInstance {
    /** One launch handed over to the running app. */
    public static final class Launch {
        private final List<String> arguments;
        private final List<byte[]> rawArguments;
        private final String workingDirectory;
        private final String activationToken;
        private final String startupId;

        Launch(String[] arguments, byte[][] rawArguments, String workingDirectory,
               String activationToken, String startupId) {
            this.arguments = List.of(arguments);
            List<byte[]> raw = new ArrayList<>(rawArguments.length);
            Collections.addAll(raw, rawArguments);
            this.rawArguments = Collections.unmodifiableList(raw);
            this.workingDirectory = workingDirectory;
            this.activationToken = activationToken;
            this.startupId = startupId;
        }

        /** The command-line arguments, decoded as the app's {@code main} gets its own. */
        public List<String> arguments() {
            return arguments;
        }

        /** The same arguments, as the bytes the launch had them. */
        public List<byte[]> rawArguments() {
            return rawArguments.stream().map(byte[]::clone).toList();
        }

        /** The launch's working directory, against which relative file arguments resolve. */
        public String workingDirectory() {
            return workingDirectory;
        }

        /** Its XDG_ACTIVATION_TOKEN (Wayland), to pass when raising a window. */
        public Optional<String> activationToken() {
            return Optional.ofNullable(activationToken);
        }

        /** Its DESKTOP_STARTUP_ID (X11 startup notification). */
        public Optional<String> startupId() {
            return Optional.ofNullable(startupId);
        }
    }

    /** Receives each launch handed over to the running app. */
    @FunctionalInterface
    public interface Handler {
        void launched(Launch launch);
    }

    private static volatile Handler handler;
    private static Thread deliverer;

    private SingleInstance() {}

    private static native boolean nPrimary();

    private static native Object[] nNextLaunch();

    /** The app's single-instance ID, or null when it was not packed as single instance. */
    public static String id() {
        return System.getProperty("vorlane.singleInstance");
    }

    /** True in the primary of a single-instance app, the one that receives launches. */
    public static boolean isPrimary() {
        try {
            return nPrimary();
        } catch (UnsatisfiedLinkError e) {
            return false;
        }
    }

    /**
     * Sets the handler of launches handed over, replacing any earlier one,
     * and from the first call on delivers the launches queued so far and
     * each later one. Does nothing without single instance.
     */
    public static synchronized void onLaunch(Handler newHandler) {
        if (newHandler == null) {
            throw new NullPointerException("handler");
        }
        handler = newHandler;
        if (deliverer != null || !isPrimary()) {
            return;
        }
        deliverer = new Thread(SingleInstance::deliver, "vorlane-single-instance");
        deliverer.setDaemon(true);
        deliverer.start();
    }

    private static void deliver() {
        for (;;) {
            Object[] next = nNextLaunch();
            Launch launch = new Launch((String[]) next[0], (byte[][]) next[1], (String) next[2],
                    (String) next[3], (String) next[4]);
            try {
                handler.launched(launch);
            } catch (RuntimeException e) {
                // One launch the app could not handle must not stop the next ones.
                e.printStackTrace();
            }
        }
    }
}
