package kelderan.vorlane.updater;

import java.io.IOException;
import java.io.InputStream;
import java.nio.ByteBuffer;
import java.nio.channels.FileChannel;
import java.nio.file.DirectoryStream;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardCopyOption;
import java.nio.file.StandardOpenOption;
import java.util.ArrayList;
import java.util.HashSet;
import java.util.List;
import java.util.Set;

/**
 * The folders of a tarball install {@code R}: {@code R/bin/NAME} links to
 * {@code ../versions/V/bin/EXE}, and everything an update writes lives under
 * {@code R/versions/} until the one rename that switches the link.
 *
 * <ul>
 * <li>{@code .downloads/}: objects as fetched;
 * <li>{@code .staging-V/}: a version's tree while it is built;
 * <li>{@code .manifests/V}: the signed manifest of a version switched to.
 * </ul>
 */
final class InstallLayout {
    private static final String STAGING = ".staging-";
    private static final String MANIFESTS = ".manifests";

    private final Path versions;
    private final Path link;
    private final String exe;

    private InstallLayout(Path root, Path link, String exe) {
        this.versions = root.resolve("versions");
        this.link = link;
        this.exe = exe;
    }

    /**
     * The install the version tree {@code tree} lies in, with the link
     * named {@code name} (the package) or {@code exe} (the launcher); refused
     * when {@code R/bin} is a link or the tree is laid out otherwise.
     */
    static InstallLayout find(Path tree, String name, String exe) throws UpdateException {
        Path versions = tree.getParent();
        if (versions != null && versions.getFileName().toString().equals("versions")) {
            // R/bin/NAME is named after the package; it links to the launcher, which may be named otherwise.
            Path bin = versions.getParent().resolve("bin");
            if (Files.isSymbolicLink(bin)) {
                throw new UpdateException(bin + " is a symbolic link, not the install's own folder: the update"
                        + " is refused and nothing was changed (make it a folder again)");
            }
            for (String n : List.of(name, exe)) {
                if (Files.isSymbolicLink(bin.resolve(n))) {
                    return new InstallLayout(versions.getParent(), bin.resolve(n), exe);
                }
            }
        }
        throw new UpdateException("This install cannot update itself: it is not laid out as"
                + " NAME/bin/" + name + " -> ../versions/VERSION/bin/" + exe + " (a tarball made with"
                + " vorlane-pack package --update-feed-key)");
    }

    /** {@code R/bin/NAME}. */
    Path installLink() {
        return link;
    }

    /** The launcher's file name in a version's {@code bin/}. */
    String exe() {
        return exe;
    }

    Path versions() {
        return versions;
    }

    Path downloads() {
        return versions.resolve(".downloads");
    }

    /** {@code R/versions/V}. */
    Path version(String v) {
        return versions.resolve(v);
    }

    /** Where {@code V} is built before it is renamed into place. */
    Path staging(String v) {
        return versions.resolve(STAGING + v);
    }

    /** Where a folder already named {@code V} waits while an apply of {@code V} runs. */
    Path aside(String v) {
        return versions.resolve(STAGING + v + ".old");
    }

    /** The new link that is renamed over {@code R/bin/NAME}. */
    Path freshLink() {
        return link.resolveSibling("." + link.getFileName() + ".new");
    }

    /** The version {@code R/bin/NAME} points to. */
    String currentVersion() throws UpdateException {
        try {
            Path target = Files.readSymbolicLink(link);
            // ../versions/V/bin/NAME
            if (target.getNameCount() == 5 && target.getName(0).toString().equals("..")
                    && target.getName(1).toString().equals("versions")) {
                return target.getName(2).toString();
            }
            throw new UpdateException(link + " points to " + target + ", not to a version under " + versions);
        } catch (IOException e) {
            throw new UpdateException("Cannot read " + link + ": " + e.getMessage(), e);
        }
    }

    /** The version folders (valid names, no links), in no order. */
    List<String> versionDirs() throws UpdateException {
        List<String> out = new ArrayList<>();
        try (DirectoryStream<Path> list = Files.newDirectoryStream(versions)) {
            for (Path p : list) {
                String v = p.getFileName().toString();
                if (!v.startsWith(".") && Versions.valid(v) && Files.isDirectory(p, LinkOption.NOFOLLOW_LINKS)) {
                    out.add(v);
                }
            }
        } catch (IOException e) {
            throw UpdateFiles.ioFailure(e);
        }
        return out;
    }

    /** What a killed apply left: staging trees and a new link that was not renamed yet. */
    void removeLeftovers() throws UpdateException {
        try {
            Files.deleteIfExists(freshLink());
            try (DirectoryStream<Path> list = Files.newDirectoryStream(versions, STAGING + "*")) {
                for (Path p : list) {
                    UpdateFiles.deleteTree(p);
                }
            }
        } catch (IOException e) {
            throw UpdateFiles.ioFailure(e);
        }
    }

    /** Removes every version folder, and its kept manifest, but those in {@code keep}. */
    void removeVersionsBut(Set<String> keep) throws UpdateException {
        for (String v : versionDirs()) {
            if (!keep.contains(v)) {
                UpdateFiles.deleteTree(versions.resolve(v));
                UpdateFiles.deleteTree(versions.resolve(MANIFESTS).resolve(v));
            }
        }
    }

    /** Keeps the signed manifest of the version just switched to, as {@code .manifests/V}; a failure is a note. */
    void keepManifest(String version, byte[] signed) {
        if (signed == null) {
            return;
        }
        Path dir = versions.resolve(MANIFESTS);
        Path fresh = dir.resolve("." + version + ".new");
        try {
            UpdateFiles.realFolder(dir);
            Files.deleteIfExists(fresh);
            try (FileChannel c = FileChannel.open(fresh, Set.of(StandardOpenOption.CREATE_NEW,
                    StandardOpenOption.WRITE, LinkOption.NOFOLLOW_LINKS), UpdateFiles.SHARED)) {
                ByteBuffer b = ByteBuffer.wrap(signed);
                while (b.hasRemaining()) {
                    c.write(b);
                }
                c.force(true);
            }
            Files.move(fresh, dir.resolve(version), StandardCopyOption.ATOMIC_MOVE);
            UpdateFiles.sync(dir);
        } catch (IOException e) {
            System.err.println("Note: could not keep the manifest of " + version + " (" + e.getMessage()
                    + "); the next check reads it from the update site.");
        }
    }

    /**
     * The bytes of the manifest an apply kept for {@code version} beside the
     * version tree {@code tree}, not checked yet; null when there is none, or
     * it is no plain file, lies behind a link or is larger than a manifest
     * may be.
     */
    static byte[] keptManifest(Path tree, String version) {
        Path versionsDir = tree.getParent();
        if (versionsDir == null || !versionsDir.getFileName().toString().equals("versions")) {
            return null;
        }
        Path file = versionsDir.resolve(MANIFESTS).resolve(version);
        try {
            if (Files.isSymbolicLink(versionsDir.resolve(MANIFESTS)) || !UpdateFiles.isPlainFile(file)
                    || Files.size(file) > Fetcher.maxManifest()) {
                return null;
            }
            try (InputStream in = Files.newInputStream(file, LinkOption.NOFOLLOW_LINKS)) {
                return in.readNBytes(Fetcher.maxManifest());
            }
        } catch (IOException e) {
            return null;
        }
    }

    /**
     * The versions under {@code versionsDir} that the executables
     * {@code exes} (as {@code /proc/PID/exe} names them) lie in.
     */
    static Set<String> runningVersions(Path versionsDir, List<Path> exes) {
        Set<String> out = new HashSet<>();
        int depth = versionsDir.getNameCount();
        for (Path exe : exes) {
            if (exe.startsWith(versionsDir) && exe.getNameCount() > depth + 1) {
                out.add(exe.getName(depth).toString());
            }
        }
        return out;
    }

    /** The versions a process of this install runs; every version folder when the processes cannot be listed. */
    Set<String> versionsInUse() throws UpdateException {
        List<Path> live = liveExecutables();
        return live != null ? runningVersions(versions, live) : new HashSet<>(versionDirs());
    }

    /** What every process this user may look at runs, from {@code /proc/PID/exe}; null when they cannot be listed. */
    private static List<Path> liveExecutables() {
        List<Path> out = new ArrayList<>();
        try (DirectoryStream<Path> list = Files.newDirectoryStream(Paths.get("/proc"), "[0-9]*")) {
            for (Path p : list) {
                try {
                    out.add(Files.readSymbolicLink(p.resolve("exe")));
                } catch (IOException | UnsupportedOperationException ignored) {
                    // Ended meanwhile, or another user's.
                }
            }
        } catch (IOException e) {
            System.err.println("Note: cannot list the processes (" + e.getMessage() + "); the older versions stay.");
            return null;
        }
        return out;
    }
}
