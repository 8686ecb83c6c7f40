package kelderan.vorlane.updater;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.sun.net.httpserver.HttpServer;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.net.InetAddress;
import java.net.InetSocketAddress;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.zip.GZIPOutputStream;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/** The apply as a whole, and its download step, against a site on loopback. */
class SelfUpdateTest {
    static final String STARTS = "#!/bin/sh\ntest \"$VORLANE_LAUNCH_CHECK\" = 1 || exit 9\n";
    private final Map<String, byte[]> site = new HashMap<>();
    private HttpServer server;
    @TempDir
    Path dir;

    @BeforeEach
    void serve() throws IOException {
        server = HttpServer.create(new InetSocketAddress(InetAddress.getLoopbackAddress(), 0), 0);
        server.createContext("/", x -> {
            byte[] body = site.get(x.getRequestURI().getPath());
            x.sendResponseHeaders(body == null ? 404 : 200, body == null ? -1 : body.length);
            if (body != null) {
                x.getResponseBody().write(body);
            }
            x.close();
        });
        server.start();
    }

    @AfterEach
    void stop() {
        server.stop(0);
    }

    static byte[] gzip(String content) throws IOException {
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        try (GZIPOutputStream z = new GZIPOutputStream(out)) {
            z.write(content.getBytes(StandardCharsets.UTF_8));
        }
        return out.toByteArray();
    }

    static String sha(String content) throws Exception {
        return UpdateFiles.hex(UpdateFiles.sha256().digest(content.getBytes(StandardCharsets.UTF_8)));
    }

    static Manifest.Entry file(String path, int mode, String content, long mtime) throws Exception {
        return new Manifest.Entry('f', path, mode, content.length(), sha(content), mtime, gzip(content).length, null);
    }

    static Manifest.Entry folder(String path, int mode) {
        return new Manifest.Entry('d', path, mode, 0, null, 0, 0, null);
    }

    /** An install {@code dir/updapp} on version 1.0-1, whose launcher passes the start check. */
    static InstallLayout install(Path dir) throws Exception {
        Path tree = dir.resolve("updapp/versions/1.0-1");
        Files.createDirectories(tree.resolve("bin"));
        Files.writeString(tree.resolve("bin/updapp"), STARTS);
        Files.setPosixFilePermissions(tree.resolve("bin/updapp"), UpdateFiles.permissions(0755));
        Files.createDirectories(dir.resolve("updapp/bin"));
        Files.createSymbolicLink(dir.resolve("updapp/bin/updapp"), Paths.get("../versions/1.0-1/bin/updapp"));
        return InstallLayout.find(tree, "updapp", "updapp");
    }

    /** Version 1.1-1: the launcher {@code launcher} and a new data file, put on the site. */
    private Manifest offer(String launcher) throws Exception {
        Manifest m = new Manifest();
        m.version = "1.1-1";
        m.entries.addAll(List.of(folder("bin", 0755), file("bin/updapp", 0755, launcher, 1_700_000_000L),
                folder("lib", 0755), file("lib/data.txt", 0644, "data 1.1-1\n", 1_700_000_000L)));
        for (Manifest.Entry e : m.entries) {
            if (e.kind == 'f') {
                String content = e.path.equals("bin/updapp") ? launcher : "data 1.1-1\n";
                site.put("/site/files/sha256/" + e.sha256.substring(0, 2) + "/" + e.sha256.substring(2), gzip(content));
            }
        }
        return m;
    }

    private SelfUpdate update(InstallLayout layout) {
        return new SelfUpdate(layout, "updapp", new Fetcher(60_000),
                "http://127.0.0.1:" + server.getAddress().getPort() + "/site");
    }

    @Test
    void appliesAVersionStepByStep() throws Exception {
        InstallLayout layout = install(dir);
        Manifest m = offer(STARTS);
        SelfUpdate u = update(layout);
        // Only the data file is missing: the launcher has the same bytes.
        assertEquals(m.entries.get(3).stored, u.downloadBytes(m));
        List<String> steps = new ArrayList<>();
        byte[] signed = "signed manifest".getBytes(StandardCharsets.UTF_8);
        u.apply(m, signed, new ProgressListener() {
            @Override
            public void step(String step) {
                steps.add(step);
            }
        }, new Cancellation());
        assertEquals(List.of("download", "downloaded", "build", "built", "check", "switch", "switched"), steps);
        assertEquals("1.1-1", layout.currentVersion());
        assertEquals("data 1.1-1\n", Files.readString(layout.version("1.1-1").resolve("lib/data.txt")));
        assertTrue(Files.isDirectory(layout.version("1.0-1")), "the version before stays");
        assertFalse(Files.exists(layout.downloads()), "the objects go");
        assertEquals("signed manifest", Files.readString(layout.versions().resolve(".manifests/1.1-1")));
        UpdateException again = assertThrows(UpdateException.class, () -> u.apply(m, signed,
                new ProgressListener() {}, new Cancellation()));
        assertEquals("updapp 1.1-1 is already the current version", again.getMessage());
    }

    @Test
    void aVersionThatDoesNotStartLeavesTheInstallAsItWas() throws Exception {
        InstallLayout layout = install(dir);
        // A folder of that name (one rolled back from) is set aside during the apply and comes back.
        Files.createDirectories(layout.version("1.1-1"));
        Files.writeString(layout.version("1.1-1").resolve("mark"), "rolled back from");
        Manifest m = offer("#!/bin/sh\necho no main class\nexit 3\n");
        UpdateException e = assertThrows(UpdateException.class,
                () -> update(layout).apply(m, null, new ProgressListener() {}, new Cancellation()));
        assertEquals("The new version 1.1-1 does not start (status 3: no main class); it was removed and the app"
                + " stays on this version.", e.getMessage());
        assertEquals("1.0-1", layout.currentVersion());
        assertEquals("rolled back from", Files.readString(layout.version("1.1-1").resolve("mark")));
        try (var left = Files.list(layout.versions())) {
            assertEquals(List.of(), left.map(p -> p.getFileName().toString())
                    .filter(n -> n.startsWith(".staging-")).toList());
        }
        assertTrue(Files.isRegularFile(layout.downloads().resolve(m.entries.get(1).sha256)),
                "checked downloads stay for the next try");
    }

    @Test
    void aCancelBeforeTheSwitchChangesNothing() throws Exception {
        InstallLayout layout = install(dir);
        Manifest m = offer(STARTS);
        Cancellation cancel = new Cancellation();
        UpdateException e = assertThrows(UpdateException.class, () -> update(layout).apply(m, null,
                new ProgressListener() {
                    @Override
                    public void step(String step) {
                        if (step.equals("check")) {
                            cancel.cancel();
                        }
                    }
                }, cancel));
        assertEquals("The update was cancelled; nothing was changed.", e.getMessage());
        assertEquals("1.0-1", layout.currentVersion());
        assertFalse(Files.exists(layout.version("1.1-1")));
    }

    @Test
    void downloadsIntoAFolderOfItsOwnAndChecksEachObject() throws Exception {
        InstallLayout layout = install(dir);
        Manifest m = offer(STARTS);
        // A link planted as .downloads: it goes, and nothing is written where it pointed.
        Path elsewhere = Files.createDirectory(dir.resolve("elsewhere"));
        Files.createSymbolicLink(layout.downloads(), elsewhere);
        Downloads d = new Downloads(layout.downloads(), new LocalHashes());
        long[] last = new long[2];
        ProgressListener progress = new ProgressListener() {
            @Override
            public void progress(long done, long total) {
                last[0] = done;
                last[1] = total;
            }
        };
        String url = "http://127.0.0.1:" + server.getAddress().getPort() + "/site";
        d.fetch(m, layout.version("1.0-1"), new Fetcher(60_000), url, progress, new Cancellation());
        assertTrue(Files.isDirectory(layout.downloads(), java.nio.file.LinkOption.NOFOLLOW_LINKS));
        try (var planted = Files.list(elsewhere)) {
            assertEquals(0, planted.count());
        }
        Manifest.Entry data = m.entries.get(3);
        assertTrue(UpdateFiles.isPlainFile(d.object(data.sha256)));
        assertEquals(List.of(data.stored, data.stored), List.of(last[0], last[1]));
        assertEquals(0, d.bytesToFetch(m, layout.version("1.0-1")));

        // The site holds other bytes under a hash: refused, and no part is left.
        Files.delete(d.object(data.sha256));
        site.put("/site/files/sha256/" + data.sha256.substring(0, 2) + "/" + data.sha256.substring(2),
                gzip("data 6.6-6\n"));
        UpdateException e = assertThrows(UpdateException.class, () -> d.fetch(m, layout.version("1.0-1"),
                new Fetcher(60_000), url, progress, new Cancellation()));
        assertTrue(e.getMessage().contains("lib/data.txt does not match its hash"), e.getMessage());
        assertFalse(Files.exists(layout.downloads().resolve(data.sha256 + ".part")));
    }
}
