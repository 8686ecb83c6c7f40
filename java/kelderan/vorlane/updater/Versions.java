package kelderan.vorlane.updater;

/** Debian's version order ({@code [EPOCH:]UPSTREAM[-REVISION]}), as the packer's site uses. */
final class Versions {
    private Versions() {}

    /** Whether the text is a version this updater accepts: it starts with a digit, in {@code [A-Za-z0-9.+~-]}. */
    static boolean valid(String v) {
        if (v == null || v.isEmpty() || v.length() > 200 || !Character.isDigit(v.charAt(0))) {
            return false;
        }
        for (int i = 0; i < v.length(); i++) {
            char c = v.charAt(i);
            boolean ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
                    || c == '.' || c == '+' || c == '~' || c == '-';
            if (!ok) {
                return false;
            }
        }
        return true;
    }

    /** Negative, zero or positive as {@code a} is older than, the same as or newer than {@code b}. */
    static int compare(String a, String b) {
        String[] va = split(a);
        String[] vb = split(b);
        for (int i = 0; i < 3; i++) {
            int c = comparePart(va[i], vb[i]);
            if (c != 0) {
                return c;
            }
        }
        return 0;
    }

    private static String[] split(String v) {
        String epoch = "0";
        int colon = v.indexOf(':');
        if (colon >= 0) {
            epoch = v.substring(0, colon);
            v = v.substring(colon + 1);
        }
        int dash = v.lastIndexOf('-');
        String revision = dash >= 0 ? v.substring(dash + 1) : "";
        String upstream = dash >= 0 ? v.substring(0, dash) : v;
        return new String[] {epoch, upstream, revision};
    }

    /** A character's weight in the non-digit runs: '~' before the end, the end before letters, letters before the rest. */
    private static int order(String s, int i) {
        if (i >= s.length()) {
            return 0;
        }
        char c = s.charAt(i);
        if (Character.isDigit(c)) {
            return 0;
        }
        if (Character.isLetter(c)) {
            return c;
        }
        if (c == '~') {
            return -1;
        }
        return c + 256;
    }

    private static int comparePart(String a, String b) {
        int i = 0;
        int j = 0;
        while (i < a.length() || j < b.length()) {
            while ((i < a.length() && !Character.isDigit(a.charAt(i)))
                    || (j < b.length() && !Character.isDigit(b.charAt(j)))) {
                int oa = order(a, i);
                int ob = order(b, j);
                if (oa != ob) {
                    return oa - ob;
                }
                i++;
                j++;
            }
            while (i < a.length() && a.charAt(i) == '0') {
                i++;
            }
            while (j < b.length() && b.charAt(j) == '0') {
                j++;
            }
            int first = 0;
            while (i < a.length() && Character.isDigit(a.charAt(i))
                    && j < b.length() && Character.isDigit(b.charAt(j))) {
                if (first == 0) {
                    first = a.charAt(i) - b.charAt(j);
                }
                i++;
                j++;
            }
            if (i < a.length() && Character.isDigit(a.charAt(i))) {
                return 1;
            }
            if (j < b.length() && Character.isDigit(b.charAt(j))) {
                return -1;
            }
            if (first != 0) {
                return first;
            }
        }
        return 0;
    }
}
