package kelderan.vorlane.updater;

import java.nio.file.Path;
import java.util.List;
import java.util.Map;

/**
 * The start check of a new version: its launcher runs once with
 * {@code VORLANE_LAUNCH_CHECK=1}, finds the main class and ends with status
 * 0, without running the app. Only a version that passes is switched to.
 */
final class StartCheck {
    private static final long CHECK_SECONDS = 120;

    private StartCheck() {}

    /** Starts {@code tree}'s launcher {@code bin/EXE} in its check mode; throws when it does not start. */
    static void run(Path tree, String exe) throws UpdateException {
        String failure = BoundedRun.run(List.of(tree.resolve("bin").resolve(exe).toString()), CHECK_SECONDS,
                Map.of("VORLANE_LAUNCH_CHECK", "1"));
        if (failure != null) {
            throw new UpdateException("The new version " + tree.getFileName() + " does not start (" + failure
                    + "); it was removed and the app stays on this version.");
        }
    }
}
