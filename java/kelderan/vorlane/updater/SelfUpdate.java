package kelderan.vorlane.updater;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.util.ArrayList;
import java.util.HashSet;
import java.util.List;
import java.util.Set;

/**
 * The apply of a version to a tarball install ({@link InstallLayout}),
 * step by step under the install's {@link InstallLock}: fetch the objects
 * it lacks ({@link Downloads}), build the tree in {@code .staging-V/}
 * ({@link TreeBuilder}), sync it and rename it to {@code V}, start it once
 * ({@link StartCheck}), and only then switch the link ({@link LinkSwitch})
 * and keep the signed manifest as {@code .manifests/V}. Whatever a killed
 * apply left behind the next one removes; a kill at any point leaves the
 * link on a whole version.
 *
 * <p>Whoever owns the install may not be whoever runs the update: every file
 * the steps write is opened without following links, in folders they
 * checked are folders of the install and not links, and nothing they make
 * is writable by group or others, whatever modes the manifest names.
 */
final class SelfUpdate {
    private final InstallLayout layout;
    private final String name;
    private final Fetcher fetcher;
    private final String site;
    private final LocalHashes hashes = new LocalHashes();
    private final Downloads downloads;

    /** The update of {@code layout}, app {@code name}, from the update site {@code site} through {@code fetcher}. */
    SelfUpdate(InstallLayout layout, String name, Fetcher fetcher, String site) {
        this.layout = layout;
        this.name = name;
        this.fetcher = fetcher;
        this.site = site;
        this.downloads = new Downloads(layout.downloads(), hashes);
    }

    /** The bytes to fetch for {@code m}: the objects neither the current version nor {@code .downloads} has. */
    long downloadBytes(Manifest m) throws UpdateException {
        return downloads.bytesToFetch(m, layout.version(layout.currentVersion()));
    }

    /**
     * Installs {@code m} beside the current version and switches to it; on
     * any failure or a cancel it throws and the install is as it was
     * (checked downloads stay). {@code signed} is the manifest as signed,
     * kept once the switch is done.
     */
    @SuppressWarnings("try") // The lock is held for the whole block.
    void apply(Manifest m, byte[] signed, ProgressListener listener, Cancellation cancel) throws UpdateException {
        try (InstallLock lock = InstallLock.take(layout.versions())) {
            layout.removeLeftovers();
            String current = layout.currentVersion();
            if (m.version.equals(current)) {
                throw new UpdateException(name + " " + current + " is already the current version");
            }
            Path currentTree = layout.version(current);
            Path target = layout.version(m.version);
            Path staging = layout.staging(m.version);
            // A version folder of the same name (built by an apply that did not switch, or one
            // rolled back from) waits here until the switch, and goes back on a failure.
            Path aside = layout.aside(m.version);
            boolean placed = false;
            try {
                listener.step("download");
                downloads.fetch(m, currentTree, fetcher, site, listener, cancel);
                listener.step("downloaded");
                listener.step("build");
                List<Path> sources = new ArrayList<>();
                for (Path source : List.of(currentTree, target)) {
                    // A version folder that is a link could lend files from anywhere.
                    if (Files.isDirectory(source, LinkOption.NOFOLLOW_LINKS)) {
                        sources.add(source);
                    }
                }
                new TreeBuilder(downloads, hashes).build(m, staging, sources, cancel);
                listener.step("built");
                if (Files.exists(target, LinkOption.NOFOLLOW_LINKS)) {
                    Files.move(target, aside, StandardCopyOption.ATOMIC_MOVE);
                }
                Files.move(staging, target, StandardCopyOption.ATOMIC_MOVE);
                placed = true;
                UpdateFiles.sync(layout.versions());
                listener.step("check");
                StartCheck.run(target, layout.exe());
                UpdateFiles.stopIfCancelled(cancel);
                listener.step("switch");
                LinkSwitch.switchTo(layout, m.version);
                placed = false;
                listener.step("switched");
            } catch (IOException | UpdateException e) {
                if (placed) {
                    UpdateFiles.deleteTree(target);
                }
                if (Files.exists(aside, LinkOption.NOFOLLOW_LINKS)
                        && !Files.exists(target, LinkOption.NOFOLLOW_LINKS)) {
                    try {
                        Files.move(aside, target, StandardCopyOption.ATOMIC_MOVE);
                    } catch (IOException ignored) {
                        // The next apply removes it.
                    }
                }
                UpdateFiles.deleteTree(staging);
                throw e instanceof IOException ? UpdateFiles.ioFailure((IOException) e) : (UpdateException) e;
            }
            UpdateFiles.deleteTree(aside);
            layout.keepManifest(m.version, signed);
            // The new version and the one before it stay, and any that a process of this install runs;
            // older ones and the objects go.
            Set<String> keep = new HashSet<>(Set.of(m.version, current));
            keep.addAll(layout.versionsInUse());
            layout.removeVersionsBut(keep);
            downloads.removeAll();
        }
    }
}
