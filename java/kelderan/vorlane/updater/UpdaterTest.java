package kelderan.vorlane.updater;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.ByteArrayInputStream;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.net.InetAddress;
import java.net.ServerSocket;
import java.net.Socket;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.time.Instant;
import java.util.List;
import java.util.Set;
import java.util.zip.GZIPOutputStream;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

class UpdaterTest {
    private static Manifest dated(String date, String expires) {
        Manifest m = new Manifest();
        m.version = "1.2-1";
        m.date = date;
        m.expires = expires;
        return m;
    }

    @Test
    void refusesStaleAndReplayedFeeds() {
        Instant now = Instant.parse("2026-06-01T00:00:00Z");
        // date | expires | installed's date | what the refusal names ("" when accepted)
        String[][] rows = {
            {"2026-05-01T00:00:00Z", null, null, ""},
            {"2026-05-01T00:00:00Z", "2026-06-02T00:00:00Z", "2026-05-01T00:00:00Z", ""},
            {"2026-05-01T00:00:00Z", "2026-05-31T23:59:59Z", null,
                "stale: it expired on 2026-05-31T23:59:59Z (it was signed on 2026-05-01T00:00:00Z)"},
            {"2026-04-01T00:00:00Z", null, "2026-04-01T00:00:01Z", "signed on 2026-04-01T00:00:00Z, before the"
                + " manifest of the installed 1.1-1 (signed on 2026-04-01T00:00:01Z)"},
            {"2026-04-01T00:00:00Z", null, "1 April", ""},
            {"2026-04-01 00:00:00", null, null, "date '2026-04-01 00:00:00' does not parse"},
            {"2026-02-30T00:00:00Z", null, null, "does not parse"},
            {"2026-04-01T00:00:00Z", "soon", null, "expiry 'soon' does not parse"},
        };
        for (String[] r : rows) {
            String why = Updater.staleness(dated(r[0], r[1]), "1.1-1", r[2], now);
            if (r[3].isEmpty()) {
                assertNull(why, String.join(" ", r[0], r[1], r[2]));
            } else {
                assertTrue(why != null && why.contains(r[3]), r[3] + ": " + why);
            }
        }
    }

    @Test
    void usesOnlyHttpSites() {
        Fetcher f = new Fetcher(1000);
        for (String url : List.of("file:///etc/passwd", "ftp://127.0.0.1/x", "jar:file:/x.jar!/y", "http:///x",
                "/updates/latest", "https//x")) {
            UpdateException e = assertThrows(UpdateException.class, () -> f.get(url, new Cancellation()), url);
            assertTrue(e.getMessage().contains("cannot be used"), e.getMessage());
        }
    }

    @Test
    void acceptsOnlyTheRangeAskedFor() {
        // Content-Range | from | size | accepted
        Object[][] rows = {
            {"bytes 100-999/1000", 100L, 1000L, true},
            {"bytes 100-999/*", 100L, 1000L, true},
            {"bytes 0-999/1000", 100L, 1000L, false},
            {"bytes 1000-1999/2000", 100L, 1000L, false},
            {"bytes 100-1999/2000", 100L, 1000L, false},
            {"bytes 100-50/1000", 100L, 1000L, false},
            {"bytes 10-999/1000", 100L, 1000L, false},
            {"bytes */1000", 100L, 1000L, false},
            {null, 100L, 1000L, false},
        };
        for (Object[] r : rows) {
            assertEquals(r[3], Fetcher.rangeStartsAt((String) r[0], (Long) r[1], (Long) r[2]), String.valueOf(r[0]));
        }
    }

    @Test
    void aCancelEndsARequestThatWaits() throws Exception {
        ServerSocket server = new ServerSocket(0, 1, InetAddress.getLoopbackAddress());
        Cancellation cancel = new Cancellation();
        Thread peer = new Thread(() -> {
            try (Socket s = server.accept()) {
                s.getInputStream().read(new byte[1]); // the request has come: now the client waits
                cancel.cancel();
                s.getInputStream().readAllBytes(); // until the client closes
            } catch (IOException ignored) {
                // The client went away.
            }
        });
        peer.start();
        try {
            // Timeouts far beyond the test: only the cancel can end it.
            Fetcher f = new Fetcher(600_000);
            String url = "http://127.0.0.1:" + server.getLocalPort() + "/latest";
            UpdateException e = assertThrows(UpdateException.class, () -> f.get(url, cancel));
            assertTrue(e.getMessage().contains("cancelled"), e.getMessage());
        } finally {
            server.close();
            peer.join(60_000);
        }
    }

    private static byte[] gzip(byte[] content) throws IOException {
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        try (GZIPOutputStream z = new GZIPOutputStream(out)) {
            z.write(content);
        }
        return out.toByteArray();
    }

    /** One gzip member over and over: a stream that inflates without end. */
    private static InputStream endless(byte[] member) {
        return new InputStream() {
            private long at;

            @Override
            public int read() {
                return member[(int) (at++ % member.length)] & 0xff;
            }

            @Override
            public int read(byte[] b, int off, int len) {
                for (int i = 0; i < len; i++) {
                    b[off + i] = (byte) read();
                }
                return len;
            }
        };
    }

    @Test
    void inflatesNoMoreThanTheSize() throws Exception {
        byte[] content = "data 1.1-1\n".getBytes(StandardCharsets.US_ASCII);
        byte[] object = gzip(content);
        String hash = UpdateFiles.hex(java.security.MessageDigest.getInstance("SHA-256").digest(content));
        Cancellation go = new Cancellation();
        assertEquals(hash, Downloads.unpackedHash(new ByteArrayInputStream(object), content.length, go));
        assertEquals("", Downloads.unpackedHash(new ByteArrayInputStream(object), content.length - 1, go));
        assertEquals("", Downloads.unpackedHash(new ByteArrayInputStream(object), content.length + 1, go));
        assertEquals("", Downloads.unpackedHash(new ByteArrayInputStream(new byte[] {1, 2}), 2, go));
        assertEquals("", Downloads.unpackedHash(endless(gzip(new byte[1 << 20])), 1 << 20, go));
        Cancellation stop = new Cancellation();
        stop.cancel();
        UpdateException e = assertThrows(UpdateException.class,
                () -> Downloads.unpackedHash(endless(gzip(new byte[1 << 20])), Long.MAX_VALUE, stop));
        assertTrue(e.getMessage().contains("cancelled"), e.getMessage());
    }

    @Test
    void keepsTheVersionsThatRun() {
        Path versions = Paths.get("/home/ann/app/versions");
        List<Path> exes = List.of(Paths.get("/home/ann/app/versions/1.0-1/bin/app"),
                Paths.get("/home/ann/app/versions/1.1-1/lib/runtime/bin/java (deleted)"),
                Paths.get("/home/ann/app/versions/1.2-1"), Paths.get("/home/ann/app/versions-old/1.3-1/bin/app"),
                Paths.get("/usr/bin/bash"));
        assertEquals(Set.of("1.0-1", "1.1-1"), InstallLayout.runningVersions(versions, exes));
    }

    /** A tarball install under {@code dir} with the versions {@code versions}, on {@code current}. */
    private static Updater install(Path dir, String current, String... versions) throws Exception {
        Path root = dir.resolve("updapp");
        for (String v : versions) {
            Path tree = root.resolve("versions").resolve(v);
            Files.createDirectories(tree.resolve("bin"));
            Files.createDirectories(tree.resolve("lib"));
            if (!v.startsWith("1.5")) { // 1.5: a version without its launcher
                Files.writeString(tree.resolve("bin/updapp"), "launcher " + v);
            }
            Files.writeString(tree.resolve(Updater.RECORD), "kind=tarball\nname=updapp\nversion=" + v
                    + "\narch=amd64\nsite=http://127.0.0.1:1/site\n");
        }
        Files.createDirectories(root.resolve("bin"));
        Files.createSymbolicLink(root.resolve("bin/updapp"), Paths.get("../versions/" + current + "/bin/updapp"));
        return Updater.forTree(root.resolve("versions").resolve(current));
    }

    @Test
    void rollsBackOnlyToOlderVersions(@TempDir Path dir) throws Exception {
        // versions | current | where each rollback goes, until it is refused
        String[][][] rows = {
            {{"1.0-1", "1.1-1"}, {"1.1-1"}, {"1.0-1"}},
            {{"1.0-1", "1.1-1"}, {"1.0-1"}, {}},
            {{"1.0-1", "1.1-1", "1.2-1", "1.10-1"}, {"1.10-1"}, {"1.2-1", "1.1-1", "1.0-1"}},
            {{"1.0-1", "1.5-1", "1.6-1"}, {"1.6-1"}, {"1.0-1"}},
        };
        int n = 0;
        for (String[][] r : rows) {
            Updater u = install(dir.resolve(Integer.toString(n++)), r[1][0], r[0]);
            for (String expected : r[2]) {
                assertEquals(expected, u.rollback(), String.join(",", r[0]));
            }
            UpdateException e = assertThrows(UpdateException.class, u::rollback, String.join(",", r[0]));
            assertTrue(e.getMessage().contains("no version of updapp before " + (r[2].length == 0 ? r[1][0]
                    : r[2][r[2].length - 1])), e.getMessage());
        }
    }

    @Test
    void countsHugeDownloadsWithoutOverflow(@TempDir Path dir) throws Exception {
        Updater u = install(dir, "1.0-1", "1.0-1");
        Manifest m = new Manifest();
        for (int i = 0; i < 20; i++) {
            m.entries.add(new Manifest.Entry('f', "f" + i, 0644, 1, String.format("%064x", i), 0,
                    900_000_000_000_000_000L, null));
        }
        assertEquals(Long.MAX_VALUE, u.selfUpdate().downloadBytes(m));
        assertEquals(Long.MAX_VALUE, UpdateFiles.addSaturated(Long.MAX_VALUE - 1, 2));
        assertEquals(5, UpdateFiles.addSaturated(2, 3));
    }
}
