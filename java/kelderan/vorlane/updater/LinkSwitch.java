package kelderan.vorlane.updater;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardCopyOption;
import java.util.List;
import java.util.function.Predicate;

/**
 * The switch of an install to a version, and the rollback to the one
 * before: a new link {@code R/bin/.NAME.new} to the version's launcher is
 * renamed over {@code R/bin/NAME}, so a kill at any point leaves the link
 * on a whole version.
 */
final class LinkSwitch {
    private LinkSwitch() {}

    /** Renames a new link to {@code version}'s launcher over {@code R/bin/NAME}: one atomic step. */
    static void switchTo(InstallLayout layout, String version) throws IOException {
        Path fresh = layout.freshLink();
        Path link = layout.installLink();
        Files.deleteIfExists(fresh);
        Files.createSymbolicLink(fresh, Paths.get("..", "versions", version, "bin", layout.exe()));
        Files.move(fresh, link, StandardCopyOption.ATOMIC_MOVE);
        UpdateFiles.sync(link.getParent());
    }

    /**
     * Switches the install back to the newest version before the current one
     * that still has its launcher, under the install's lock, and returns it;
     * {@code name} is the app's, for the message when there is none.
     */
    @SuppressWarnings("try") // The lock is held for the whole block.
    static String rollback(InstallLayout layout, String name) throws UpdateException {
        try (InstallLock lock = InstallLock.take(layout.versions())) {
            layout.removeLeftovers();
            String current = layout.currentVersion();
            String previous = previousVersion(current, layout.versionDirs(),
                    v -> UpdateFiles.isPlainFile(layout.version(v).resolve("bin").resolve(layout.exe())));
            if (previous == null) {
                throw new UpdateException("There is no version of " + name + " before " + current
                        + " to go back to");
            }
            try {
                switchTo(layout, previous);
            } catch (IOException e) {
                throw UpdateFiles.ioFailure(e);
            }
            return previous;
        }
    }

    /**
     * The newest of {@code versions} that is older than {@code current} (in
     * the version order) and {@code usable}, or null: a rollback never goes
     * forward, so a second one goes further back, not back to where it was.
     */
    static String previousVersion(String current, List<String> versions, Predicate<String> usable) {
        String previous = null;
        for (String v : versions) {
            if (Versions.compare(v, current) < 0 && (previous == null || Versions.compare(v, previous) > 0)
                    && usable.test(v)) {
                previous = v;
            }
        }
        return previous;
    }
}
