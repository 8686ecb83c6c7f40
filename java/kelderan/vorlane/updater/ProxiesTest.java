package kelderan.vorlane.updater;

import static org.junit.jupiter.api.Assertions.assertEquals;

import org.junit.jupiter.api.Test;

class ProxiesTest {
    @Test
    void noProxyNamesHostsAndTheirDomains() {
        // host | no_proxy | bypassed
        Object[][] rows = {
            {"updates.example.org", "example.org", true},
            {"updates.example.org", " .EXAMPLE.org ,x", true},
            {"example.org", ".example.org", true},
            {"badexample.org", "example.org", false},
            {"example.org.evil", "example.org", false},
            {"[::1]", "::1", true},
            {"10.0.0.1", "*", true},
            {"10.0.0.1", "", false},
            {"10.0.0.1", null, false},
            {"10.0.0.1", ",,", false},
        };
        for (Object[] r : rows) {
            assertEquals(r[2], Proxies.bypassed((String) r[0], (String) r[1]), r[0] + " / " + r[1]);
        }
    }
}
