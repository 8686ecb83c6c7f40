package stale;

/** Built twice by archive_kinds.sh, into util.jar: VERSION is replaced by v1, then v2 or v2-longer. */
public final class Util {
    private Util() {}

    public static String version() {
        return "VERSION";
    }
}
