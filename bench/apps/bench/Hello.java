package bench;

/** The smallest app: start-up is all there is to it. */
public final class Hello {
    private Hello() {}

    public static void main(String[] args) {
        System.out.println("Hello");
    }
}
