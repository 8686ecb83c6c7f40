package kelderan.vorlane.updater;

import java.nio.charset.CharacterCodingException;
import java.nio.charset.CodingErrorAction;
import java.nio.charset.StandardCharsets;
import java.security.GeneralSecurityException;
import java.security.KeyFactory;
import java.security.PublicKey;
import java.security.Signature;
import java.security.spec.X509EncodedKeySpec;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Base64;
import java.util.HashSet;
import java.util.List;
import java.util.Set;

/**
 * A signed update manifest: its header and the entries of the version's
 * tree. {@link #parse} checks the Ed25519 signature first and reads nothing
 * it has not checked; any line that breaks the format refuses the whole.
 */
final class Manifest {
    static final String SIGNATURE_PREFIX = "vorlane-update-signature ed25519 ";

    /** One line of the tree: a directory, a file or a symbolic link. */
    static final class Entry {
        final char kind; // 'd', 'f', 'l', 'r' (remade archive)
        final String path;
        final int mode;
        final long size;
        final String sha256;
        final long mtime;
        final long stored;
        final String target;

        Entry(char kind, String path, int mode, long size, String sha256, long mtime, long stored,
                String target) {
            this.kind = kind;
            this.path = path;
            this.mode = mode;
            this.size = size;
            this.sha256 = sha256;
            this.mtime = mtime;
            this.stored = stored;
            this.target = target;
        }
    }

    String name;
    String version;
    String channel;
    String arch;
    String date;
    String expires; // null, or the date after which the feed is stale (format 2)
    String notes;
    final List<Entry> entries = new ArrayList<>();

    /** The public key of {@code feed-key} (base64 of a DER SubjectPublicKeyInfo). */
    static PublicKey publicKey(String base64) throws UpdateException {
        try {
            byte[] der = Base64.getDecoder().decode(base64.trim());
            return KeyFactory.getInstance("Ed25519").generatePublic(new X509EncodedKeySpec(der));
        } catch (IllegalArgumentException | GeneralSecurityException e) {
            throw new UpdateException("The install's feed key is no Ed25519 public key: " + e.getMessage(), e);
        }
    }

    /** Checks the signature of {@code bytes} with {@code key} and reads the manifest. */
    static Manifest parse(byte[] bytes, PublicKey key) throws UpdateException {
        int newline = indexOf(bytes, (byte) '\n', 0);
        if (newline < 0) {
            throw refused("it has no signature line");
        }
        String first = new String(bytes, 0, newline, StandardCharsets.US_ASCII);
        if (!first.startsWith(SIGNATURE_PREFIX)) {
            throw refused("its first line is no Ed25519 signature");
        }
        byte[] signature;
        try {
            signature = Base64.getDecoder().decode(first.substring(SIGNATURE_PREFIX.length()));
        } catch (IllegalArgumentException e) {
            throw refused("its signature is not base64");
        }
        byte[] body = Arrays.copyOfRange(bytes, newline + 1, bytes.length);
        boolean good;
        try {
            Signature verifier = Signature.getInstance("Ed25519");
            verifier.initVerify(key);
            verifier.update(body);
            good = verifier.verify(signature);
        } catch (GeneralSecurityException e) {
            good = false;
        }
        if (!good) {
            throw new UpdateException("The update manifest's signature does not match this app's"
                    + " feed key: it was changed, or signed with another key. Nothing was changed.");
        }
        String text;
        try {
            text = StandardCharsets.UTF_8.newDecoder().onMalformedInput(CodingErrorAction.REPORT)
                    .decode(java.nio.ByteBuffer.wrap(body)).toString();
        } catch (CharacterCodingException e) {
            throw refused("it is not UTF-8");
        }
        if (!text.endsWith("\n")) {
            throw refused("its last line has no line end");
        }
        String[] lines = text.substring(0, text.length() - 1).split("\n", -1);
        String[] header = {"vorlane-update", "name", "version", "channel", "arch", "date", "notes"};
        if (lines.length < header.length) {
            throw refused("it is cut short");
        }
        Manifest m = new Manifest();
        for (int i = 0; i < header.length; i++) {
            String line = lines[i];
            if (!line.startsWith(header[i] + " ")) {
                throw refused("line " + (i + 2) + " is not '" + header[i] + " ...'");
            }
            String value = line.substring(header[i].length() + 1);
            switch (i) {
                case 0:
                    if (!value.equals("1")) {
                        throw refused("it is format " + value + "; this app reads format 1");
                    }
                    break;
                case 1: m.name = value; break;
                case 2: m.version = value; break;
                case 3: m.channel = value; break;
                case 4: m.arch = value; break;
                case 5: m.date = value; break;
                default:
                    try {
                        m.notes = new String(Base64.getDecoder().decode(value), StandardCharsets.UTF_8);
                    } catch (IllegalArgumentException e) {
                        throw refused("its notes are not base64");
                    }
            }
        }
        String previous = null;
        Set<String> notDirs = new HashSet<>();
        for (int i = header.length; i < lines.length; i++) {
            Entry e = entry(lines[i], i + 2);
            if (previous != null && compareBytes(previous, e.path) >= 0) {
                throw refused("line " + (i + 2) + " is out of order or repeats a path");
            }
            // A path under a file or a link would reach through it, maybe out of the tree.
            for (int slash = e.path.indexOf('/'); slash >= 0; slash = e.path.indexOf('/', slash + 1)) {
                if (notDirs.contains(e.path.substring(0, slash))) {
                    throw refused("line " + (i + 2) + " puts a path under a file or a link");
                }
            }
            if (e.kind != 'd') {
                notDirs.add(e.path);
            }
            previous = e.path;
            m.entries.add(e);
        }
        return m;
    }

    private static Entry entry(String line, int number) throws UpdateException {
        String[] f = line.split(" ", -1);
        String where = "line " + number;
        try {
            switch (f[0]) {
                case "dir":
                    need(f, 3, where);
                    return new Entry('d', path(f[2], where), mode(f[1], where), 0, null, 0, 0, null);
                case "file":
                    need(f, 7, where);
                    if (!f[3].matches("[0-9a-f]{64}")) {
                        throw refused(where + " has no SHA-256");
                    }
                    return new Entry('f', path(f[6], where), mode(f[1], where), number(f[2], where), f[3],
                            number(f[4], where), number(f[5], where), null);
                case "link":
                    need(f, 3, where);
                    return new Entry('l', path(f[2], where), 0777, 0, null, 0, 0, decode(f[1], where));
                case "remake":
                    need(f, 2, where);
                    return new Entry('r', path(f[1], where), 0644, 0, null, 0, 0, null);
                default:
                    throw refused(where + " is of a kind this app does not know: '" + f[0] + "'");
            }
        } catch (NumberFormatException e) {
            throw refused(where + " has a bad number");
        }
    }

    private static void need(String[] f, int n, String where) throws UpdateException {
        if (f.length != n) {
            throw refused(where + " has " + f.length + " fields, not " + n);
        }
    }

    private static int mode(String s, String where) throws UpdateException {
        if (!s.matches("[0-7]{4}")) {
            throw refused(where + " has a bad mode");
        }
        return Integer.parseInt(s, 8) & 0777;
    }

    private static long number(String s, String where) throws UpdateException {
        if (!s.matches("[0-9]{1,18}")) {
            throw refused(where + " has a bad number");
        }
        return Long.parseLong(s);
    }

    /** A PATH: decoded, relative, without empty, "." or ".." components. */
    private static String path(String encoded, String where) throws UpdateException {
        String p = decode(encoded, where);
        if (p.isEmpty() || p.startsWith("/") || p.endsWith("/")) {
            throw refused(where + " has a bad path");
        }
        for (String part : p.split("/", -1)) {
            if (part.isEmpty() || part.equals(".") || part.equals("..") || part.indexOf('\0') >= 0) {
                throw refused(where + " has a bad path");
            }
        }
        return p;
    }

    /** Undoes the percent encoding; a byte that should have been encoded refuses the line. */
    private static String decode(String s, String where) throws UpdateException {
        byte[] out = new byte[s.length()];
        int n = 0;
        for (int i = 0; i < s.length(); i++) {
            char c = s.charAt(i);
            if (c == '%' && i + 2 < s.length()
                    && isUpperHex(s.charAt(i + 1)) && isUpperHex(s.charAt(i + 2))) {
                out[n++] = (byte) Integer.parseInt(s.substring(i + 1, i + 3), 16);
                i += 2;
            } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
                    || "._~+-/@,=".indexOf(c) >= 0) {
                out[n++] = (byte) c;
            } else {
                throw refused(where + " has a byte that is not percent-encoded");
            }
        }
        try {
            return StandardCharsets.UTF_8.newDecoder().onMalformedInput(CodingErrorAction.REPORT)
                    .decode(java.nio.ByteBuffer.wrap(out, 0, n)).toString();
        } catch (CharacterCodingException e) {
            throw refused(where + " has a path that is not UTF-8");
        }
    }

    private static boolean isUpperHex(char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
    }

    /** The order of the paths' UTF-8 bytes. */
    static int compareBytes(String a, String b) {
        return Arrays.compareUnsigned(a.getBytes(StandardCharsets.UTF_8), b.getBytes(StandardCharsets.UTF_8));
    }

    private static int indexOf(byte[] bytes, byte b, int from) {
        for (int i = from; i < bytes.length; i++) {
            if (bytes[i] == b) {
                return i;
            }
        }
        return -1;
    }

    private static UpdateException refused(String why) {
        return new UpdateException("The update manifest is refused: " + why + ". Nothing was changed.");
    }
}
