package kelderan.vorlane.launcher;

import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.channels.FileChannel;
import java.nio.charset.StandardCharsets;
import java.nio.file.AtomicMoveNotSupportedException;
import java.nio.file.Files;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.nio.file.StandardOpenOption;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.ArrayList;
import java.util.List;

/**
 * The user's JVM options file of an app, for a settings dialog:
 * {@code $XDG_CONFIG_HOME/NAME/jvm-options} (default
 * {@code ~/.config/NAME/jvm-options}), which the native launcher reads at
 * every start, one option a line, before {@code VORLANE_JVM_OPTIONS}.
 *
 * <pre>{@code
 * JvmOptions options = JvmOptions.forThisApp();
 * List<String> now = options.read();                 // what the next start will use
 * options.write(List.of("-Xmx4g"));                  // effective from the next start
 * }</pre>
 *
 * <p>Only options the launch data allows ({@code vorlane-pack app
 * --allow-java-option PREFIX}) are written, by the launcher's own rule: an
 * option must start with one of the allowed prefixes. {@link #read} applies
 * the launcher's rules too, so it returns exactly the options the next start
 * takes from the file.
 */
public final class JvmOptions {
    /** The name of the file in the app's config folder. */
    public static final String FILE_NAME = "jvm-options";
    /** The largest file the launcher reads. */
    public static final int FILE_CAP = 64 * 1024;
    /** The longest line the launcher takes. */
    public static final int LINE_CAP = 4096;

    private final Path file;
    private final List<String> allowed;

    /** The options file at {@code file}, with the allowed prefixes {@code allowed}. */
    public JvmOptions(Path file, List<String> allowed) {
        this.file = file;
        this.allowed = List.copyOf(allowed);
    }

    /**
     * The options file of the running app: its name is that of the native
     * launcher's executable, its allow-list that of the launch data. Outside
     * the native launcher nothing is allowed.
     */
    public static JvmOptions forThisApp() throws IOException {
        Path exe = Path.of("/proc/self/exe").toRealPath();
        return new JvmOptions(fileFor(System.getenv("XDG_CONFIG_HOME"), System.getenv("HOME"),
                exe.getFileName().toString()), allowedOfThisApp());
    }

    /**
     * The file for the app {@code appName}: under {@code xdgConfigHome}
     * when it is an absolute path, else under {@code home}/.config.
     */
    static Path fileFor(String xdgConfigHome, String home, String appName) throws IOException {
        Path base;
        if (xdgConfigHome != null && xdgConfigHome.startsWith("/")) {
            base = Path.of(xdgConfigHome);
        } else if (home != null && home.startsWith("/")) {
            base = Path.of(home, ".config");
        } else {
            throw new IOException("Neither XDG_CONFIG_HOME nor HOME is an absolute path");
        }
        return base.resolve(appName).resolve(FILE_NAME);
    }

    private static List<String> allowedOfThisApp() {
        try {
            return List.of(nAllowedPrefixes());
        } catch (UnsatisfiedLinkError e) {
            // Not started by the native launcher: no launch data, no allow-list.
            return List.of();
        }
    }

    /** The launch data's allowed prefixes; bound by the native launcher. */
    private static native String[] nAllowedPrefixes();

    /** The file this object reads and writes. */
    public Path file() {
        return file;
    }

    /** The allowed prefixes, as the launch data has them. */
    public List<String> allowedPrefixes() {
        return allowed;
    }

    /**
     * Whether {@code option} can be a line of the file that the launcher
     * takes: it starts with an allowed prefix, is no comment, has no white
     * space at either end (the launcher would remove it), no line break or
     * other control character, and at most {@link #LINE_CAP} bytes.
     */
    public boolean isAllowed(String option) {
        return !option.isEmpty() && option.equals(option.strip()) && !option.startsWith("#")
                && option.chars().noneMatch(c -> c < 0x20 || c == 0x7F)
                && option.getBytes(StandardCharsets.UTF_8).length <= LINE_CAP
                && allowed.stream().anyMatch(option::startsWith);
    }

    /**
     * The options the next start takes from the file, in order: none when
     * it is missing, larger than {@link #FILE_CAP} or no text; lines the
     * launcher would leave out are left out.
     */
    public List<String> read() throws IOException {
        byte[] bytes;
        try {
            if (Files.size(file) > FILE_CAP) {
                return List.of();
            }
            bytes = Files.readAllBytes(file);
        } catch (NoSuchFileException e) {
            return List.of();
        }
        for (byte b : bytes) {
            if ((b >= 0 && b < 0x20 && b != '\t' && b != '\r' && b != '\n') || b == 0x7F) {
                return List.of();
            }
        }
        if (bytes.length > FILE_CAP) {
            return List.of();
        }
        List<String> options = new ArrayList<>();
        for (String line : new String(bytes, StandardCharsets.UTF_8).split("\n", -1)) {
            String option = stripBlanks(line);
            if (!option.isEmpty() && isAllowed(option)) {
                options.add(option);
            }
        }
        return options;
    }

    /** The launcher's trim: spaces, tabs and CRs at either end. */
    private static String stripBlanks(String line) {
        int start = 0;
        int end = line.length();
        while (start < end && " \t\r".indexOf(line.charAt(start)) >= 0) {
            start++;
        }
        while (end > start && " \t\r".indexOf(line.charAt(end - 1)) >= 0) {
            end--;
        }
        return line.substring(start, end);
    }

    /**
     * Replaces the file with {@code options}, one a line, atomically: a
     * reader sees the old file or the new one, never a part. The folder is
     * made (mode 0700) if missing.
     *
     * @throws IllegalArgumentException for an option {@link #isAllowed}
     *         refuses; nothing is written then
     */
    public void write(List<String> options) throws IOException {
        StringBuilder text = new StringBuilder("# JVM options, one a line; read at each start.\n");
        for (String option : options) {
            if (!isAllowed(option)) {
                throw new IllegalArgumentException("JVM option not allowed for this app: " + option);
            }
            text.append(option).append('\n');
        }
        byte[] bytes = text.toString().getBytes(StandardCharsets.UTF_8);
        if (bytes.length > FILE_CAP) {
            throw new IllegalArgumentException("JVM options larger than " + FILE_CAP + " bytes");
        }
        Path folder = file.toAbsolutePath().getParent();
        if (!Files.isDirectory(folder)) {
            Files.createDirectories(folder,
                    PosixFilePermissions.asFileAttribute(PosixFilePermissions.fromString("rwx------")));
        }
        Path temp = Files.createTempFile(folder, "." + FILE_NAME, ".tmp");
        try {
            try (FileChannel channel = FileChannel.open(temp, StandardOpenOption.WRITE)) {
                ByteBuffer buffer = ByteBuffer.wrap(bytes);
                while (buffer.hasRemaining()) {
                    channel.write(buffer);
                }
                channel.force(true);
            }
            try {
                Files.move(temp, file, StandardCopyOption.ATOMIC_MOVE,
                        StandardCopyOption.REPLACE_EXISTING);
            } catch (AtomicMoveNotSupportedException e) {
                throw new IOException("Cannot replace " + file + " atomically", e);
            }
        } finally {
            Files.deleteIfExists(temp);
        }
    }
}
