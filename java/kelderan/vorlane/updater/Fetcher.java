package kelderan.vorlane.updater;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.net.HttpURLConnection;
import java.net.InetSocketAddress;
import java.net.Proxy;
import java.net.URI;
import java.net.URL;
import java.nio.ByteBuffer;
import java.nio.channels.FileChannel;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardOpenOption;
import java.util.Locale;

/**
 * HTTP GETs from the update site through {@link HttpURLConnection}, with
 * connect and read timeouts (a stalled server ends in an error, never a
 * hang) and the proxy the environment names.
 */
final class Fetcher {
    /** A cap on a manifest's size: a server that sends more is refused. */
    private static final int MAX_MANIFEST = 16 << 20;

    private final int timeoutMillis;

    Fetcher(int timeoutMillis) {
        this.timeoutMillis = timeoutMillis;
    }

    /** The whole body at {@code url}, or null when the server says 404. */
    byte[] get(String url) throws UpdateException {
        HttpURLConnection c = open(url, 0);
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
                    out.write(buffer, 0, n);
                    if (out.size() > MAX_MANIFEST) {
                        throw new UpdateException("The update site sent too much for " + url);
                    }
                }
                return out.toByteArray();
            }
        } catch (IOException e) {
            throw failed(url, e);
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
     * server that ignores the range sends it all again). Syncs the file
     * before it returns.
     */
    void download(String url, Path part, long size, Progress progress) throws UpdateException {
        long have;
        try {
            have = Files.exists(part) ? Files.size(part) : 0;
        } catch (IOException e) {
            throw new UpdateException("Cannot read " + part + ": " + e.getMessage(), e);
        }
        if (have > size) {
            have = 0;
        }
        if (have == size) {
            return;
        }
        HttpURLConnection c = open(url, have);
        try {
            int status = c.getResponseCode();
            boolean resumed = status == 206 && have > 0
                    && String.valueOf(c.getHeaderField("Content-Range")).startsWith("bytes " + have + "-");
            if (status != 200 && !resumed) {
                throw new UpdateException("The update site answered HTTP " + status + " for " + url);
            }
            if (!resumed && have > 0) {
                progress.advanced(-have);
                have = 0;
            }
            StandardOpenOption mode = resumed ? StandardOpenOption.APPEND : StandardOpenOption.TRUNCATE_EXISTING;
            try (InputStream in = c.getInputStream();
                    FileChannel out = FileChannel.open(part, StandardOpenOption.CREATE, StandardOpenOption.WRITE, mode)) {
                byte[] buffer = new byte[65536];
                for (int n; have < size && (n = in.read(buffer, 0, (int) Math.min(buffer.length, size - have))) > 0; ) {
                    ByteBuffer b = ByteBuffer.wrap(buffer, 0, n);
                    while (b.hasRemaining()) {
                        out.write(b);
                    }
                    have += n;
                    progress.advanced(n);
                }
                out.force(true);
            }
            if (have != size) {
                throw new UpdateException("The connection to the update site dropped while fetching " + url
                        + " (" + have + " of " + size + " bytes); the next try goes on from there.");
            }
        } catch (IOException e) {
            throw failed(url, e);
        } finally {
            c.disconnect();
        }
    }

    private HttpURLConnection open(String url, long from) throws UpdateException {
        try {
            URL u = URI.create(url).toURL();
            HttpURLConnection c = (HttpURLConnection) u.openConnection(proxyFor(u));
            c.setConnectTimeout(timeoutMillis);
            c.setReadTimeout(timeoutMillis);
            c.setUseCaches(false);
            c.setRequestProperty("Accept-Encoding", "identity");
            if (from > 0) {
                c.setRequestProperty("Range", "bytes=" + from + "-");
            }
            return c;
        } catch (IOException | IllegalArgumentException e) {
            throw new UpdateException("The update site's address " + url + " cannot be used: " + e.getMessage(), e);
        }
    }

    private static UpdateException failed(String url, IOException e) {
        if (String.valueOf(e.getMessage()).contains("No space left")) {
            return new UpdateException("There is not enough disk space for the update; nothing was changed"
                    + " (free some space and try again).", e);
        }
        String why = e instanceof java.net.SocketTimeoutException ? "it did not answer in time"
                : e instanceof java.net.ConnectException ? "it cannot be reached (" + e.getMessage() + ")"
                : e.toString();
        return new UpdateException("Could not fetch " + url + " from the update site: " + why
                + "; the next try goes on from there.", e);
    }

    /** The proxy of {@code https_proxy} or {@code http_proxy} (or upper case), unless {@code no_proxy} names the host. */
    static Proxy proxyFor(URL url) {
        String scheme = url.getProtocol().toLowerCase(Locale.ROOT);
        String setting = env(scheme + "_proxy");
        if (setting == null || setting.isEmpty() || bypassed(url.getHost(), env("no_proxy"))) {
            return Proxy.NO_PROXY;
        }
        try {
            URI p = URI.create(setting.contains("://") ? setting : "http://" + setting);
            if (p.getHost() == null) {
                return Proxy.NO_PROXY;
            }
            int port = p.getPort() > 0 ? p.getPort() : 80;
            return new Proxy(Proxy.Type.HTTP, new InetSocketAddress(p.getHost(), port));
        } catch (IllegalArgumentException e) {
            return Proxy.NO_PROXY;
        }
    }

    static boolean bypassed(String host, String noProxy) {
        if (noProxy == null || noProxy.isEmpty()) {
            return false;
        }
        host = host.toLowerCase(Locale.ROOT);
        if (host.startsWith("[") && host.endsWith("]")) {
            host = host.substring(1, host.length() - 1);
        }
        for (String entry : noProxy.split(",")) {
            String e = entry.trim().toLowerCase(Locale.ROOT);
            if (e.isEmpty()) {
                continue;
            }
            if (e.equals("*")) {
                return true;
            }
            if (e.startsWith(".")) {
                e = e.substring(1);
            }
            if (host.equals(e) || host.endsWith("." + e)) {
                return true;
            }
        }
        return false;
    }

    private static String env(String lower) {
        String v = System.getenv(lower);
        return v != null ? v : System.getenv(lower.toUpperCase(Locale.ROOT));
    }
}
