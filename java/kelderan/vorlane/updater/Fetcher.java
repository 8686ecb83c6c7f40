package kelderan.vorlane.updater;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.net.HttpURLConnection;
import java.net.URI;
import java.net.URL;
import java.nio.ByteBuffer;
import java.nio.channels.FileChannel;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.nio.file.StandardOpenOption;
import java.nio.file.attribute.FileAttribute;
import java.nio.file.attribute.PosixFileAttributes;
import java.nio.file.attribute.PosixFilePermission;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.Locale;
import java.util.Set;
import java.util.concurrent.TimeUnit;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

/**
 * HTTP GETs from the update site through {@link HttpURLConnection}, with
 * connect and read timeouts and a deadline for the whole request (a stalled
 * or trickling server ends in an error, never a hang), a cancel that ends a
 * request at once, and the proxy the environment names. Only http and https
 * sites are used.
 */
final class Fetcher {
    /** A cap on a manifest's size: a server that sends more is refused. */
    private static final int MAX_MANIFEST = 16 << 20;
    /** How many timeouts a manifest's whole request (connect, headers, body) may take. */
    static final int MANIFEST_DEADLINE_TIMEOUTS = 4;
    /** A download must bring this many bytes within each timeout, or it is ended (it resumes at the next try). */
    static final long MIN_BYTES_PER_TIMEOUT = 16 << 10;

    private final int timeoutMillis;

    Fetcher(int timeoutMillis) {
        this.timeoutMillis = timeoutMillis;
    }

    /** The bound on a manifest's size, for manifests read from disk too. */
    static int maxManifest() {
        return MAX_MANIFEST;
    }

    /** The whole body at {@code url}, or null when the server says 404. */
    byte[] get(String url, Cancellation cancel) throws UpdateException {
        HttpURLConnection c = open(url, 0);
        try (Watchdog w = new Watchdog(c, cancel, (long) MANIFEST_DEADLINE_TIMEOUTS * timeoutMillis)) {
            try {
                int status = c.getResponseCode();
                if (status == 404) {
                    return null;
                }
                if (status != 200) {
                    throw new UpdateException("The update site answered HTTP " + status + " for " + url);
                }
                try (InputStream in = c.getInputStream()) {
                    ByteArrayOutputStream out = new ByteArrayOutputStream();
                    byte[] buffer = new byte[65536];
                    for (int n; (n = in.read(buffer)) > 0; ) {
                        w.check(url);
                        out.write(buffer, 0, n);
                        if (out.size() > MAX_MANIFEST) {
                            throw new UpdateException("The update site sent too much for " + url);
                        }
                    }
                    w.check(url);
                    return out.toByteArray();
                }
            } catch (IOException e) {
                w.check(url);
                throw failed(url, e);
            }
        } finally {
            c.disconnect();
        }
    }

    /** Progress of one download, in bytes of the file. */
    interface Progress {
        void advanced(long bytes) throws UpdateException;
    }

    /**
     * Fetches {@code url} into {@code part} until it holds {@code size}
     * bytes, going on from what it already holds with a Range request (a
     * server that ignores the range sends it all again; one that answers
     * another range has the part thrown away and the file fetched anew).
     * {@code part} is opened without following links, and a part that is no
     * plain file of its own (a link, a hard link) is removed first. Syncs the
     * file before it returns; a full disk removes the part.
     */
    void download(String url, Path part, long size, Progress progress, Cancellation cancel)
            throws UpdateException {
        long have = partSize(part);
        if (have > size) {
            remove(part);
            have = 0;
        }
        if (have == size) {
            return;
        }
        if (have > 0 && !fetch(url, part, have, size, progress, cancel)) {
            // The server answered another range than asked for: what the part holds cannot be trusted.
            progress.advanced(-have);
            remove(part);
            have = 0;
        }
        if (have == 0) {
            fetch(url, part, 0, size, progress, cancel);
        }
    }

    /** One request from byte {@code have} on; false when the server answered with another range. */
    private boolean fetch(String url, Path part, long have, long size, Progress progress, Cancellation cancel)
            throws UpdateException {
        HttpURLConnection c = open(url, have);
        try (Watchdog w = new Watchdog(c, cancel, 2L * timeoutMillis)) {
            try {
                int status = c.getResponseCode();
                boolean resumed = have > 0 && status == 206
                        && rangeStartsAt(c.getHeaderField("Content-Range"), have, size);
                if (have > 0 && (status == 206 || status == 416) && !resumed) {
                    return false;
                }
                if (status != 200 && !resumed) {
                    throw new UpdateException("The update site answered HTTP " + status + " for " + url);
                }
                if (!resumed && have > 0) {
                    progress.advanced(-have);
                    have = 0;
                }
                if (!resumed) {
                    remove(part);
                }
                try (InputStream in = c.getInputStream();
                        FileChannel out = resumed
                                ? FileChannel.open(part, StandardOpenOption.WRITE, StandardOpenOption.APPEND,
                                        LinkOption.NOFOLLOW_LINKS)
                                : FileChannel.open(part, Set.of(StandardOpenOption.CREATE_NEW,
                                        StandardOpenOption.WRITE, LinkOption.NOFOLLOW_LINKS), PRIVATE)) {
                    byte[] buffer = new byte[65536];
                    long window = 0;
                    for (int n; have < size
                            && (n = in.read(buffer, 0, (int) Math.min(buffer.length, size - have))) > 0; ) {
                        w.check(url);
                        ByteBuffer b = ByteBuffer.wrap(buffer, 0, n);
                        while (b.hasRemaining()) {
                            out.write(b);
                        }
                        have += n;
                        window += n;
                        if (window >= MIN_BYTES_PER_TIMEOUT) {
                            // A server that keeps sending may take as long as the file needs.
                            w.extend(timeoutMillis);
                            window = 0;
                        }
                        progress.advanced(n);
                    }
                    out.force(true);
                }
                w.check(url);
                if (have != size) {
                    throw new UpdateException("The connection to the update site dropped while fetching " + url
                            + " (" + have + " of " + size + " bytes); the next try goes on from there.");
                }
                return true;
            } catch (IOException e) {
                if (noSpace(e)) {
                    // A part left behind would keep the disk full while the message asks to free space.
                    remove(part);
                }
                w.check(url);
                throw failed(url, e);
            }
        } finally {
            c.disconnect();
        }
    }

    private static final FileAttribute<Set<PosixFilePermission>> PRIVATE =
            PosixFilePermissions.asFileAttribute(PosixFilePermissions.fromString("rw-------"));

    /** What a part holds; 0 (and the part removed) when it is no plain file with one name. */
    private static long partSize(Path part) throws UpdateException {
        try {
            PosixFileAttributes a = Files.readAttributes(part, PosixFileAttributes.class, LinkOption.NOFOLLOW_LINKS);
            Object links = Files.getAttribute(part, "unix:nlink", LinkOption.NOFOLLOW_LINKS);
            if (a.isRegularFile() && Integer.valueOf(1).equals(links)) {
                return a.size();
            }
            System.err.println("Note: removed " + part + ", which the updater did not make (a "
                    + (a.isSymbolicLink() ? "symbolic link" : a.isRegularFile() ? "hard link" : "special file")
                    + "); its target was not touched.");
            remove(part);
            return 0;
        } catch (NoSuchFileException e) {
            return 0;
        } catch (IOException e) {
            throw new UpdateException("Cannot read " + part + ": " + e.getMessage(), e);
        }
    }

    /** Removes a file or link (never what a link points to). */
    private static void remove(Path p) throws UpdateException {
        try {
            Files.deleteIfExists(p);
        } catch (IOException e) {
            throw new UpdateException("Cannot remove " + p + ": " + e.getMessage(), e);
        }
    }

    private static final Pattern CONTENT_RANGE = Pattern.compile("bytes ([0-9]{1,18})-([0-9]{1,18})/([0-9]{1,18}|\\*)");

    /** Whether a Content-Range header is "bytes HAVE-END/TOTAL" for the rest of a {@code size}-byte file. */
    static boolean rangeStartsAt(String header, long have, long size) {
        if (header == null) {
            return false;
        }
        Matcher m = CONTENT_RANGE.matcher(header.trim());
        if (!m.matches()) {
            return false;
        }
        long first = Long.parseLong(m.group(1));
        long last = Long.parseLong(m.group(2));
        return first == have && last >= first && last < size
                && (m.group(3).equals("*") || Long.parseLong(m.group(3)) == size);
    }

    /**
     * Ends a request that runs past its deadline or is cancelled: it closes
     * the connection from a thread of its own, which makes a read that
     * blocks fail. The reading thread then calls {@link #check}, which turns
     * that failure into the reason.
     */
    private static final class Watchdog implements AutoCloseable {
        private final HttpURLConnection connection;
        private final Cancellation cancel;
        private long deadline;
        private boolean closed;
        private boolean expired;

        Watchdog(HttpURLConnection connection, Cancellation cancel, long millis) {
            this.connection = connection;
            this.cancel = cancel;
            this.deadline = System.nanoTime() + TimeUnit.MILLISECONDS.toNanos(millis);
            Thread t = new Thread(this::watch, "vorlane-update-deadline");
            t.setDaemon(true);
            t.start();
        }

        /** Moves the deadline to at least {@code millis} from now. */
        synchronized void extend(long millis) {
            deadline = Math.max(deadline, System.nanoTime() + TimeUnit.MILLISECONDS.toNanos(millis));
        }

        /** Throws when the request was cancelled or ran out of time. */
        void check(String url) throws UpdateException {
            if (cancel.isCancelled()) {
                throw new UpdateException("The update was cancelled; nothing was changed.");
            }
            synchronized (this) {
                if (expired || System.nanoTime() - deadline > 0) {
                    throw new UpdateException("Could not fetch " + url + " from the update site: it did not"
                            + " answer in time; the next try goes on from there.");
                }
            }
        }

        private void watch() {
            synchronized (this) {
                try {
                    while (!closed && !cancel.isCancelled()) {
                        long left = deadline - System.nanoTime();
                        if (left <= 0) {
                            expired = true;
                            break;
                        }
                        // The cancel is a flag: look at it every so often.
                        wait(Math.min(TimeUnit.NANOSECONDS.toMillis(left) + 1, 200));
                    }
                } catch (InterruptedException e) {
                    return;
                }
                if (closed) {
                    return;
                }
            }
            connection.disconnect();
        }

        @Override
        public synchronized void close() {
            closed = true;
            notifyAll();
        }
    }

    private HttpURLConnection open(String url, long from) throws UpdateException {
        URL u;
        try {
            URI uri = URI.create(url);
            String scheme = String.valueOf(uri.getScheme()).toLowerCase(Locale.ROOT);
            if (!scheme.equals("http") && !scheme.equals("https")) {
                throw new UpdateException("The update site's address " + url + " cannot be used: only http and"
                        + " https sites are supported");
            }
            if (uri.getHost() == null || uri.getHost().isEmpty()) {
                throw new UpdateException("The update site's address " + url + " cannot be used: it names no host");
            }
            u = uri.toURL();
        } catch (IOException | IllegalArgumentException e) {
            throw new UpdateException("The update site's address " + url + " cannot be used: " + e.getMessage(), e);
        }
        try {
            HttpURLConnection c = (HttpURLConnection) u.openConnection(Proxies.proxyFor(u));
            c.setConnectTimeout(timeoutMillis);
            c.setReadTimeout(timeoutMillis);
            c.setUseCaches(false);
            c.setRequestProperty("Accept-Encoding", "identity");
            if (from > 0) {
                c.setRequestProperty("Range", "bytes=" + from + "-");
            }
            return c;
        } catch (IOException | IllegalArgumentException | ClassCastException e) {
            throw new UpdateException("The update site's address " + url + " cannot be used: " + e.getMessage(), e);
        }
    }

    static boolean noSpace(IOException e) {
        String m = String.valueOf(e.getMessage());
        return m.contains("No space left") || m.contains("Disk quota");
    }

    private static UpdateException failed(String url, IOException e) {
        if (noSpace(e)) {
            return new UpdateException("There is not enough disk space for the update; nothing was changed"
                    + " (free some space and try again).", e);
        }
        String why = e instanceof java.net.SocketTimeoutException ? "it did not answer in time"
                : e instanceof java.net.ConnectException ? "it cannot be reached (" + e.getMessage() + ")"
                : e.toString();
        return new UpdateException("Could not fetch " + url + " from the update site: " + why
                + "; the next try goes on from there.", e);
    }
}
