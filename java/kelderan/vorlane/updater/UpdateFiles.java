package kelderan.vorlane.updater;

import java.io.IOException;
import java.nio.channels.FileChannel;
import java.nio.file.FileVisitResult;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.SimpleFileVisitor;
import java.nio.file.StandardOpenOption;
import java.nio.file.attribute.BasicFileAttributes;
import java.nio.file.attribute.FileAttribute;
import java.nio.file.attribute.PosixFileAttributeView;
import java.nio.file.attribute.PosixFilePermission;
import java.nio.file.attribute.PosixFilePermissions;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.util.EnumSet;
import java.util.Set;

/**
 * The file rules every step of a self-update keeps: nothing is followed
 * through a link, nothing made is writable by group or others, and a
 * failure reads as one message fit for a user.
 */
final class UpdateFiles {
    /** Modes never given to what the updater makes: group and others do not write. */
    private static final int NO_WRITE_BY_OTHERS = 022;

    static final FileAttribute<Set<PosixFilePermission>> FOLDER =
            PosixFilePermissions.asFileAttribute(permissions(0755));
    static final FileAttribute<Set<PosixFilePermission>> PRIVATE =
            PosixFilePermissions.asFileAttribute(permissions(0600));
    static final FileAttribute<Set<PosixFilePermission>> SHARED =
            PosixFilePermissions.asFileAttribute(permissions(0644));

    private UpdateFiles() {}

    /** {@code a + b}, or {@link Long#MAX_VALUE} where that sum of sizes does not fit. */
    static long addSaturated(long a, long b) {
        long sum = a + b;
        return ((a ^ sum) & (b ^ sum)) < 0 ? (a < 0 ? Long.MIN_VALUE : Long.MAX_VALUE) : sum;
    }

    /** How much to read into a buffer of {@code room} bytes when {@code left} are wanted: one more shows a surplus. */
    static int upToOnePast(int room, long left) {
        return left >= room ? room : (int) left + 1;
    }

    /** The size of a plain file, not through a link; 0 when there is none. */
    static long plainSize(Path p) {
        try {
            BasicFileAttributes a = Files.readAttributes(p, BasicFileAttributes.class, LinkOption.NOFOLLOW_LINKS);
            return a.isRegularFile() ? a.size() : 0;
        } catch (IOException e) {
            return 0;
        }
    }

    /** Whether {@code p} is a plain file, not a link. */
    static boolean isPlainFile(Path p) {
        return Files.isRegularFile(p, LinkOption.NOFOLLOW_LINKS);
    }

    static void stopIfCancelled(Cancellation cancel) throws UpdateException {
        if (cancel.isCancelled()) {
            throw new UpdateException("The update was cancelled; nothing was changed.");
        }
    }

    static UpdateException ioFailure(IOException e) {
        if (Fetcher.noSpace(e)) {
            return new UpdateException("There is not enough disk space for the update; nothing was changed"
                    + " (free some space and try again).", e);
        }
        return new UpdateException("The update failed: " + e + "; nothing was changed.", e);
    }

    /**
     * Makes sure {@code dir} is a folder of its own under the install, not a
     * link: a link planted in its place is removed (never what it points
     * to), with a note, and the folder made.
     */
    static void realFolder(Path dir) throws IOException {
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

    static void sync(Path dir) throws IOException {
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

    /** Sets {@code mode} without what group and others would write, on {@code p} itself (not through a link). */
    static void setMode(Path p, int mode) throws IOException {
        Files.getFileAttributeView(p, PosixFileAttributeView.class, LinkOption.NOFOLLOW_LINKS)
                .setPermissions(permissions(safeMode(mode)));
    }

    /** The mode the updater gives where the manifest says {@code mode}: never writable by group or others. */
    static int safeMode(int mode) {
        return mode & 0777 & ~NO_WRITE_BY_OTHERS;
    }

    static int modeOf(Path p) throws IOException {
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

    static MessageDigest sha256() {
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
