package kelderan.vorlane.launcher;

import java.lang.reflect.Method;
import java.lang.reflect.Modifier;

/**
 * The Java side of the native launcher. The launcher calls {@link #prepare}
 * with the app's main class, reads {@link #mainMethod} and {@link #clazz}, and
 * invokes the entry method itself, on its own thread. When the entry method
 * throws, the launcher asks {@link #fromException} for the text it shows.
 */
public final class Launcher {
    /** The app's {@code public static void main(String[])}, set by {@link #prepare}. */
    public static Method mainMethod;
    /** The class that declares {@link #mainMethod}, set by {@link #prepare}. */
    public static Class<?> clazz;

    private Launcher() {}

    /**
     * Loads the main class through the system class loader, without running
     * its static initialisers yet, and finds its entry method.
     *
     * @throws ClassNotFoundException when the class is not on the class path
     * @throws NoSuchMethodException when it has no public static void main(String[])
     */
    public static void prepare(String mainClassName) throws ClassNotFoundException, NoSuchMethodException {
        ClassLoader loader = ClassLoader.getSystemClassLoader();
        Class<?> mainClass;
        try {
            mainClass = Class.forName(mainClassName, false, loader);
        } catch (ClassNotFoundException | LinkageError e) {
            // The cause goes into the constructor: this exception's
            // one-argument constructor already fixes its cause as null, and
            // initCause would then throw instead.
            throw new ClassNotFoundException(
                    "Main class " + mainClassName + " was not found on the class path "
                            + System.getProperty("java.class.path", ""), e);
        }
        Method main;
        try {
            main = mainClass.getMethod("main", String[].class);
        } catch (NoSuchMethodException e) {
            throw missingMain(mainClassName);
        }
        int modifiers = main.getModifiers();
        if (!Modifier.isStatic(modifiers) || main.getReturnType() != void.class) {
            throw missingMain(mainClassName);
        }
        mainMethod = main;
        clazz = mainClass;
    }

    private static NoSuchMethodException missingMain(String mainClassName) {
        return new NoSuchMethodException("Main class " + mainClassName
                + " has no method public static void main(String[] args)");
    }

    /**
     * A one-line description of an uncaught exception for the user: the
     * exception's class and message, and those of its innermost cause when
     * there is one. Never null.
     */
    public static String fromException(Throwable thrown) {
        Throwable root = thrown;
        while (root.getCause() != null && root.getCause() != root) {
            root = root.getCause();
        }
        String text = describe(thrown);
        if (root != thrown) {
            text += " (caused by " + describe(root) + ")";
        }
        return text.replace('\n', ' ').replace('\r', ' ');
    }

    private static String describe(Throwable thrown) {
        String message = thrown.getLocalizedMessage();
        String name = thrown.getClass().getName();
        return message == null || message.isEmpty() ? name : name + ": " + message;
    }
}
