package kelderan.vorlane.updater;

/**
 * Asks the native launcher to check for a newer version of the app. The
 * launcher binds {@link #nCheckForUpdates} when it starts the JVM.
 */
public final class OnlineUpdater {
    private OnlineUpdater() {}

    /** Starts an update check; returns at once. */
    public static void checkForUpdates() {
        nCheckForUpdates();
    }

    private static native void nCheckForUpdates();
}
