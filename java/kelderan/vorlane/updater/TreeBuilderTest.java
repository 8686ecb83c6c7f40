package kelderan.vorlane.updater;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.attribute.FileTime;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.concurrent.TimeUnit;
import java.util.stream.Stream;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/** A version's tree from the install's own files and the checked objects. */
class TreeBuilderTest {
    private static final long TIME = 1_700_000_000L;
    @TempDir
    Path dir;

    private Object inode(Path p) throws Exception {
        return Files.getAttribute(p, "unix:ino", LinkOption.NOFOLLOW_LINKS);
    }

    @Test
    void linksCopiesOrWritesEachFileWithSafeModes() throws Exception {
        Path source = Files.createDirectories(dir.resolve("1.0-1/lib"));
        for (String f : List.of("same", "moved")) {
            Files.writeString(source.resolve(f), f + "\n");
            Files.setPosixFilePermissions(source.resolve(f), UpdateFiles.permissions(0644));
            Files.setLastModifiedTime(source.resolve(f), FileTime.from(TIME, TimeUnit.SECONDS));
        }
        Downloads downloads = new Downloads(Files.createDirectories(dir.resolve(".downloads")), new LocalHashes());
        Manifest m = new Manifest();
        m.entries.addAll(List.of(SelfUpdateTest.folder("lib", 0555), SelfUpdateTest.folder("open", 0777),
                SelfUpdateTest.file("lib/same", 0644, "same\n", TIME),
                SelfUpdateTest.file("lib/moved", 0600, "moved\n", TIME),
                SelfUpdateTest.file("open/new", 0666, "new\n", TIME + 1),
                new Manifest.Entry('l', "open/link", 0777, 0, null, 0, 0, "../lib/same")));
        Files.write(downloads.object(SelfUpdateTest.sha("new\n")), SelfUpdateTest.gzip("new\n"));
        Path staging = dir.resolve(".staging-1.1-1");
        new TreeBuilder(downloads, new LocalHashes()).build(m, staging, List.of(dir.resolve("1.0-1")),
                new Cancellation());

        // path | mode | same inode as the source's
        Object[][] rows = {
            {"lib", 0555, false},
            {"open", 0755, false},
            {"lib/same", 0644, true},
            {"lib/moved", 0600, false},
            {"open/new", 0644, false},
        };
        for (Object[] r : rows) {
            Path p = staging.resolve((String) r[0]);
            assertEquals(r[1], UpdateFiles.modeOf(p), (String) r[0]);
            if ((Boolean) r[2]) {
                assertEquals(inode(source.resolve("same")), inode(p));
            } else if (Files.isRegularFile(p)) {
                assertNotEquals(inode(source.resolve("moved")), inode(p), (String) r[0]);
            }
        }
        assertEquals(0644, UpdateFiles.modeOf(source.resolve("moved")), "the source keeps its mode");
        assertEquals("new\n", Files.readString(staging.resolve("open/new")));
        assertEquals(TIME + 1, Files.getLastModifiedTime(staging.resolve("open/new")).to(TimeUnit.SECONDS));
        assertEquals(Paths.get("../lib/same"), Files.readSymbolicLink(staging.resolve("open/link")));
    }

    /** The dump runs the entry's options and no others, whatever the archive's name. */
    @Test
    void remakesEachArchiveWithTheOptionsItsEntryCarries() throws Exception {
        // A java that writes its arguments into the archive it is asked for.
        String java = "#!/bin/sh\nfor a; do case $a in -XX:SharedArchiveFile=*) f=${a#*=};; esac; done\n"
                + "echo \"$*\" > \"$f\"\n";
        Downloads downloads = new Downloads(Files.createDirectories(dir.resolve(".downloads")), new LocalHashes());
        Files.write(downloads.object(SelfUpdateTest.sha(java)), SelfUpdateTest.gzip(java));
        Manifest m = new Manifest();
        m.entries.add(SelfUpdateTest.file("lib/runtime/bin/java", 0755, java, TIME));
        // archive | the options of its entry
        Map<String, List<String>> rows = new LinkedHashMap<>();
        rows.put("lib/runtime/lib/server/classes.jsa", List.of());
        rows.put("lib/runtime/lib/server/classes_nocoops.jsa", List.of());
        rows.put("lib/runtime/lib/server/other.jsa", List.of("-XX:-UseCompressedOops"));
        rows.forEach((path, options) -> m.entries.add(new Manifest.Entry('r', path, 0644, 0, null, 0, 0, null,
                options)));
        Path staging = dir.resolve(".staging-1.1-1");
        new TreeBuilder(downloads, new LocalHashes()).build(m, staging, List.of(), new Cancellation());
        for (Map.Entry<String, List<String>> r : rows.entrySet()) {
            String args = String.join(" ", Stream.concat(Stream.of("-Xshare:dump",
                    "-XX:SharedArchiveFile=" + staging.resolve(r.getKey())), r.getValue().stream()).toList());
            assertEquals(args + "\n", Files.readString(staging.resolve(r.getKey())), r.getKey());
        }
    }

    @Test
    void refusesAnObjectThatIsMissingOrNoLongerMatches() throws Exception {
        Downloads downloads = new Downloads(Files.createDirectories(dir.resolve(".downloads")), new LocalHashes());
        Manifest.Entry e = SelfUpdateTest.file("data", 0644, "data 1.1-1\n", TIME);
        Manifest m = new Manifest();
        m.entries.add(e);
        Path object = downloads.object(e.sha256);
        // object's content (null: none) | what the refusal says
        String[][] rows = {
            {null, "The update's file data was not downloaded; try again"},
            {"data 6.6-6\n", "The downloaded file data changed on disk and no longer matches its hash"},
            {"data 1.1-1\nand more", "The downloaded file data changed on disk"},
        };
        for (String[] r : rows) {
            if (r[0] != null) {
                Files.write(object, SelfUpdateTest.gzip(r[0]));
            }
            UpdateException x = assertThrows(UpdateException.class, () -> new TreeBuilder(downloads,
                    new LocalHashes()).build(m, dir.resolve("staging"), List.of(), new Cancellation()), r[1]);
            assertTrue(x.getMessage().startsWith(r[1]), x.getMessage());
            assertFalse(Files.exists(object), "a changed object goes, so the next try fetches it again");
        }
    }
}
