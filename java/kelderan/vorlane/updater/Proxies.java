package kelderan.vorlane.updater;

import java.net.InetSocketAddress;
import java.net.Proxy;
import java.net.URI;
import java.net.URL;
import java.util.Locale;

/** The proxy that {@code https_proxy}, {@code http_proxy} and {@code no_proxy} name for a request to the update site. */
final class Proxies {
    private Proxies() {}

    /** The proxy of {@code https_proxy} or {@code http_proxy} (or upper case), unless {@code no_proxy} names the host. */
    static Proxy proxyFor(URL url) {
        String scheme = url.getProtocol().toLowerCase(Locale.ROOT);
        String setting = env(scheme + "_proxy");
        if (setting == null || setting.isEmpty() || bypassed(url.getHost(), env("no_proxy"))) {
            return Proxy.NO_PROXY;
        }
        try {
            URI p = URI.create(setting.contains("://") ? setting : "http://" + setting);
            if (p.getHost() == null) {
                return Proxy.NO_PROXY;
            }
            int port = p.getPort() > 0 ? p.getPort() : 80;
            return new Proxy(Proxy.Type.HTTP, new InetSocketAddress(p.getHost(), port));
        } catch (IllegalArgumentException e) {
            return Proxy.NO_PROXY;
        }
    }

    /**
     * Whether the list {@code noProxy} names {@code host}: the host itself or
     * a domain it lies in (with or without a leading dot), or {@code *}.
     */
    static boolean bypassed(String host, String noProxy) {
        if (noProxy == null || noProxy.isEmpty()) {
            return false;
        }
        host = host.toLowerCase(Locale.ROOT);
        if (host.startsWith("[") && host.endsWith("]")) {
            host = host.substring(1, host.length() - 1);
        }
        for (String entry : noProxy.split(",")) {
            String e = entry.trim().toLowerCase(Locale.ROOT);
            if (e.isEmpty()) {
                continue;
            }
            if (e.equals("*")) {
                return true;
            }
            if (e.startsWith(".")) {
                e = e.substring(1);
            }
            if (host.equals(e) || host.endsWith("." + e)) {
                return true;
            }
        }
        return false;
    }

    private static String env(String lower) {
        String v = System.getenv(lower);
        return v != null ? v : System.getenv(lower.toUpperCase(Locale.ROOT));
    }
}
