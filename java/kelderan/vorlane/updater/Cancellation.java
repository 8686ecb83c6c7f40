package kelderan.vorlane.updater;

/**
 * Asks a running {@link Updater#apply} or {@link Updater#check(boolean, Cancellation)}
 * to stop. The apply checks it at each block it reads, inflates or writes
 * and before the switch, and a request that waits for the site ends at
 * once; a cancelled apply throws {@link UpdateException} and leaves the
 * install as it was (downloaded objects stay, for the next try).
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
