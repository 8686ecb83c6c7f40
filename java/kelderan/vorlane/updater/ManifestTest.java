package kelderan.vorlane.updater;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.GeneralSecurityException;
import java.security.KeyPair;
import java.security.KeyPairGenerator;
import java.security.Signature;
import java.util.Arrays;
import java.util.Base64;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.stream.Collectors;
import java.util.stream.Stream;
import org.junit.jupiter.api.Test;

class ManifestTest {
    private static final KeyPair KEYS = keys();
    private static final String HEADER = "vorlane-update 1\nname n\nversion 1-1\nchannel s\narch amd64\n"
            + "date 2026-12-08T03:00:00Z\nnotes \n";

    private static KeyPair keys() {
        try {
            return KeyPairGenerator.getInstance("Ed25519").generateKeyPair();
        } catch (GeneralSecurityException e) {
            throw new AssertionError(e);
        }
    }

    /** The manifest: the signature line by {@code keys} over {@code body}, then the body. */
    static byte[] signed(byte[] body, KeyPair keys) throws GeneralSecurityException {
        Signature signer = Signature.getInstance("Ed25519");
        signer.initSign(keys.getPrivate());
        signer.update(body);
        byte[] line = (Manifest.SIGNATURE_PREFIX + Base64.getEncoder().encodeToString(signer.sign()) + "\n")
                .getBytes(StandardCharsets.US_ASCII);
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        out.writeBytes(line);
        out.writeBytes(body);
        return out.toByteArray();
    }

    private static Manifest parse(String body) throws Exception {
        return Manifest.parse(signed(body.getBytes(StandardCharsets.UTF_8), KEYS), KEYS.getPublic());
    }

    private static void assertRefused(String fragment, byte[] manifest) {
        UpdateException e = assertThrows(UpdateException.class, () -> Manifest.parse(manifest, KEYS.getPublic()));
        assertTrue(e.getMessage().contains(fragment), e.getMessage() + " (wanted: " + fragment + ")");
    }

    /** The vectors the packer's feed_plan_test reads too (they are also the fuzz target's seeds). */
    @Test
    void readsEveryVectorAsIndexed() throws Exception {
        Path folder = VersionsTest.testdata("manifests");
        Map<String, String> index = new LinkedHashMap<>();
        for (String line : Files.readAllLines(folder.resolve("index.txt"))) {
            if (!line.startsWith("#")) {
                int space = line.indexOf(' ');
                index.put(line.substring(0, space), line.substring(space + 1));
            }
        }
        try (Stream<Path> files = Files.list(folder)) {
            List<String> bodies = files.map(p -> p.getFileName().toString()).filter(n -> n.endsWith(".body"))
                    .map(n -> n.substring(0, n.length() - 5)).sorted().collect(Collectors.toList());
            assertEquals(index.keySet().stream().sorted().collect(Collectors.toList()), bodies);
        }
        for (Map.Entry<String, String> v : index.entrySet()) {
            byte[] manifest = signed(Files.readAllBytes(folder.resolve(v.getKey() + ".body")), KEYS);
            if (v.getValue().equals("ok")) {
                Manifest.parse(manifest, KEYS.getPublic());
            } else {
                assertTrue(v.getValue().startsWith("refused "), v.getKey());
                assertRefused(v.getValue().substring("refused ".length()), manifest);
            }
        }
    }

    @Test
    void readsTheFieldsOfBothFormats() throws Exception {
        Path folder = VersionsTest.testdata("manifests");
        Manifest two = Manifest.parse(signed(Files.readAllBytes(folder.resolve("ok-format2-expires.body")), KEYS),
                KEYS.getPublic());
        assertEquals(List.of("2026-12-08T03:00:00Z", "2027-01-08T03:00:00Z", "Fixed\n"),
                List.of(two.date, two.expires, two.notes));
        Manifest one = Manifest.parse(signed(Files.readAllBytes(folder.resolve("ok-format1.body")), KEYS),
                KEYS.getPublic());
        assertNull(one.expires);
        assertEquals("bin/notes ../lib/launcher lib lib/a lib/b b lib/runtime/lib/server/classes.jsa",
                one.entries.stream().map(e -> e.target != null ? e.path + " " + e.target : e.path)
                        .collect(Collectors.joining(" ")));
        Manifest.Entry b = one.entries.get(3);
        assertEquals(List.of('f', 0755, 3L, 1700000000L, 20L), List.of(b.kind, b.mode, b.size, b.mtime, b.stored));
    }

    /** Format 3 carries a remake's options; a format 1 or 2 remake of classes_nocoops.jsa stood for its one. */
    @Test
    void readsTheRemakeOptionsOfEachFormat() throws Exception {
        String nocoops = "remake lib/runtime/lib/server/classes_nocoops.jsa";
        String coops = "remake lib/runtime/lib/server/classes.jsa";
        // body | the options of each remake entry, in order
        String[][] rows = {
            {HEADER + coops + "\n" + nocoops + "\n", "[] [-XX:-UseCompressedOops]"},
            {HEADER.replace("update 1", "update 3") + coops + "\n" + nocoops + "\n", "[] []"},
            {HEADER.replace("update 1", "update 3") + coops + " -XX%3A-UseCompressedOops\n",
                "[-XX:-UseCompressedOops]"},
        };
        for (String[] r : rows) {
            assertEquals(r[1], parse(r[0]).entries.stream().map(e -> e.options.toString())
                    .collect(Collectors.joining(" ")), r[0]);
        }
        Path folder = VersionsTest.testdata("manifests");
        Manifest three = Manifest.parse(signed(Files.readAllBytes(folder.resolve("ok-format3-expires.body")), KEYS),
                KEYS.getPublic());
        assertEquals("2027-01-08T03:00:00Z", three.expires);
        assertEquals(List.of("-XX:-UseCompressedOops"), three.entries.get(1).options);
    }

    @Test
    void refusesABadSignatureLine() throws Exception {
        byte[] body = HEADER.getBytes(StandardCharsets.UTF_8);
        byte[] good = signed(body, KEYS);
        byte[] tampered = good.clone();
        tampered[tampered.length - 3] ^= 1;
        String line = new String(good, 0, good.length - body.length - 1, StandardCharsets.US_ASCII);
        Map<String, byte[]> cases = new LinkedHashMap<>();
        cases.put("no signature line", "vorlane-update 1".getBytes(StandardCharsets.US_ASCII));
        cases.put("no Ed25519 signature", ("vorlane-update-signature rsa x\n" + HEADER).getBytes(StandardCharsets.UTF_8));
        cases.put("not base64", (Manifest.SIGNATURE_PREFIX + "!!\n" + HEADER).getBytes(StandardCharsets.UTF_8));
        cases.put("does not match", signed(body, keys()));
        cases.put("does not match this app's", tampered);
        cases.put("CRLF line ends (a carriage return ends line 1)",
                (line + "\r\n" + HEADER).getBytes(StandardCharsets.UTF_8));
        cases.forEach(ManifestTest::assertRefused);
        assertEquals("n", Manifest.parse(good, KEYS.getPublic()).name);
    }

    @Test
    void holdsItsBounds() throws Exception {
        assertRefused("over the " + Manifest.MAX_BYTES, new byte[Manifest.MAX_BYTES + 1]);
        StringBuilder dirs = new StringBuilder(HEADER);
        for (int i = 0; i < Manifest.MAX_ENTRIES; i++) {
            dirs.append(String.format("dir 0755 %06d\n", i));
        }
        assertEquals(Manifest.MAX_ENTRIES, parse(dirs.toString()).entries.size());
        assertRefused("more than 100000 entries", signed(
                (dirs + "dir 0755 x\n").getBytes(StandardCharsets.US_ASCII), KEYS));
        String longPath = "a".repeat(Manifest.MAX_PATH);
        parse(HEADER + "dir 0755 " + longPath + "\n");
        assertRefused("line 9 is longer than 65536", signed((HEADER + "dir 0755 " + "%41".repeat(30000) + "\n")
                .getBytes(StandardCharsets.US_ASCII), KEYS));
        // The largest manifest a client takes: as many entries as allowed, as near the byte cap as they come.
        StringBuilder files = new StringBuilder(HEADER);
        String sha = "0".repeat(64);
        for (int i = 0; i < Manifest.MAX_ENTRIES; i++) {
            files.append(String.format("file 0644 1099511627776 %s 999999999999999999 1099511627776 %08d%s\n",
                    sha, i, "x".repeat(36)));
        }
        byte[] largest = signed(files.toString().getBytes(StandardCharsets.US_ASCII), KEYS);
        assertTrue(largest.length <= Manifest.MAX_BYTES && largest.length > Manifest.MAX_BYTES - 100_000,
                String.valueOf(largest.length));
        Manifest m = Manifest.parse(largest, KEYS.getPublic());
        assertEquals(Manifest.MAX_ENTRIES * (1L << 40), m.entries.stream().mapToLong(e -> e.size).sum());
    }
}
