package kelderan.vorlane.updater;

import java.io.IOException;
import java.nio.channels.FileChannel;
import java.nio.channels.FileLock;
import java.nio.channels.OverlappingFileLockException;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.StandardOpenOption;
import java.util.Set;

/**
 * {@code R/versions/.lock}, held for a whole apply or rollback so that a
 * second one, in this process or another, is refused and changes nothing.
 */
final class InstallLock implements AutoCloseable {
    private static final String BUSY = "Another update of this install is running; nothing was changed.";

    private final FileChannel channel;
    private final FileLock lock;

    private InstallLock(FileChannel channel, FileLock lock) {
        this.channel = channel;
        this.lock = lock;
    }

    /**
     * Takes the lock of the install whose versions are in {@code versions},
     * or throws when another update holds it. The file is opened without
     * following links, and one that is a link or no plain file is refused.
     */
    static InstallLock take(Path versions) throws UpdateException {
        FileChannel channel = null;
        try {
            Path file = versions.resolve(".lock");
            if (Files.exists(file, LinkOption.NOFOLLOW_LINKS) && !UpdateFiles.isPlainFile(file)) {
                throw new UpdateException(file + " is " + (Files.isSymbolicLink(file) ? "a symbolic link" : "no file")
                        + ", which the updater did not make: the update is refused and nothing was changed"
                        + " (remove it and try again).");
            }
            channel = FileChannel.open(file, Set.of(StandardOpenOption.CREATE, StandardOpenOption.WRITE,
                    LinkOption.NOFOLLOW_LINKS), UpdateFiles.SHARED);
            FileLock l = channel.tryLock();
            if (l != null) {
                return new InstallLock(channel, l);
            }
        } catch (OverlappingFileLockException e) {
            // This process holds it already.
        } catch (IOException e) {
            close(channel);
            throw UpdateFiles.ioFailure(e);
        }
        close(channel);
        throw new UpdateException(BUSY);
    }

    /** Closes a channel that holds no lock; a null one is fine. */
    private static void close(FileChannel channel) {
        if (channel == null) {
            return;
        }
        try {
            channel.close();
        } catch (IOException ignored) {
            // Nothing was locked.
        }
    }

    @Override
    public void close() throws UpdateException {
        try {
            lock.release();
            channel.close();
        } catch (IOException e) {
            throw UpdateFiles.ioFailure(e);
        }
    }
}
