package kelderan.vorlane.launcher;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.List;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

class JvmOptionsTest {
    @TempDir
    Path temp;

    private JvmOptions options() {
        return new JvmOptions(temp.resolve("app/jvm-options"), List.of("-Xmx", "-Dui."));
    }

    @Test
    void writesAtomicallyAndReadsBack() throws IOException {
        JvmOptions options = options();
        assertEquals(List.of(), options.read());  // no file yet
        options.write(List.of("-Xmx2g", "-Dui.font=Noto Sans"));
        assertEquals(List.of("-Xmx2g", "-Dui.font=Noto Sans"), options.read());
        options.write(List.of("-Xmx1g"));
        assertEquals(List.of("-Xmx1g"), options.read());
        // Only the file is left: no temporary file beside it.
        assertEquals(List.of(options.file()), Files.list(options.file().getParent()).toList());
        assertEquals("rwx------", PosixFilePermissions.toString(
                Files.getPosixFilePermissions(options.file().getParent())));
    }

    @Test
    void refusesWhatTheLauncherWouldLeaveOut() throws IOException {
        JvmOptions options = options();
        options.write(List.of("-Xmx2g"));
        for (String refused : List.of("-XX:+UseZGC", "", " -Xmx1g", "-Xmx1g ", "#-Xmx1g",
                "-Xmx1g\n-XX:+UseZGC", "-Dui.x=\u0000", "-Dui.x=" + "y".repeat(4096))) {
            assertFalse(options.isAllowed(refused), refused);
            assertThrows(IllegalArgumentException.class,
                    () -> options.write(List.of("-Xmx1g", refused)), refused);
        }
        assertEquals(List.of("-Xmx2g"), options.read());  // unchanged by a refused write
        assertFalse(new JvmOptions(options.file(), List.of()).isAllowed("-Xmx1g"));
    }

    @Test
    void readsAsTheLauncherDoes() throws IOException {
        JvmOptions options = options();
        Files.createDirectories(options.file().getParent());
        String[][] rows = {
            {"# c\n\n  -Xmx2g \r\n-XX:+UseZGC\n-Dui.a=b c", "-Xmx2g|-Dui.a=b c"},
            {"-Xmx2g\n\u0001", ""},  // no text: the whole file is left out
            {"-Xmx2g\n" + "#".repeat(JvmOptions.FILE_CAP), ""},  // too large
        };
        for (String[] row : rows) {
            Files.writeString(options.file(), row[0], StandardCharsets.UTF_8);
            assertEquals(row[1].isEmpty() ? List.of() : List.of(row[1].split("\\|")),
                    options.read(), row[0].substring(0, Math.min(20, row[0].length())));
        }
    }

    @Test
    void fileFollowsTheBaseDirectoryRules() throws IOException {
        assertEquals(Path.of("/c/app/jvm-options"), JvmOptions.fileFor("/c", "/h", "app"));
        assertEquals(Path.of("/h/.config/app/jvm-options"), JvmOptions.fileFor("rel", "/h", "app"));
        assertEquals(Path.of("/h/.config/app/jvm-options"), JvmOptions.fileFor(null, "/h", "app"));
        assertThrows(IOException.class, () -> JvmOptions.fileFor(null, null, "app"));
        assertTrue(JvmOptions.forThisApp().allowedPrefixes().isEmpty());  // no native launcher
    }
}
