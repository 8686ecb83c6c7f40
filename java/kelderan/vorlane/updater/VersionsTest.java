package kelderan.vorlane.updater;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import java.util.stream.Collectors;
import org.junit.jupiter.api.Test;

class VersionsTest {
    /** The shared format vectors (formats/testdata), which the packer's tests read too. */
    static Path testdata(String name) {
        return Path.of(System.getProperty("vorlane.testdata", "formats/testdata")).resolve(name);
    }

    @Test
    void ordersAsDebianDoes() throws IOException {
        List<String> rows = Files.readAllLines(testdata("version-order.txt")).stream()
                .filter(l -> !l.isBlank() && !l.startsWith("#")).collect(Collectors.toList());
        assertFalse(rows.isEmpty());
        for (String row : rows) {
            String[] f = row.split(" ");
            int want = f[1].equals("<") ? -1 : f[1].equals(">") ? 1 : 0;
            assertEquals(want, Integer.signum(Versions.compare(f[0], f[2])), row);
            assertEquals(-want, Integer.signum(Versions.compare(f[2], f[0])), row + ", reversed");
        }
    }

    @Test
    void acceptsOnlyVersionsThatParse() {
        for (String v : List.of("1.0", "1.0-3", "2.0~rc1+dfsg-1")) {
            assertTrue(Versions.valid(v), v);
        }
        for (String v : List.of("", "a1.0", "1:2.0", "1.0 ", "1.0;rm", "1".repeat(201))) {
            assertFalse(Versions.valid(v), v);
        }
    }
}
