package probe;

/**
 * Main classes of every shape a Java 25 runtime starts (and a few it
 * refuses), for the end-to-end tests of the launcher's choice of entry method.
 * Each prints which method ran and the number of arguments it saw.
 */
final class Mains {
    private Mains() {}

    static class InstanceNoArgs {
        void main() {
            System.out.println("InstanceNoArgs.main()");
        }
    }

    static class StaticNoArgs {
        static void main() {
            System.out.println("StaticNoArgs.main()");
        }
    }

    static class PackageStatic {
        static void main(String[] args) {
            System.out.println("PackageStatic.main(String[]) " + args.length);
        }
    }

    static class Instance {
        protected void main(String[] args) {
            System.out.println("Instance.main(String[]) " + args.length + " in " + getClass().getSimpleName());
        }
    }

    static class Inherited extends Instance {}

    interface WithDefault {
        default void main() {
            System.out.println("WithDefault.main() in " + getClass().getSimpleName());
        }
    }

    static class FromInterface implements WithDefault {}

    /** main(String[]) wins over main(), wherever it is declared. */
    static class Both extends StaticNoArgs {
        void main(String[] args) {
            System.out.println("Both.main(String[]) " + args.length);
        }
    }

    /** A private main(String[]) does not count: main() runs. */
    static class PrivateWithArgs {
        private void main(String[] args) {
            System.out.println("private main ran");
        }

        void main() {
            System.out.println("PrivateWithArgs.main()");
        }
    }

    static class OnlyPrivate {
        private static void main(String[] args) {
            System.out.println("private main ran");
        }
    }

    static class NotVoid {
        static int main(String[] args) {
            return 1;
        }
    }

    static class PrivateConstructor {
        private PrivateConstructor() {}

        void main() {
            System.out.println("PrivateConstructor ran");
        }
    }

    abstract static class Abstract {
        void main() {
            System.out.println("Abstract ran");
        }
    }

    class Inner {
        void main() {
            System.out.println("Inner ran");
        }
    }

    /** Its constructor runs before main, after the static initialiser. */
    static class Ordered {
        static {
            System.out.println("static initialiser");
        }

        Ordered() {
            System.out.println("constructor");
        }

        void main() {
            System.out.println("Ordered.main()");
        }
    }

    static class Throwing {
        void main() throws java.io.IOException {
            throw new java.io.IOException("app failure");
        }
    }
}
