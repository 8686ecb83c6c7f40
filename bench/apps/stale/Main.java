package stale;

/** Prints which version of {@link Util} it ran with, and how many classes it loaded from the archive. */
public final class Main {
    private Main() {}

    public static void main(String[] args) {
        System.out.println(Util.version());
    }
}
