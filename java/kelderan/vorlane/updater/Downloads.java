package kelderan.vorlane.updater;

import java.io.IOException;
import java.io.InputStream;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.security.MessageDigest;
import java.util.ArrayList;
import java.util.HashSet;
import java.util.List;
import java.util.Set;
import java.util.zip.GZIPInputStream;

/**
 * {@code R/versions/.downloads/}: the objects of a version that the
 * install lacks, fetched as {@code HASH.part} (resumed with a Range
 * request) and renamed to {@code HASH} once their content's hash is
 * checked. A link or folder planted in the place of the folder or of an
 * object is removed (never its target).
 */
final class Downloads {
    private final Path dir;
    private final LocalHashes hashes;

    Downloads(Path dir, LocalHashes hashes) {
        this.dir = dir;
        this.hashes = hashes;
    }

    /** The checked object of content hash {@code sha256}. */
    Path object(String sha256) {
        return dir.resolve(sha256);
    }

    private Path part(String sha256) {
        return dir.resolve(sha256 + ".part");
    }

    /** The bytes to fetch for {@code m}: the objects neither {@code currentTree} nor this folder has. */
    long bytesToFetch(Manifest m, Path currentTree) {
        long total = 0;
        Set<String> counted = new HashSet<>();
        for (Manifest.Entry e : m.entries) {
            if (e.kind != 'f' || !counted.add(e.sha256) || hashes.sameBytes(currentTree, e)
                    || UpdateFiles.isPlainFile(object(e.sha256))) {
                continue;
            }
            total = UpdateFiles.addSaturated(total, Math.max(0, e.stored - UpdateFiles.plainSize(part(e.sha256))));
        }
        return total;
    }

    /**
     * Fetches from {@code site} and checks every object of {@code m} that
     * neither {@code currentTree} nor this folder has, reporting the bytes
     * as they come.
     */
    void fetch(Manifest m, Path currentTree, Fetcher fetcher, String site, ProgressListener listener,
            Cancellation cancel) throws UpdateException, IOException {
        List<Manifest.Entry> needed = new ArrayList<>();
        Set<String> seen = new HashSet<>();
        long total = 0;
        long done = 0;
        if (Files.exists(dir, LinkOption.NOFOLLOW_LINKS)) {
            UpdateFiles.realFolder(dir);
        }
        for (Manifest.Entry e : m.entries) {
            if (e.kind == 'f' && seen.add(e.sha256) && !hashes.sameBytes(currentTree, e)
                    && !UpdateFiles.isPlainFile(object(e.sha256))) {
                needed.add(e);
                total = UpdateFiles.addSaturated(total, e.stored);
                done = UpdateFiles.addSaturated(done, Math.min(e.stored, UpdateFiles.plainSize(part(e.sha256))));
            }
        }
        if (needed.isEmpty()) {
            return;
        }
        UpdateFiles.realFolder(dir);
        final long all = total;
        final long[] progress = {done};
        listener.progress(done, all);
        for (Manifest.Entry e : needed) {
            UpdateFiles.stopIfCancelled(cancel);
            Path part = part(e.sha256);
            String url = site + "/files/sha256/" + e.sha256.substring(0, 2) + "/" + e.sha256.substring(2);
            Path object = object(e.sha256);
            // Not a plain file: a link or a folder planted in its place; it goes, its target stays.
            UpdateFiles.deleteTree(object);
            fetcher.download(url, part, e.stored, bytes -> {
                UpdateFiles.stopIfCancelled(cancel);
                progress[0] = UpdateFiles.addSaturated(progress[0], bytes);
                listener.progress(progress[0], all);
            }, cancel);
            String got;
            try (InputStream in = Files.newInputStream(part, LinkOption.NOFOLLOW_LINKS)) {
                got = unpackedHash(in, e.size, cancel);
            }
            if (!got.equals(e.sha256)) {
                Files.deleteIfExists(part);
                throw new UpdateException("The update's file " + e.path + " does not match its hash in the"
                        + " signed manifest: the site holds other bytes. Nothing was changed.");
            }
            Files.move(part, object, StandardCopyOption.ATOMIC_MOVE);
            UpdateFiles.sync(dir);
        }
    }

    /** Removes the folder and all it holds, once the version they were for is in place. */
    void removeAll() {
        UpdateFiles.deleteTree(dir);
    }

    /**
     * The SHA-256 of a gzip object's content, or "" when it is no gzip or not
     * {@code size} bytes. It inflates at most one byte past {@code size}, so
     * an object that inflates to far more costs no more than a right one.
     */
    static String unpackedHash(InputStream object, long size, Cancellation cancel) throws UpdateException {
        MessageDigest sha = UpdateFiles.sha256();
        long n = 0;
        try (InputStream in = new GZIPInputStream(object, 65536)) {
            byte[] buffer = new byte[65536];
            for (int r; n <= size && (r = in.read(buffer, 0, UpdateFiles.upToOnePast(buffer.length, size - n))) > 0; ) {
                UpdateFiles.stopIfCancelled(cancel);
                sha.update(buffer, 0, r);
                n += r;
            }
        } catch (IOException e) {
            return "";
        }
        return n == size ? UpdateFiles.hex(sha.digest()) : "";
    }
}
