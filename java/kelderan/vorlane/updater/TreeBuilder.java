package kelderan.vorlane.updater;

import java.io.IOException;
import java.io.InputStream;
import java.nio.ByteBuffer;
import java.nio.channels.FileChannel;
import java.nio.file.FileVisitResult;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.SimpleFileVisitor;
import java.nio.file.StandardOpenOption;
import java.nio.file.attribute.BasicFileAttributeView;
import java.nio.file.attribute.FileTime;
import java.security.MessageDigest;
import java.util.ArrayList;
import java.util.List;
import java.util.Set;
import java.util.concurrent.TimeUnit;
import java.util.zip.GZIPInputStream;

/**
 * Builds a version's tree from its manifest: files hard-linked from the
 * install's trees when they are the same bytes, mode and time, copied when
 * only the bytes match, else written from the checked objects; links as
 * the manifest says; class-data archives remade by the new runtime; modes
 * never writable by group or others; all synced.
 */
final class TreeBuilder {
    private static final long REMAKE_SECONDS = 300;

    private final Downloads downloads;
    private final LocalHashes hashes;

    TreeBuilder(Downloads downloads, LocalHashes hashes) {
        this.downloads = downloads;
        this.hashes = hashes;
    }

    /** Builds {@code m}'s tree in {@code staging}, from the trees in {@code sources} where they hold the same bytes. */
    void build(Manifest m, Path staging, List<Path> sources, Cancellation cancel)
            throws UpdateException, IOException {
        UpdateFiles.deleteTree(staging);
        Files.createDirectory(staging, UpdateFiles.FOLDER);
        List<Manifest.Entry> dirs = new ArrayList<>();
        List<Manifest.Entry> remakes = new ArrayList<>();
        for (Manifest.Entry e : m.entries) {
            UpdateFiles.stopIfCancelled(cancel);
            Path dest = staging.resolve(e.path);
            if (e.kind == 'd') {
                Files.createDirectories(dest, UpdateFiles.FOLDER);
                dirs.add(e);
                continue;
            }
            Files.createDirectories(dest.getParent(), UpdateFiles.FOLDER);
            switch (e.kind) {
                case 'l':
                    Files.createSymbolicLink(dest, Paths.get(e.target));
                    break;
                case 'r':
                    remakes.add(e);
                    break;
                default:
                    placeFile(e, dest, sources, cancel);
            }
        }
        for (Manifest.Entry r : remakes) {
            UpdateFiles.stopIfCancelled(cancel);
            remake(staging, r.path, r.options);
            Path archive = staging.resolve(r.path);
            if (UpdateFiles.isPlainFile(archive)) {
                UpdateFiles.setMode(archive, r.mode);
            }
        }
        // Modes of folders last: a folder without write permission takes no more entries.
        List<Path> folders = new ArrayList<>();
        for (Manifest.Entry d : dirs) {
            folders.add(staging.resolve(d.path));
        }
        Files.walkFileTree(staging, new SimpleFileVisitor<>() {
            @Override
            public FileVisitResult postVisitDirectory(Path dir, IOException failure) throws IOException {
                UpdateFiles.sync(dir);
                return FileVisitResult.CONTINUE;
            }
        });
        for (int i = dirs.size() - 1; i >= 0; i--) {
            UpdateFiles.setMode(folders.get(i), dirs.get(i).mode);
        }
    }

    private void placeFile(Manifest.Entry e, Path dest, List<Path> sources, Cancellation cancel)
            throws UpdateException, IOException {
        for (Path source : sources) {
            if (!hashes.sameBytes(source, e)) {
                continue;
            }
            Path from = source.resolve(e.path);
            if (Files.getLastModifiedTime(from, LinkOption.NOFOLLOW_LINKS).to(TimeUnit.SECONDS) == e.mtime
                    && UpdateFiles.modeOf(from) == UpdateFiles.safeMode(e.mode)) {
                // Same inode: its mode and time are already right, and setting them would change the source.
                Files.createLink(dest, from);
                return;
            }
            Files.copy(from, dest, LinkOption.NOFOLLOW_LINKS);
            finish(dest, e);
            return;
        }
        Path object = downloads.object(e.sha256);
        MessageDigest sha = UpdateFiles.sha256();
        try (InputStream in = new GZIPInputStream(Files.newInputStream(object, LinkOption.NOFOLLOW_LINKS), 65536);
                FileChannel out = FileChannel.open(dest, Set.of(StandardOpenOption.CREATE_NEW,
                        StandardOpenOption.WRITE, LinkOption.NOFOLLOW_LINKS), UpdateFiles.PRIVATE)) {
            byte[] buffer = new byte[65536];
            long size = 0;
            // Never more than one byte past the size: an object that inflates without end is refused there.
            for (int n; size <= e.size
                    && (n = in.read(buffer, 0, UpdateFiles.upToOnePast(buffer.length, e.size - size))) > 0; ) {
                UpdateFiles.stopIfCancelled(cancel);
                sha.update(buffer, 0, n);
                ByteBuffer b = ByteBuffer.wrap(buffer, 0, n);
                while (b.hasRemaining()) {
                    out.write(b);
                }
                size += n;
            }
            if (size != e.size || !UpdateFiles.hex(sha.digest()).equals(e.sha256)) {
                Files.deleteIfExists(object);
                throw new UpdateException("The downloaded file " + e.path + " changed on disk and no longer matches"
                        + " its hash; the next try fetches it again. Nothing was changed.");
            }
            out.force(true);
        } catch (NoSuchFileException missing) {
            throw new UpdateException("The update's file " + e.path + " was not downloaded; try again", missing);
        }
        finish(dest, e);
    }

    private static void finish(Path dest, Manifest.Entry e) throws IOException {
        UpdateFiles.setMode(dest, e.mode);
        Files.getFileAttributeView(dest, BasicFileAttributeView.class, LinkOption.NOFOLLOW_LINKS)
                .setTimes(FileTime.from(e.mtime, TimeUnit.SECONDS), null, null);
        try (FileChannel c = FileChannel.open(dest, StandardOpenOption.WRITE, LinkOption.NOFOLLOW_LINKS)) {
            c.force(true);
        }
    }

    /**
     * Dumps a runtime class-data archive that the feed does not ship, with
     * the options its entry carries (and no others: the feed says what the
     * archive is for, not its name). A failure costs start-up time only: a note, and no
     * archive, which the JVM then does without.
     */
    private static void remake(Path tree, String path, List<String> options) throws UpdateException {
        Path java = tree.resolve("lib/runtime/bin/java");
        Path archive = tree.resolve(path);
        List<String> command = new ArrayList<>(List.of(java.toString(), "-Xshare:dump",
                "-XX:SharedArchiveFile=" + archive));
        command.addAll(options);
        String failure = BoundedRun.run(command, REMAKE_SECONDS, null);
        if (failure != null) {
            System.err.println("Note: the new version's class-data archive " + path + " was not made (" + failure
                    + "); it starts without it, a little slower.");
            try {
                Files.deleteIfExists(archive);
            } catch (IOException ignored) {
                // The JVM sets aside an archive it cannot map.
            }
        }
    }
}
