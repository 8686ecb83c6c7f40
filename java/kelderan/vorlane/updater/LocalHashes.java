package kelderan.vorlane.updater;

import java.io.IOException;
import java.io.InputStream;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.security.MessageDigest;
import java.util.HashMap;
import java.util.Map;

/**
 * Which files of the install's own trees already hold a manifest entry's
 * bytes: those need no download and are linked or copied into the new
 * version. Each file is hashed once per apply.
 */
final class LocalHashes {
    private final Map<String, String> hashes = new HashMap<>();

    /** Whether {@code tree} holds {@code e}'s bytes at its path (a plain file of the same size, then the same hash). */
    boolean sameBytes(Path tree, Manifest.Entry e) {
        Path p = tree.resolve(e.path);
        try {
            if (!Files.isRegularFile(p, LinkOption.NOFOLLOW_LINKS) || Files.size(p) != e.size) {
                return false;
            }
            String key = p.toString();
            String hash = hashes.get(key);
            if (hash == null) {
                MessageDigest sha = UpdateFiles.sha256();
                try (InputStream in = Files.newInputStream(p, LinkOption.NOFOLLOW_LINKS)) {
                    byte[] buffer = new byte[65536];
                    for (int n; (n = in.read(buffer)) > 0; ) {
                        sha.update(buffer, 0, n);
                    }
                }
                hash = UpdateFiles.hex(sha.digest());
                hashes.put(key, hash);
            }
            return hash.equals(e.sha256);
        } catch (IOException ex) {
            return false;
        }
    }
}
