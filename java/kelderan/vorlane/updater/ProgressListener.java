package kelderan.vorlane.updater;

/**
 * What {@link Updater#apply} reports while it works. Both methods are called
 * on the thread that runs the apply.
 */
public interface ProgressListener {
    /** Bytes fetched so far, of {@code total} for this apply (compressed, as on the site). */
    default void progress(long done, long total) {}

    /**
     * The apply reached a step: "download", "downloaded", "build", "built",
     * "check", "switch", "switched", in that order.
     */
    default void step(String step) {}
}
