package kelderan.vorlane.updater;

import java.io.IOException;
import java.io.InputStream;
import java.nio.ByteBuffer;
import java.nio.channels.FileChannel;
import java.nio.channels.FileLock;
import java.nio.channels.OverlappingFileLockException;
import java.nio.charset.StandardCharsets;
import java.nio.file.DirectoryStream;
import java.nio.file.FileVisitResult;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.SimpleFileVisitor;
import java.nio.file.StandardCopyOption;
import java.nio.file.StandardOpenOption;
import java.nio.file.attribute.BasicFileAttributeView;
import java.nio.file.attribute.BasicFileAttributes;
import java.nio.file.attribute.FileAttribute;
import java.nio.file.attribute.FileTime;
import java.nio.file.attribute.PosixFileAttributeView;
import java.nio.file.attribute.PosixFilePermission;
import java.nio.file.attribute.PosixFilePermissions;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.util.ArrayList;
import java.util.EnumSet;
import java.util.HashMap;
import java.util.HashSet;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.concurrent.TimeUnit;
import java.util.function.Predicate;
import java.util.zip.GZIPInputStream;

/**
 * The self-update of a tarball install {@code R}: {@code R/bin/NAME} links
 * to {@code ../versions/V/bin/NAME}, and everything this class writes lives
 * under {@code R/versions/} until the one rename that switches the link.
 *
 * <ul>
 * <li>{@code .lock}: held for the whole apply or rollback, so a second one
 *     is refused and changes nothing;
 * <li>{@code .downloads/HASH.part}, then {@code HASH}: objects as fetched
 *     (resumed with a Range request) and, once their content's hash is
 *     checked, complete;
 * <li>{@code .staging-V/}: the new tree, files hard-linked from the current
 *     version when they are the same bytes, mode and time, else written from
 *     the objects; synced, then renamed to {@code V}.
 * </ul>
 * The new version is started once in its check mode; only a version that
 * starts is switched to, by renaming a new link {@code R/bin/.NAME.new}
 * over {@code R/bin/NAME}; its signed manifest is kept as
 * {@code .manifests/V}. Whatever a killed apply left behind the next one
 * removes; a kill at any point leaves the link on a whole version.
 *
 * <p>Whoever owns the install may not be whoever runs the update: every file
 * this class writes is opened without following links, in folders it
 * checked are folders of the install and not links, and nothing it makes is
 * writable by group or others, whatever modes the manifest names.
 */
final class SelfUpdate {
    private static final String STAGING = ".staging-";
    private static final String MANIFESTS = ".manifests";
    /** Modes never given to what the updater makes: group and others do not write. */
    private static final int NO_WRITE_BY_OTHERS = 022;
    private static final long CHECK_SECONDS = 120;
    private static final long REMAKE_SECONDS = 300;

    private final Updater updater;
    private final Path root;
    private final Path versions;
    private final Path downloads;
    private final String exe;
    private final Path link;
    private final Map<String, String> localHashes = new HashMap<>();

    private SelfUpdate(Updater updater, Path root, Path link, String exe) {
        this.updater = updater;
        this.root = root;
        this.versions = root.resolve("versions");
        this.downloads = versions.resolve(".downloads");
        this.exe = exe;
        this.link = link;
    }

    static SelfUpdate of(Updater u) throws UpdateException {
        Path tree = u.tree();
        Path versions = tree.getParent();
        String exe = u.launcherName();
        if (versions != null && versions.getFileName().toString().equals("versions")) {
            // R/bin/NAME is named after the package; it links to the launcher, which may be named otherwise.
            Path bin = versions.getParent().resolve("bin");
            if (Files.isSymbolicLink(bin)) {
                throw new UpdateException(bin + " is a symbolic link, not the install's own folder: the update"
                        + " is refused and nothing was changed (make it a folder again)");
            }
            for (String name : List.of(u.name(), exe)) {
                if (Files.isSymbolicLink(bin.resolve(name))) {
                    return new SelfUpdate(u, versions.getParent(), bin.resolve(name), exe);
                }
            }
        }
        throw new UpdateException("This install cannot update itself: it is not laid out as"
                + " NAME/bin/" + u.name() + " -> ../versions/VERSION/bin/" + exe + " (a tarball made with"
                + " vorlane-pack package --update-feed-key)");
    }

    Path installLink() {
        return link;
    }

    /** The version {@code R/bin/NAME} points to. */
    String currentVersion() throws UpdateException {
        try {
            Path target = Files.readSymbolicLink(link);
            // ../versions/V/bin/NAME
            if (target.getNameCount() == 5 && target.getName(0).toString().equals("..")
                    && target.getName(1).toString().equals("versions")) {
                return target.getName(2).toString();
            }
            throw new UpdateException(link + " points to " + target + ", not to a version under " + versions);
        } catch (IOException e) {
            throw new UpdateException("Cannot read " + link + ": " + e.getMessage(), e);
        }
    }

    /** The bytes to fetch for {@code m}: the objects neither the current version nor {@code .downloads} has. */
    long downloadBytes(Manifest m) throws UpdateException {
        Path current = versions.resolve(currentVersion());
        long total = 0;
        Set<String> counted = new HashSet<>();
        for (Manifest.Entry e : m.entries) {
            if (e.kind != 'f' || !counted.add(e.sha256) || sameBytes(current, e)
                    || isPlainFile(downloads.resolve(e.sha256))) {
                continue;
            }
            total = addSaturated(total, Math.max(0, e.stored - plainSize(downloads.resolve(e.sha256 + ".part"))));
        }
        return total;
    }

    /** {@code a + b}, or {@link Long#MAX_VALUE} where that sum of sizes does not fit. */
    static long addSaturated(long a, long b) {
        long sum = a + b;
        return ((a ^ sum) & (b ^ sum)) < 0 ? (a < 0 ? Long.MIN_VALUE : Long.MAX_VALUE) : sum;
    }

    /** The size of a plain file, not through a link; 0 when there is none. */
    private static long plainSize(Path p) {
        try {
            BasicFileAttributes a = Files.readAttributes(p, BasicFileAttributes.class, LinkOption.NOFOLLOW_LINKS);
            return a.isRegularFile() ? a.size() : 0;
        } catch (IOException e) {
            return 0;
        }
    }

    /** Whether {@code p} is a plain file, not a link. */
    private static boolean isPlainFile(Path p) {
        return Files.isRegularFile(p, LinkOption.NOFOLLOW_LINKS);
    }

    @SuppressWarnings("try") // The lock is held for the whole block.
    void apply(Manifest m, byte[] signed, ProgressListener listener, Cancellation cancel) throws UpdateException {
        try (Lock lock = lock()) {
            removeLeftovers();
            String current = currentVersion();
            if (m.version.equals(current)) {
                throw new UpdateException(updater.name() + " " + current + " is already the current version");
            }
            Path currentTree = versions.resolve(current);
            Path target = versions.resolve(m.version);
            Path staging = versions.resolve(STAGING + m.version);
            // A version folder of the same name (built by an apply that did not switch, or one
            // rolled back from) waits here until the switch, and goes back on a failure.
            Path aside = versions.resolve(STAGING + m.version + ".old");
            boolean placed = false;
            try {
                listener.step("download");
                fetch(m, currentTree, listener, cancel);
                listener.step("downloaded");
                listener.step("build");
                List<Path> sources = new ArrayList<>();
                for (Path source : List.of(currentTree, target)) {
                    // A version folder that is a link could lend files from anywhere.
                    if (Files.isDirectory(source, LinkOption.NOFOLLOW_LINKS)) {
                        sources.add(source);
                    }
                }
                build(m, staging, sources, cancel);
                listener.step("built");
                if (Files.exists(target, LinkOption.NOFOLLOW_LINKS)) {
                    Files.move(target, aside, StandardCopyOption.ATOMIC_MOVE);
                }
                Files.move(staging, target, StandardCopyOption.ATOMIC_MOVE);
                placed = true;
                sync(versions);
                listener.step("check");
                startCheck(target);
                stopIfCancelled(cancel);
                listener.step("switch");
                switchTo(m.version);
                placed = false;
                listener.step("switched");
            } catch (IOException | UpdateException e) {
                if (placed) {
                    deleteTree(target);
                }
                if (Files.exists(aside, LinkOption.NOFOLLOW_LINKS) && !Files.exists(target, LinkOption.NOFOLLOW_LINKS)) {
                    try {
                        Files.move(aside, target, StandardCopyOption.ATOMIC_MOVE);
                    } catch (IOException ignored) {
                        // The next apply removes it.
                    }
                }
                deleteTree(staging);
                throw e instanceof IOException ? ioFailure((IOException) e) : (UpdateException) e;
            }
            deleteTree(aside);
            keepManifest(m.version, signed);
            // The new version and the one before it stay, and any that a process of this install runs;
            // older ones and the objects go.
            Set<String> keep = new HashSet<>(Set.of(m.version, current));
            List<Path> live = liveExecutables();
            keep.addAll(live != null ? runningVersions(versions, live) : versionDirs());
            removeVersionsBut(keep);
            deleteTree(downloads);
        }
    }

    @SuppressWarnings("try")
    String rollback() throws UpdateException {
        try (Lock lock = lock()) {
            removeLeftovers();
            String current = currentVersion();
            String previous = previousVersion(current, versionDirs(),
                    v -> isPlainFile(versions.resolve(v).resolve("bin").resolve(exe)));
            if (previous == null) {
                throw new UpdateException("There is no version of " + updater.name() + " before " + current
                        + " to go back to");
            }
            try {
                switchTo(previous);
            } catch (IOException e) {
                throw ioFailure(e);
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

    /** Fetches and checks every object that neither the current tree nor {@code .downloads} has. */
    private void fetch(Manifest m, Path currentTree, ProgressListener listener, Cancellation cancel)
            throws UpdateException, IOException {
        List<Manifest.Entry> needed = new ArrayList<>();
        Set<String> seen = new HashSet<>();
        long total = 0;
        long done = 0;
        if (Files.exists(downloads, LinkOption.NOFOLLOW_LINKS)) {
            realFolder(downloads);
        }
        for (Manifest.Entry e : m.entries) {
            if (e.kind == 'f' && seen.add(e.sha256) && !sameBytes(currentTree, e)
                    && !isPlainFile(downloads.resolve(e.sha256))) {
                needed.add(e);
                total = addSaturated(total, e.stored);
                done = addSaturated(done, Math.min(e.stored, plainSize(downloads.resolve(e.sha256 + ".part"))));
            }
        }
        if (needed.isEmpty()) {
            return;
        }
        realFolder(downloads);
        Fetcher fetcher = updater.fetcher();
        final long all = total;
        final long[] progress = {done};
        listener.progress(done, all);
        for (Manifest.Entry e : needed) {
            stopIfCancelled(cancel);
            Path part = downloads.resolve(e.sha256 + ".part");
            String url = updater.site() + "/files/sha256/" + e.sha256.substring(0, 2) + "/" + e.sha256.substring(2);
            Path object = downloads.resolve(e.sha256);
            // Not a plain file: a link or a folder planted in its place; it goes, its target stays.
            deleteTree(object);
            fetcher.download(url, part, e.stored, bytes -> {
                stopIfCancelled(cancel);
                progress[0] = addSaturated(progress[0], bytes);
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
            sync(downloads);
        }
    }

    /** Builds {@code m}'s tree in {@code staging}, from the trees in {@code sources} where they hold the same bytes. */
    private void build(Manifest m, Path staging, List<Path> sources, Cancellation cancel)
            throws UpdateException, IOException {
        deleteTree(staging);
        Files.createDirectory(staging, FOLDER);
        List<Manifest.Entry> dirs = new ArrayList<>();
        List<Manifest.Entry> remakes = new ArrayList<>();
        for (Manifest.Entry e : m.entries) {
            stopIfCancelled(cancel);
            Path dest = staging.resolve(e.path);
            if (e.kind == 'd') {
                Files.createDirectories(dest, FOLDER);
                dirs.add(e);
                continue;
            }
            Files.createDirectories(dest.getParent(), FOLDER);
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
            stopIfCancelled(cancel);
            remake(staging, r.path);
            Path archive = staging.resolve(r.path);
            if (isPlainFile(archive)) {
                setMode(archive, r.mode);
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
                sync(dir);
                return FileVisitResult.CONTINUE;
            }
        });
        for (int i = dirs.size() - 1; i >= 0; i--) {
            setMode(folders.get(i), dirs.get(i).mode);
        }
    }

    private void placeFile(Manifest.Entry e, Path dest, List<Path> sources, Cancellation cancel)
            throws UpdateException, IOException {
        for (Path source : sources) {
            if (!sameBytes(source, e)) {
                continue;
            }
            Path from = source.resolve(e.path);
            if (Files.getLastModifiedTime(from, LinkOption.NOFOLLOW_LINKS).to(TimeUnit.SECONDS) == e.mtime
                    && modeOf(from) == safeMode(e.mode)) {
                // Same inode: its mode and time are already right, and setting them would change the source.
                Files.createLink(dest, from);
                return;
            }
            Files.copy(from, dest, LinkOption.NOFOLLOW_LINKS);
            finish(dest, e);
            return;
        }
        Path object = downloads.resolve(e.sha256);
        MessageDigest sha = sha256();
        try (InputStream in = new GZIPInputStream(Files.newInputStream(object, LinkOption.NOFOLLOW_LINKS), 65536);
                FileChannel out = FileChannel.open(dest, Set.of(StandardOpenOption.CREATE_NEW,
                        StandardOpenOption.WRITE, LinkOption.NOFOLLOW_LINKS), PRIVATE)) {
            byte[] buffer = new byte[65536];
            long size = 0;
            // Never more than one byte past the size: an object that inflates without end is refused there.
            for (int n; size <= e.size && (n = in.read(buffer, 0, upToOnePast(buffer.length, e.size - size))) > 0; ) {
                stopIfCancelled(cancel);
                sha.update(buffer, 0, n);
                ByteBuffer b = ByteBuffer.wrap(buffer, 0, n);
                while (b.hasRemaining()) {
                    out.write(b);
                }
                size += n;
            }
            if (size != e.size || !hex(sha.digest()).equals(e.sha256)) {
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
        setMode(dest, e.mode);
        Files.getFileAttributeView(dest, BasicFileAttributeView.class, LinkOption.NOFOLLOW_LINKS)
                .setTimes(FileTime.from(e.mtime, TimeUnit.SECONDS), null, null);
        try (FileChannel c = FileChannel.open(dest, StandardOpenOption.WRITE, LinkOption.NOFOLLOW_LINKS)) {
            c.force(true);
        }
    }

    /** Sets {@code mode} without what group and others would write, on {@code p} itself (not through a link). */
    private static void setMode(Path p, int mode) throws IOException {
        Files.getFileAttributeView(p, PosixFileAttributeView.class, LinkOption.NOFOLLOW_LINKS)
                .setPermissions(permissions(safeMode(mode)));
    }

    /** The mode the updater gives where the manifest says {@code mode}: never writable by group or others. */
    static int safeMode(int mode) {
        return mode & 0777 & ~NO_WRITE_BY_OTHERS;
    }

    private static final FileAttribute<Set<PosixFilePermission>> FOLDER =
            PosixFilePermissions.asFileAttribute(permissions(0755));
    private static final FileAttribute<Set<PosixFilePermission>> PRIVATE =
            PosixFilePermissions.asFileAttribute(permissions(0600));
    private static final FileAttribute<Set<PosixFilePermission>> SHARED =
            PosixFilePermissions.asFileAttribute(permissions(0644));

    /**
     * Makes sure {@code dir} is a folder of its own under the install, not a
     * link: a link planted in its place is removed (never what it points
     * to), with a note, and the folder made.
     */
    private static void realFolder(Path dir) throws IOException {
        if (Files.isSymbolicLink(dir) || (Files.exists(dir, LinkOption.NOFOLLOW_LINKS)
                && !Files.isDirectory(dir, LinkOption.NOFOLLOW_LINKS))) {
            System.err.println("Note: removed " + dir + ", which is not a folder the updater made ("
                    + (Files.isSymbolicLink(dir) ? "a symbolic link" : "a file") + "); its target was not touched.");
            Files.delete(dir);
        }
        if (!Files.exists(dir, LinkOption.NOFOLLOW_LINKS)) {
            Files.createDirectory(dir, FOLDER);
        }
    }

    /**
     * Dumps a runtime class-data archive that the feed does not ship, as the
     * runtime makes it. A failure costs start-up time only: a note, and no
     * archive, which the JVM then does without.
     */
    private void remake(Path tree, String path) throws UpdateException {
        Path java = tree.resolve("lib/runtime/bin/java");
        Path archive = tree.resolve(path);
        List<String> command = new ArrayList<>(List.of(java.toString(), "-Xshare:dump",
                "-XX:SharedArchiveFile=" + archive));
        if (archive.getFileName().toString().contains("nocoops")) {
            command.add("-XX:-UseCompressedOops");
        }
        String failure = run(command, REMAKE_SECONDS, null);
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

    /** Starts the new version's launcher once in its check mode; a version that does not start is removed. */
    private void startCheck(Path target) throws UpdateException {
        String failure = run(List.of(target.resolve("bin").resolve(exe).toString()), CHECK_SECONDS,
                Map.of("VORLANE_LAUNCH_CHECK", "1"));
        if (failure != null) {
            throw new UpdateException("The new version " + target.getFileName() + " does not start (" + failure
                    + "); it was removed and the app stays on this version.");
        }
    }

    /**
     * Runs a command with its output kept aside; null when it ends with status
     * 0 in time, else why not. The output comes through a pipe, not a file, so
     * nothing is written where a link could be planted.
     */
    private String run(List<String> command, long seconds, Map<String, String> env) throws UpdateException {
        try {
            ProcessBuilder pb = new ProcessBuilder(command).redirectErrorStream(true)
                    .redirectInput(ProcessBuilder.Redirect.from(new java.io.File("/dev/null")));
            if (env != null) {
                pb.environment().putAll(env);
            }
            Process p = pb.start();
            Tail tail = new Tail(p.getInputStream());
            tail.start();
            if (!p.waitFor(seconds, TimeUnit.SECONDS)) {
                p.destroyForcibly();
                p.waitFor(10, TimeUnit.SECONDS);
                return "it did not end within " + seconds + " s";
            }
            if (p.exitValue() == 0) {
                return null;
            }
            // A process it started may hold the pipe open: wait a little, then take what came.
            tail.join(TimeUnit.SECONDS.toMillis(10));
            String out = tail.text().trim();
            if (out.length() > 400) {
                out = "..." + out.substring(out.length() - 400);
            }
            return "status " + p.exitValue() + (out.isEmpty() ? "" : ": " + out.replace('\n', ' '));
        } catch (IOException e) {
            return e.getMessage();
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new UpdateException("The update was interrupted");
        }
    }

    /** Reads a process's output to its end, keeping only the last few KiB. */
    private static final class Tail extends Thread {
        private static final int KEEP = 4096;
        private final InputStream in;
        private final java.io.ByteArrayOutputStream last = new java.io.ByteArrayOutputStream();

        Tail(InputStream in) {
            super("vorlane-update-output");
            setDaemon(true);
            this.in = in;
        }

        @Override
        public void run() {
            byte[] buffer = new byte[KEEP];
            try (in) {
                for (int n; (n = in.read(buffer)) > 0; ) {
                    synchronized (this) {
                        if (last.size() + n > 2 * KEEP) {
                            byte[] all = last.toByteArray();
                            last.reset();
                            last.write(all, Math.max(0, all.length - KEEP), Math.min(all.length, KEEP));
                        }
                        last.write(buffer, 0, n);
                    }
                }
            } catch (IOException ignored) {
                // The process ended, or was ended.
            }
        }

        synchronized String text() {
            return new String(last.toByteArray(), StandardCharsets.UTF_8);
        }
    }

    /** Renames a new link to {@code version}'s launcher over {@code R/bin/NAME}: one atomic step. */
    private void switchTo(String version) throws IOException {
        Path fresh = link.resolveSibling("." + link.getFileName() + ".new");
        Files.deleteIfExists(fresh);
        Files.createSymbolicLink(fresh, Paths.get("..", "versions", version, "bin", exe));
        Files.move(fresh, link, StandardCopyOption.ATOMIC_MOVE);
        sync(link.getParent());
    }

    /** What a killed apply left: staging trees and a new link that was not renamed yet. */
    private void removeLeftovers() throws UpdateException {
        try {
            Files.deleteIfExists(link.resolveSibling("." + link.getFileName() + ".new"));
            try (DirectoryStream<Path> list = Files.newDirectoryStream(versions, STAGING + "*")) {
                for (Path p : list) {
                    deleteTree(p);
                }
            }
        } catch (IOException e) {
            throw ioFailure(e);
        }
    }

    private void removeVersionsBut(Set<String> keep) throws UpdateException {
        for (String v : versionDirs()) {
            if (!keep.contains(v)) {
                deleteTree(versions.resolve(v));
                deleteTree(versions.resolve(MANIFESTS).resolve(v));
            }
        }
    }

    private List<String> versionDirs() throws UpdateException {
        List<String> out = new ArrayList<>();
        try (DirectoryStream<Path> list = Files.newDirectoryStream(versions)) {
            for (Path p : list) {
                String v = p.getFileName().toString();
                if (!v.startsWith(".") && Versions.valid(v) && Files.isDirectory(p, LinkOption.NOFOLLOW_LINKS)) {
                    out.add(v);
                }
            }
        } catch (IOException e) {
            throw ioFailure(e);
        }
        return out;
    }

    /** Whether {@code tree} holds {@code e}'s bytes at its path (same size, then same hash). */
    private boolean sameBytes(Path tree, Manifest.Entry e) {
        Path p = tree.resolve(e.path);
        try {
            if (!Files.isRegularFile(p, LinkOption.NOFOLLOW_LINKS) || Files.size(p) != e.size) {
                return false;
            }
            String key = p.toString();
            String hash = localHashes.get(key);
            if (hash == null) {
                MessageDigest sha = sha256();
                try (InputStream in = Files.newInputStream(p)) {
                    byte[] buffer = new byte[65536];
                    for (int n; (n = in.read(buffer)) > 0; ) {
                        sha.update(buffer, 0, n);
                    }
                }
                hash = hex(sha.digest());
                localHashes.put(key, hash);
            }
            return hash.equals(e.sha256);
        } catch (IOException ex) {
            return false;
        }
    }

    /** How much to read into a buffer of {@code room} bytes when {@code left} are wanted: one more shows a surplus. */
    private static int upToOnePast(int room, long left) {
        return left >= room ? room : (int) left + 1;
    }

    /**
     * The SHA-256 of a gzip object's content, or "" when it is no gzip or not
     * {@code size} bytes. It inflates at most one byte past {@code size}, so
     * an object that inflates to far more costs no more than a right one.
     */
    static String unpackedHash(InputStream object, long size, Cancellation cancel) throws UpdateException {
        MessageDigest sha = sha256();
        long n = 0;
        try (InputStream in = new GZIPInputStream(object, 65536)) {
            byte[] buffer = new byte[65536];
            for (int r; n <= size && (r = in.read(buffer, 0, upToOnePast(buffer.length, size - n))) > 0; ) {
                stopIfCancelled(cancel);
                sha.update(buffer, 0, r);
                n += r;
            }
        } catch (IOException e) {
            return "";
        }
        return n == size ? hex(sha.digest()) : "";
    }

    private final class Lock implements AutoCloseable {
        private final FileChannel channel;
        private final FileLock lock;

        Lock(FileChannel channel, FileLock lock) {
            this.channel = channel;
            this.lock = lock;
        }

        @Override
        public void close() throws UpdateException {
            try {
                lock.release();
                channel.close();
            } catch (IOException e) {
                throw ioFailure(e);
            }
        }
    }

    private Lock lock() throws UpdateException {
        FileChannel channel = null;
        try {
            Path file = versions.resolve(".lock");
            if (Files.exists(file, LinkOption.NOFOLLOW_LINKS) && !isPlainFile(file)) {
                throw new UpdateException(file + " is " + (Files.isSymbolicLink(file) ? "a symbolic link" : "no file")
                        + ", which the updater did not make: the update is refused and nothing was changed"
                        + " (remove it and try again).");
            }
            channel = FileChannel.open(file, Set.of(StandardOpenOption.CREATE, StandardOpenOption.WRITE,
                    LinkOption.NOFOLLOW_LINKS), SHARED);
            FileLock l = channel.tryLock();
            if (l != null) {
                return new Lock(channel, l);
            }
        } catch (OverlappingFileLockException e) {
            // This process holds it already.
        } catch (IOException e) {
            throw ioFailure(e);
        }
        if (channel == null) {
            throw new UpdateException("Another update of this install is running; nothing was changed.");
        }
        try {
            channel.close();
        } catch (IOException ignored) {
            // Nothing was locked.
        }
        throw new UpdateException("Another update of this install is running; nothing was changed.");
    }

    private static void stopIfCancelled(Cancellation cancel) throws UpdateException {
        if (cancel.isCancelled()) {
            throw new UpdateException("The update was cancelled; nothing was changed.");
        }
    }

    private static UpdateException ioFailure(IOException e) {
        if (Fetcher.noSpace(e)) {
            return new UpdateException("There is not enough disk space for the update; nothing was changed"
                    + " (free some space and try again).", e);
        }
        return new UpdateException("The update failed: " + e + "; nothing was changed.", e);
    }

    /**
     * The versions under {@code versionsDir} that the executables
     * {@code exes} (as {@code /proc/PID/exe} names them) lie in.
     */
    static Set<String> runningVersions(Path versionsDir, List<Path> exes) {
        Set<String> out = new HashSet<>();
        int depth = versionsDir.getNameCount();
        for (Path exe : exes) {
            if (exe.startsWith(versionsDir) && exe.getNameCount() > depth + 1) {
                out.add(exe.getName(depth).toString());
            }
        }
        return out;
    }

    /** What every process this user may look at runs, from {@code /proc/PID/exe}; null when they cannot be listed. */
    private static List<Path> liveExecutables() {
        List<Path> out = new ArrayList<>();
        try (DirectoryStream<Path> list = Files.newDirectoryStream(Paths.get("/proc"), "[0-9]*")) {
            for (Path p : list) {
                try {
                    out.add(Files.readSymbolicLink(p.resolve("exe")));
                } catch (IOException | UnsupportedOperationException ignored) {
                    // Ended meanwhile, or another user's.
                }
            }
        } catch (IOException e) {
            System.err.println("Note: cannot list the processes (" + e.getMessage() + "); the older versions stay.");
            return null;
        }
        return out;
    }

    /** Keeps the signed manifest of the version just switched to, as {@code .manifests/V}; a failure is a note. */
    private void keepManifest(String version, byte[] signed) {
        if (signed == null) {
            return;
        }
        Path dir = versions.resolve(MANIFESTS);
        Path fresh = dir.resolve("." + version + ".new");
        try {
            realFolder(dir);
            Files.deleteIfExists(fresh);
            try (FileChannel c = FileChannel.open(fresh, Set.of(StandardOpenOption.CREATE_NEW,
                    StandardOpenOption.WRITE, LinkOption.NOFOLLOW_LINKS), SHARED)) {
                ByteBuffer b = ByteBuffer.wrap(signed);
                while (b.hasRemaining()) {
                    c.write(b);
                }
                c.force(true);
            }
            Files.move(fresh, dir.resolve(version), StandardCopyOption.ATOMIC_MOVE);
            sync(dir);
        } catch (IOException e) {
            System.err.println("Note: could not keep the manifest of " + version + " (" + e.getMessage()
                    + "); the next check reads it from the update site.");
        }
    }

    /** The manifest of {@code version} an apply kept, checked against the feed key; null when none holds. */
    static Manifest keptManifest(Updater u, String version) {
        Path versionsDir = u.tree().getParent();
        if (versionsDir == null || !versionsDir.getFileName().toString().equals("versions")) {
            return null;
        }
        Path file = versionsDir.resolve(MANIFESTS).resolve(version);
        try {
            if (Files.isSymbolicLink(versionsDir.resolve(MANIFESTS)) || !isPlainFile(file)
                    || Files.size(file) > Fetcher.maxManifest()) {
                return null;
            }
            byte[] bytes;
            try (InputStream in = Files.newInputStream(file, LinkOption.NOFOLLOW_LINKS)) {
                bytes = in.readNBytes(Fetcher.maxManifest());
            }
            Manifest m = u.checked(Manifest.parse(bytes, u.feedKey()));
            return m.version.equals(version) ? m : null;
        } catch (IOException | UpdateException e) {
            return null;
        }
    }

    private static void sync(Path dir) throws IOException {
        try (FileChannel c = FileChannel.open(dir, StandardOpenOption.READ)) {
            c.force(true);
        }
    }

    /** Deletes a tree without following links; a missing one is fine. */
    static void deleteTree(Path p) {
        if (!Files.exists(p, LinkOption.NOFOLLOW_LINKS)) {
            return;
        }
        try {
            Files.walkFileTree(p, new SimpleFileVisitor<>() {
                @Override
                public FileVisitResult preVisitDirectory(Path dir, BasicFileAttributes attrs) throws IOException {
                    // A folder the manifest made read-only.
                    Files.setPosixFilePermissions(dir, permissions(0700));
                    return FileVisitResult.CONTINUE;
                }

                @Override
                public FileVisitResult visitFile(Path file, BasicFileAttributes attrs) throws IOException {
                    Files.delete(file);
                    return FileVisitResult.CONTINUE;
                }

                @Override
                public FileVisitResult postVisitDirectory(Path dir, IOException failure) throws IOException {
                    Files.delete(dir);
                    return FileVisitResult.CONTINUE;
                }
            });
        } catch (IOException e) {
            System.err.println("Note: could not remove " + p + ": " + e.getMessage());
        }
    }

    private static int modeOf(Path p) throws IOException {
        int mode = 0;
        for (PosixFilePermission perm : Files.getPosixFilePermissions(p, LinkOption.NOFOLLOW_LINKS)) {
            mode |= 0400 >> perm.ordinal();
        }
        return mode;
    }

    static Set<PosixFilePermission> permissions(int mode) {
        Set<PosixFilePermission> out = EnumSet.noneOf(PosixFilePermission.class);
        for (PosixFilePermission perm : PosixFilePermission.values()) {
            if ((mode & (0400 >> perm.ordinal())) != 0) {
                out.add(perm);
            }
        }
        return out;
    }

    private static MessageDigest sha256() {
        try {
            return MessageDigest.getInstance("SHA-256");
        } catch (NoSuchAlgorithmException e) {
            throw new AssertionError(e);
        }
    }

    static String hex(byte[] bytes) {
        StringBuilder s = new StringBuilder(bytes.length * 2);
        for (byte b : bytes) {
            s.append(Character.forDigit((b >> 4) & 15, 16)).append(Character.forDigit(b & 15, 16));
        }
        return s.toString();
    }
}
