package kelderan.vorlane.updater;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Locale;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/** The install records the packer writes, read by the updater as the packer's own reader reads them. */
class InstallRecordTest {
    @Test
    void readsTheSharedVectorsAsExpected(@TempDir Path dir) throws Exception {
        Path vectors = Path.of(System.getProperty("vorlane.testdata", "formats/testdata")).resolve("install-records");
        int rows = 0;
        for (String line : Files.readAllLines(vectors.resolve("expected.txt"))) {
            if (line.isEmpty() || line.startsWith("#")) {
                continue;
            }
            String[] row = line.trim().split("\\s+");
            Path tree = Files.createDirectories(dir.resolve("tree" + rows++));
            Files.createDirectories(tree.resolve("lib"));
            Files.copy(vectors.resolve(row[0]), tree.resolve(Updater.RECORD));
            if (row[1].equals("refused")) {
                assertThrows(UpdateException.class, () -> Updater.forTree(tree), row[0]);
                continue;
            }
            Updater updater = Updater.forTree(tree);
            assertEquals(row[1], updater.kind().name().toLowerCase(Locale.ROOT), row[0]);
            assertEquals(row[2], updater.version(), row[0]);
        }
        assertTrue(rows >= 8, "vectors read: " + rows);
    }
}
