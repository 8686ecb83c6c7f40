package kelderan.vorlane.updater;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.List;
import java.util.Set;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/** The install's folders, its lock and the switch of its link. */
class InstallLayoutTest {
    @TempDir
    Path dir;

    @Test
    void findsTheLinkOrRefusesTheInstall() throws Exception {
        // what R/bin holds | the link found ("" when refused) | what the refusal says
        String[][] rows = {
            {"updapp -> ../versions/1.0-1/bin/run", "updapp", ""},
            {"run -> ../versions/1.0-1/bin/run", "run", ""},
            {"updapp (a file)", "", "cannot update itself: it is not laid out as NAME/bin/updapp ->"
                + " ../versions/VERSION/bin/run"},
            {"(a link to a folder)", "", "is a symbolic link, not the install's own folder"},
        };
        int n = 0;
        for (String[] r : rows) {
            Path root = dir.resolve(Integer.toString(n++));
            Path tree = Files.createDirectories(root.resolve("versions/1.0-1/bin"));
            if (r[0].startsWith("(")) {
                Files.createSymbolicLink(root.resolve("bin"), tree);
            } else if (r[0].contains(" -> ")) {
                Files.createDirectories(root.resolve("bin"));
                Files.createSymbolicLink(root.resolve("bin").resolve(r[1]), Paths.get("../versions/1.0-1/bin/run"));
            } else {
                Files.createDirectories(root.resolve("bin"));
                Files.writeString(root.resolve("bin/updapp"), "");
            }
            if (r[1].isEmpty()) {
                UpdateException e = assertThrows(UpdateException.class,
                        () -> InstallLayout.find(tree.getParent(), "updapp", "run"), r[0]);
                assertTrue(e.getMessage().contains(r[2]), e.getMessage());
            } else {
                InstallLayout l = InstallLayout.find(tree.getParent(), "updapp", "run");
                assertEquals(root.resolve("bin").resolve(r[1]), l.installLink(), r[0]);
                assertEquals("1.0-1", l.currentVersion());
            }
        }
        UpdateException e = assertThrows(UpdateException.class,
                () -> InstallLayout.find(dir.resolve("0/versions-old/1.0-1"), "updapp", "run"));
        assertTrue(e.getMessage().contains("cannot update itself"), e.getMessage());
    }

    @Test
    void readsTheCurrentVersionOnlyFromALinkIntoVersions() throws Exception {
        InstallLayout l = SelfUpdateTest.install(dir);
        Path link = l.installLink();
        // link text | version (null when refused)
        String[][] rows = {
            {"../versions/2.0~rc1-1/bin/updapp", "2.0~rc1-1"},
            {"../versions/1.0-1/updapp", null},
            {"../other/1.0-1/bin/updapp", null},
            {dir + "/updapp/versions/1.0-1/bin/updapp", null},
        };
        for (String[] r : rows) {
            Files.delete(link);
            Files.createSymbolicLink(link, Paths.get(r[0]));
            if (r[1] != null) {
                assertEquals(r[1], l.currentVersion(), r[0]);
            } else {
                UpdateException e = assertThrows(UpdateException.class, l::currentVersion, r[0]);
                assertTrue(e.getMessage().contains("not to a version under"), e.getMessage());
            }
        }
    }

    @Test
    void removesWhatAKilledApplyLeftAndListsOnlyVersionFolders() throws Exception {
        InstallLayout l = SelfUpdateTest.install(dir);
        Path staging = Files.createDirectories(l.staging("1.1-1").resolve("lib"));
        Files.writeString(staging.resolve("a"), "a");
        Files.setPosixFilePermissions(staging, UpdateFiles.permissions(0555)); // as a manifest may set it
        Files.createDirectories(l.aside("1.1-1"));
        Files.createSymbolicLink(l.freshLink(), Paths.get("../versions/1.1-1/bin/updapp"));
        Files.createDirectories(l.versions().resolve("not a version"));
        Files.createSymbolicLink(l.versions().resolve("1.9-1"), l.version("1.0-1"));
        l.removeLeftovers();
        assertFalse(Files.exists(l.staging("1.1-1")));
        assertFalse(Files.exists(l.aside("1.1-1")));
        assertFalse(Files.exists(l.freshLink(), java.nio.file.LinkOption.NOFOLLOW_LINKS));
        assertEquals(List.of("1.0-1"), l.versionDirs());
    }

    @Test
    void readsAKeptManifestOnlyFromAPlainFileOfItsOwn() throws Exception {
        InstallLayout l = SelfUpdateTest.install(dir);
        Path tree = l.version("1.0-1");
        assertNull(InstallLayout.keptManifest(tree, "1.0-1"));
        l.keepManifest("1.0-1", new byte[] {1, 2, 3});
        assertArrayEquals(new byte[] {1, 2, 3}, InstallLayout.keptManifest(tree, "1.0-1"));
        assertEquals(0644, UpdateFiles.modeOf(l.versions().resolve(".manifests/1.0-1")));
        Path elsewhere = Files.createDirectories(dir.resolve("elsewhere"));
        Files.writeString(elsewhere.resolve("1.0-1"), "planted");
        Files.move(l.versions().resolve(".manifests"), dir.resolve("kept"));
        Files.createSymbolicLink(l.versions().resolve(".manifests"), elsewhere);
        assertNull(InstallLayout.keptManifest(tree, "1.0-1"));
        Files.delete(l.versions().resolve(".manifests"));
        Files.createDirectories(l.versions().resolve(".manifests"));
        Files.createSymbolicLink(l.versions().resolve(".manifests/1.0-1"), elsewhere.resolve("1.0-1"));
        assertNull(InstallLayout.keptManifest(tree, "1.0-1"));
    }

    @Test
    @SuppressWarnings("try") // The lock is held for the whole block.
    void oneUpdateAtATime() throws Exception {
        InstallLayout l = SelfUpdateTest.install(dir);
        try (InstallLock held = InstallLock.take(l.versions())) {
            UpdateException e = assertThrows(UpdateException.class, () -> InstallLock.take(l.versions()));
            assertEquals("Another update of this install is running; nothing was changed.", e.getMessage());
        }
        InstallLock.take(l.versions()).close();
        // A link planted as the lock: refused, its target untouched.
        Path lock = l.versions().resolve(".lock");
        Files.delete(lock);
        Path target = Files.writeString(dir.resolve("target"), "keep");
        Files.createSymbolicLink(lock, target);
        UpdateException e = assertThrows(UpdateException.class, () -> InstallLock.take(l.versions()));
        assertTrue(e.getMessage().contains(".lock is a symbolic link, which the updater did not make"),
                e.getMessage());
        assertEquals("keep", Files.readString(target));
    }

    @Test
    void switchesTheLinkAndRollsBackOnlyWhereALauncherIs() throws Exception {
        InstallLayout l = SelfUpdateTest.install(dir);
        for (String v : List.of("0.9-1", "0.8-1")) {
            Files.createDirectories(l.version(v).resolve("bin"));
        }
        Files.writeString(l.version("0.8-1").resolve("bin/updapp"), "");
        assertEquals("0.8-1", LinkSwitch.rollback(l, "updapp"), "0.9-1 has no launcher");
        assertEquals(Paths.get("../versions/0.8-1/bin/updapp"), Files.readSymbolicLink(l.installLink()));
        LinkSwitch.switchTo(l, "1.0-1");
        assertEquals("1.0-1", l.currentVersion());
        assertEquals(Set.of("1.0-1", "0.8-1", "0.9-1"), Set.copyOf(l.versionDirs()));
    }
}
