package kelderan.vorlane.updater;

import java.nio.ByteBuffer;
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

    // The bounds of a manifest, the same in the packer's feed_plan.h, which
    // refuses to sign one past them. Within them a manifest reads in well
    // under a second.
    /** Bytes of the whole file, signature line included. */
    static final int MAX_BYTES = 16 << 20;
    static final int MAX_ENTRIES = 100_000;
    /** Bytes of a line before its '\n'. */
    static final int MAX_LINE = 65536;
    /** Decoded bytes of a path or a link's text. */
    static final int MAX_PATH = 4096;
    /** A file's size and stored size. */
    static final long MAX_SIZE = 1L << 40;

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
        /** 'r': the JVM options the archive's dump runs with besides -Xshare:dump. */
        final List<String> options;

        Entry(char kind, String path, int mode, long size, String sha256, long mtime, long stored,
                String target) {
            this(kind, path, mode, size, sha256, mtime, stored, target, List.of());
        }

        Entry(char kind, String path, int mode, long size, String sha256, long mtime, long stored,
                String target, List<String> options) {
            this.kind = kind;
            this.path = path;
            this.mode = mode;
            this.size = size;
            this.sha256 = sha256;
            this.mtime = mtime;
            this.stored = stored;
            this.target = target;
            this.options = options;
        }
    }

    String name;
    String version;
    String channel;
    String arch;
    String date;
    String expires; // null, or the date after which the feed is stale (format 2, maybe 3)
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

    /**
     * Checks the signature of {@code bytes} with {@code key} and reads the
     * manifest line by line, refusing at the first line past a bound.
     */
    static Manifest parse(byte[] bytes, PublicKey key) throws UpdateException {
        if (bytes.length > MAX_BYTES) {
            throw refused("it is " + bytes.length + " bytes, over the " + MAX_BYTES + " this app reads");
        }
        int newline = indexOf(bytes, (byte) '\n', 0, bytes.length);
        if (newline < 0) {
            throw refused("it has no signature line");
        }
        if (newline > 0 && bytes[newline - 1] == '\r') {
            throw refused("it has CRLF line ends (a carriage return ends line 1)");
        }
        String first = new String(bytes, 0, newline, StandardCharsets.ISO_8859_1);
        if (!first.startsWith(SIGNATURE_PREFIX)) {
            throw refused("its first line is no Ed25519 signature");
        }
        byte[] signature;
        try {
            signature = Base64.getDecoder().decode(first.substring(SIGNATURE_PREFIX.length()));
        } catch (IllegalArgumentException e) {
            throw refused("its signature is not base64");
        }
        boolean good;
        try {
            Signature verifier = Signature.getInstance("Ed25519");
            verifier.initVerify(key);
            verifier.update(bytes, newline + 1, bytes.length - newline - 1);
            good = verifier.verify(signature);
        } catch (GeneralSecurityException e) {
            good = false;
        }
        if (!good) {
            throw new UpdateException("The update manifest's signature does not match this app's"
                    + " feed key: it was changed, or signed with another key. Nothing was changed.");
        }
        return read(bytes, newline + 1);
    }

    /** The lines of a manifest's bytes, each checked for its length, a carriage return and its end. */
    private static final class Lines {
        final byte[] bytes;
        int start;
        int end; // of the current line, at its '\n'
        int number; // of the current line in the whole file: the signature line is 1

        Lines(byte[] bytes, int start) {
            this.bytes = bytes;
            this.start = start;
            this.end = start - 1;
            this.number = 1;
        }

        /** Moves to the next line; false at the end of the bytes. */
        boolean next() throws UpdateException {
            start = end + 1;
            if (start >= bytes.length) {
                return false;
            }
            number++;
            // Looks no further than a line may reach, so a huge line fails at once.
            end = indexOf(bytes, (byte) '\n', start, Math.min(bytes.length, start + MAX_LINE + 1));
            if (end < 0) {
                if (bytes.length - start > MAX_LINE) {
                    throw refused("line " + number + " is longer than " + MAX_LINE + " bytes");
                }
                throw refused("its last line has no line end");
            }
            int cr = indexOf(bytes, (byte) '\r', start, end);
            if (cr >= 0) {
                throw refused(cr == end - 1
                        ? "it has CRLF line ends (a carriage return ends line " + number + ")"
                        : "it has a carriage return in line " + number);
            }
            return true;
        }

        String text() throws UpdateException {
            try {
                return StandardCharsets.UTF_8.newDecoder().onMalformedInput(CodingErrorAction.REPORT)
                        .onUnmappableCharacter(CodingErrorAction.REPORT)
                        .decode(ByteBuffer.wrap(bytes, start, end - start)).toString();
            } catch (CharacterCodingException e) {
                throw refused("line " + number + " is not UTF-8");
            }
        }
    }

    private static final String[] HEADER_1 = {"name", "version", "channel", "arch", "date", "notes"};
    private static final String[] HEADER_2 = {"name", "version", "channel", "arch", "date", "expires", "notes"};

    private static Manifest read(byte[] bytes, int from) throws UpdateException {
        Lines lines = new Lines(bytes, from);
        if (!lines.next()) {
            throw refused("it is cut short");
        }
        String first = lines.text();
        if (!first.startsWith("vorlane-update ")) {
            throw refused("line 2 is not 'vorlane-update ...'");
        }
        String format = first.substring("vorlane-update ".length());
        if (!format.equals("1") && !format.equals("2") && !format.equals("3")) {
            throw refused("it is format " + format + "; this app reads formats 1, 2 and 3");
        }
        // Format 3's remake lines carry their options, and its expiry is optional.
        boolean three = format.equals("3");
        Manifest m = new Manifest();
        String line = null;
        for (String key : format.equals("1") ? HEADER_1 : HEADER_2) {
            if (line == null) {
                if (!lines.next()) {
                    throw refused("it is cut short");
                }
                line = lines.text();
            }
            if (three && key.equals("expires") && !line.startsWith("expires ")) {
                continue; // the line is read again as the notes
            }
            if (!line.startsWith(key + " ")) {
                throw refused("line " + lines.number + " is not '" + key + " ...'");
            }
            String value = line.substring(key.length() + 1);
            line = null;
            switch (key) {
                case "name": m.name = value; break;
                case "version": m.version = value; break;
                case "channel": m.channel = value; break;
                case "arch": m.arch = value; break;
                case "date": m.date = date(value, lines.number); break;
                case "expires":
                    m.expires = date(value, lines.number);
                    // One form, so the text order is the time order.
                    if (m.expires.compareTo(m.date) <= 0) {
                        throw refused("line " + lines.number + " has an expiry that is not after its date");
                    }
                    break;
                default:
                    try {
                        m.notes = new String(Base64.getDecoder().decode(value), StandardCharsets.UTF_8);
                    } catch (IllegalArgumentException e) {
                        throw refused("its notes are not base64");
                    }
            }
        }
        byte[] previous = null;
        Set<String> notDirs = new HashSet<>();
        List<Integer> linkLines = new ArrayList<>();
        while (lines.next()) {
            if (m.entries.size() == MAX_ENTRIES) {
                throw refused("it lists more than " + MAX_ENTRIES + " entries");
            }
            Entry e = entry(lines, three);
            byte[] raw = e.path.getBytes(StandardCharsets.UTF_8);
            // The order of a manifest's entries: the raw (decoded) paths'
            // bytes, compared unsigned, whatever their encoding on the line
            // (the packer's feed_plan.cc writes them so).
            if (previous != null && Arrays.compareUnsigned(previous, raw) >= 0) {
                throw refused("line " + lines.number + " is out of order or repeats a path");
            }
            // A path under a file or a link would reach through it, maybe out of the tree.
            for (int slash = e.path.indexOf('/'); slash >= 0; slash = e.path.indexOf('/', slash + 1)) {
                if (notDirs.contains(e.path.substring(0, slash))) {
                    throw refused("line " + lines.number + " puts a path under a file or a link");
                }
            }
            if (e.kind != 'd') {
                notDirs.add(e.path);
            }
            previous = raw;
            if (e.kind == 'l') {
                linkLines.add(lines.number);
            }
            m.entries.add(e);
        }
        // Checked once every link is known: a link may name one listed after it.
        Set<String> links = new HashSet<>();
        for (Entry e : m.entries) {
            if (e.kind == 'l') {
                links.add(e.path);
            }
        }
        int n = 0;
        for (Entry e : m.entries) {
            if (e.kind == 'l' && throughLink(e.path, e.target, links)) {
                throw refused("line " + linkLines.get(n) + " has a link that points through another link");
            }
            n += e.kind == 'l' ? 1 : 0;
        }
        return m;
    }

    /**
     * Whether the link text {@code target} at {@code path} reaches a component of its own
     * text that is one of the tree's {@code links} and then goes on: the rest would be read
     * from wherever that link points ({@code s -> .} makes {@code s/s/../..} climb two
     * folders, not none), which the text alone does not show.
     */
    static boolean throughLink(String path, String target, Set<String> links) {
        StringBuilder at = new StringBuilder(path.substring(0, Math.max(0, path.lastIndexOf('/'))));
        List<Integer> starts = new ArrayList<>(); // the length of `at` before each component
        for (int i = 0; at.length() > 0 && i >= 0; i = at.indexOf("/", i + 1)) {
            starts.add(i);
        }
        boolean afterLink = false;
        for (String part : target.split("/", -1)) {
            if (part.isEmpty() || part.equals(".")) {
                continue;
            }
            // Only a component reached by name can be a link: the link's own folders are
            // real ones (nothing lies under a link), and so is what ".." climbs back to.
            if (afterLink) {
                return true;
            }
            if (part.equals("..")) {
                if (!starts.isEmpty()) { // climbing out of the tree is refused on its line
                    at.setLength(starts.remove(starts.size() - 1));
                }
            } else {
                starts.add(at.length());
                at.append(at.length() == 0 ? "" : "/").append(part);
                afterLink = links.contains(at.toString());
            }
        }
        return false;
    }

    /** A date of the one form YYYY-MM-DDTHH:MM:SSZ, of a day that exists. */
    private static String date(String s, int number) throws UpdateException {
        if (!validDate(s)) {
            throw refused("line " + number + " has a date not of the form YYYY-MM-DDTHH:MM:SSZ");
        }
        return s;
    }

    private static boolean validDate(String s) {
        String form = "dddd-dd-ddTdd:dd:ddZ";
        if (s.length() != form.length()) {
            return false;
        }
        for (int i = 0; i < form.length(); i++) {
            char c = s.charAt(i);
            if (form.charAt(i) == 'd' ? c < '0' || c > '9' : c != form.charAt(i)) {
                return false;
            }
        }
        int year = Integer.parseInt(s.substring(0, 4));
        int month = Integer.parseInt(s.substring(5, 7));
        int day = Integer.parseInt(s.substring(8, 10));
        if (month < 1 || month > 12 || day < 1) {
            return false;
        }
        boolean leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
        int[] days = {31, leap ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        return day <= days[month - 1] && Integer.parseInt(s.substring(11, 13)) <= 23
                && Integer.parseInt(s.substring(14, 16)) <= 59 && Integer.parseInt(s.substring(17, 19)) <= 59;
    }

    /** The options a remake line may carry: those the packer's archive table makes. */
    static final Set<String> REMAKE_OPTIONS = Set.of("-XX:-UseCompressedOops");

    private static Entry entry(Lines lines, boolean withOptions) throws UpdateException {
        String where = "line " + lines.number;
        // Entry lines are ASCII: every other byte is percent-encoded.
        for (int i = lines.start; i < lines.end; i++) {
            byte b = lines.bytes[i];
            if (b < 0 || !(PLAIN[b] || b == ' ' || b == '%')) {
                throw refused(where + " has a byte that is not percent-encoded");
            }
        }
        String[] f = new String(lines.bytes, lines.start, lines.end - lines.start, StandardCharsets.US_ASCII)
                .split(" ", -1);
        switch (f[0]) {
            case "dir":
                need(f, 3, where);
                return new Entry('d', path(f[2], where), mode(f[1], where), 0, null, 0, 0, null);
            case "file":
                need(f, 7, where);
                if (!sha256(f[3])) {
                    throw refused(where + " has no SHA-256");
                }
                return new Entry('f', path(f[6], where), mode(f[1], where), size(f[2], where), f[3],
                        number(f[4], where), size(f[5], where), null);
            case "link":
                need(f, 3, where);
                String p = path(f[2], where);
                return new Entry('l', p, 0777, 0, null, 0, 0, target(p, f[1], where));
            case "remake":
                if (!withOptions) {
                    need(f, 2, where);
                }
                String remade = path(f[1], where);
                return new Entry('r', remade, 0644, 0, null, 0, 0, null,
                        withOptions ? remakeOptions(f, where) : impliedOptions(remade));
            default:
                throw refused(where + " is of a kind this app does not know: '" + f[0] + "'");
        }
    }

    /**
     * A format-3 remake line's options after its path: decoded, each of
     * {@link #REMAKE_OPTIONS} at most once. Anything else is refused: the
     * feed comes from the network, and these run in the new version's JVM.
     */
    private static List<String> remakeOptions(String[] f, String where) throws UpdateException {
        List<String> options = new ArrayList<>();
        for (int i = 2; i < f.length; i++) {
            String option = decode(f[i], where);
            if (!REMAKE_OPTIONS.contains(option) || options.contains(option)) {
                throw refused(where + " has a remake option this app does not run");
            }
            options.add(option);
        }
        return List.copyOf(options);
    }

    /**
     * The options a remake line of formats 1 and 2 stood for, which had
     * none on the line: the runtime's classes_nocoops.jsa was always dumped
     * without compressed oops.
     */
    private static List<String> impliedOptions(String path) {
        return path.equals("lib/runtime/lib/server/classes_nocoops.jsa")
                ? List.of("-XX:-UseCompressedOops") : List.of();
    }

    private static void need(String[] f, int n, String where) throws UpdateException {
        if (f.length != n) {
            throw refused(where + " has " + f.length + " fields, not " + n);
        }
    }

    private static boolean sha256(String s) {
        if (s.length() != 64) {
            return false;
        }
        for (int i = 0; i < 64; i++) {
            char c = s.charAt(i);
            if (!(c >= '0' && c <= '9') && !(c >= 'a' && c <= 'f')) {
                return false;
            }
        }
        return true;
    }

    private static int mode(String s, String where) throws UpdateException {
        if (s.length() != 4) {
            throw refused(where + " has a bad mode");
        }
        int mode = 0;
        for (int i = 0; i < 4; i++) {
            char c = s.charAt(i);
            if (c < '0' || c > '7') {
                throw refused(where + " has a bad mode");
            }
            mode = mode * 8 + (c - '0');
        }
        return mode & 0777;
    }

    /** 1 to 18 digits, so no sign and no overflow. */
    private static long number(String s, String where) throws UpdateException {
        if (s.isEmpty() || s.length() > 18) {
            throw refused(where + " has a bad number");
        }
        long n = 0;
        for (int i = 0; i < s.length(); i++) {
            char c = s.charAt(i);
            if (c < '0' || c > '9') {
                throw refused(where + " has a bad number");
            }
            n = n * 10 + (c - '0');
        }
        return n;
    }

    /** A size or stored size: at most 2^40, so sums over every entry stay far below Long.MAX_VALUE. */
    private static long size(String s, String where) throws UpdateException {
        long n = number(s, where);
        if (n > MAX_SIZE) {
            throw refused(where + " has a size over 2^40 bytes");
        }
        return n;
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

    /** A link's text: relative, without a NUL, and naming a place inside the tree from {@code path}. */
    private static String target(String path, String encoded, String where) throws UpdateException {
        String t = decode(encoded, where);
        if (t.isEmpty() || t.startsWith("/") || t.indexOf('\0') >= 0) {
            throw refused(where + " has a link that points out of the tree");
        }
        int depth = path.split("/", -1).length - 1; // the folders above the link
        for (String part : t.split("/", -1)) {
            if (part.equals("..")) {
                depth--;
                if (depth < 0) {
                    throw refused(where + " has a link that points out of the tree");
                }
            } else if (!part.isEmpty() && !part.equals(".")) {
                depth++;
            }
        }
        return t;
    }

    /** Undoes the percent encoding; a byte that should have been encoded refuses the line. */
    private static String decode(String s, String where) throws UpdateException {
        byte[] out = new byte[s.length()];
        int n = 0;
        for (int i = 0; i < s.length(); i++) {
            char c = s.charAt(i);
            int hi = c == '%' && i + 2 < s.length() ? upperHex(s.charAt(i + 1)) : -1;
            int lo = hi >= 0 ? upperHex(s.charAt(i + 2)) : -1;
            if (lo >= 0) {
                out[n++] = (byte) (hi * 16 + lo);
                i += 2;
            } else if (c < 0x80 && PLAIN[c]) {
                out[n++] = (byte) c;
            } else {
                throw refused(where + " has a byte that is not percent-encoded");
            }
        }
        if (n > MAX_PATH) {
            throw refused(where + " has a path or link over " + MAX_PATH + " bytes");
        }
        // Bytes that are not UTF-8 decode to U+FFFD, which encodes to other bytes.
        String text = new String(out, 0, n, StandardCharsets.UTF_8);
        if (!Arrays.equals(text.getBytes(StandardCharsets.UTF_8), Arrays.copyOf(out, n))) {
            throw refused(where + " has a path that is not UTF-8");
        }
        return text;
    }

    /** The bytes written as themselves in a path: A-Za-z0-9 and ._~+-/@,= */
    private static final boolean[] PLAIN = new boolean[128];

    static {
        for (char c = 0; c < 128; c++) {
            PLAIN[c] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
                    || "._~+-/@,=".indexOf(c) >= 0;
        }
    }

    private static int upperHex(char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    }

    private static int indexOf(byte[] bytes, byte b, int from, int to) {
        for (int i = from; i < to; i++) {
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
