package kelderan.vorlane.launcher;

import static org.junit.jupiter.api.Assertions.assertEquals;

import org.junit.jupiter.api.Test;

class LauncherTest {
    @Test
    void trainingQuietTimeFallsBackToTheDefaultOnAnythingButSeconds() {
        Object[][] cases = {
            {null, 2000L}, {"5", 5000L}, {" 0.5 ", 500L}, {"0", 0L},
            {"-1", 2000L}, {"NaN", 2000L}, {"Infinity", 2000L}, {"1e9", 2000L}, {"2s", 2000L}, {"", 2000L},
        };
        for (Object[] c : cases) {
            assertEquals((long) c[1], Launcher.TrainingEnd.quietMillis((String) c[0]), String.valueOf(c[0]));
        }
    }
}
