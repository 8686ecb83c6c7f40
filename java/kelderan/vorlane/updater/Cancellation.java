package kelderan.vorlane.updater;

/**
 * Asks a running {@link Updater#apply} to stop. The apply checks it at each
 * block it reads or writes and before the switch; a cancelled apply throws
 * {@link UpdateException} and leaves the install as it was (downloaded
 * objects stay, for the next try).
 */
public final class Cancellation {
    private volatile boolean cancelled;

    /** Asks the apply to stop; safe from any thread. */
    public void cancel() {
        cancelled = true;
    }

    public boolean isCancelled() {
        return cancelled;
    }
}
