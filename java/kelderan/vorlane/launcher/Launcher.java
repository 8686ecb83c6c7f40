package kelderan.vorlane.launcher;

import java.lang.invoke.MethodHandle;
import java.lang.invoke.MethodHandles;
import java.lang.invoke.MethodType;
import java.lang.reflect.Constructor;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.lang.reflect.Proxy;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.atomic.AtomicLong;

/**
 * The Java side of the native launcher. The launcher calls {@link #prepare}
 * with the app's main class, reads {@link #mainMethod} and {@link #clazz}, and
 * invokes the entry method itself, on its own thread. When the entry method
 * throws, the launcher asks {@link #fromException} for the text it shows.
 *
 * <p>The entry method is always a {@code static void} method taking
 * {@code String[]}: the app's own {@code public static void main(String[])},
 * or, for the other main methods a Java 25 runtime accepts, {@link #runMain},
 * which calls the app's method through a method handle so that what the app
 * throws reaches the launcher unwrapped.
 */
public final class Launcher {
    /** The entry method the launcher calls with the app's arguments, set by {@link #prepare}. */
    public static Method mainMethod;
    /** The class that declares {@link #mainMethod}, set by {@link #prepare}. */
    public static Class<?> clazz;

    /**
     * With this variable set to 1, {@link #prepare} ends the process with
     * status 0 once it has found the entry method, without running it: the
     * updater starts a new version so before it switches to it.
     */
    private static final String LAUNCH_CHECK = "VORLANE_LAUNCH_CHECK";

    /**
     * Set to {@code true} in the packer's training run, the run that records
     * the classes the app loads for its class-data archive. An app may read it
     * to run a scripted first session (open its first dialog, say) so that the
     * archive covers that too; one that clears it ({@code
     * System.clearProperty}) before its first window appears ends the run
     * itself, as a console app does.
     */
    static final String TRAINING = "vorlane.training";
    /** Seconds of quiet after the first window that end a training run; 2 when not a number. */
    static final String TRAINING_QUIET = "vorlane.training.quiet";

    /** The first runtime feature release with instance and no-argument main methods. */
    private static final int FLEXIBLE_MAIN_RELEASE = 25;

    /** What {@link #runMain} calls: the app's main method, as {@code (String[])void}. */
    private static MethodHandle appMain;

    private Launcher() {}

    /**
     * Loads the main class through the system class loader, without running
     * its static initialisers yet, and finds its entry method.
     *
     * <p>A runtime of release 25 or later accepts what its own {@code java}
     * accepts: a {@code void main(String[])} before a {@code void main()},
     * each static or not, of any access but private, declared or inherited;
     * an instance main needs a concrete class that is no inner class and has
     * a non-private constructor without arguments. Older runtimes accept only
     * {@code public static void main(String[])}.
     *
     * @throws ClassNotFoundException when the class is not on the class path
     * @throws NoSuchMethodException when it has no entry method the runtime accepts, or
     *         an instance main and no constructor to call
     * @throws InstantiationException when its main is an instance method and the class is
     *         abstract or an inner class
     */
    public static void prepare(String mainClassName)
            throws ClassNotFoundException, NoSuchMethodException, InstantiationException {
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
        Method main = publicStaticMain(mainClass);
        if (main != null) {
            mainMethod = main;
            clazz = mainClass;
        } else if (Runtime.version().feature() < FLEXIBLE_MAIN_RELEASE) {
            throw missingMain(mainClassName);
        } else {
            appMain = flexibleMain(mainClass);
            mainMethod = runMainMethod();
            clazz = Launcher.class;
        }
        if ("1".equals(System.getenv(LAUNCH_CHECK))) {
            System.exit(0);
        }
        if (Boolean.getBoolean(TRAINING)) {
            TrainingEnd.start(System.getProperty(TRAINING_QUIET));
        }
    }

    /**
     * Calls the app's main method that {@link #prepare} chose, with
     * {@code args} when it takes them. Whatever it throws propagates as it is.
     */
    public static void runMain(String[] args) throws Throwable {
        appMain.invokeExact(args);
    }

    private static Method runMainMethod() {
        try {
            return Launcher.class.getMethod("runMain", String[].class);
        } catch (NoSuchMethodException e) {
            throw new AssertionError(e);
        }
    }

    /** The class's {@code public static void main(String[])}, declared or inherited, or null. */
    private static Method publicStaticMain(Class<?> mainClass) {
        try {
            Method main = mainClass.getMethod("main", String[].class);
            return Modifier.isStatic(main.getModifiers()) && main.getReturnType() == void.class
                    ? main : null;
        } catch (NoSuchMethodException e) {
            return null;
        }
    }

    /**
     * The main method a release 25 runtime picks, as a handle of type
     * {@code (String[])void} that makes the instance first when it needs one.
     */
    private static MethodHandle flexibleMain(Class<?> mainClass)
            throws NoSuchMethodException, InstantiationException {
        Method main = findMain(mainClass, String[].class);
        if (!isValidMain(main)) {
            main = findMain(mainClass);
        }
        if (!isValidMain(main)) {
            throw missingMain(mainClass.getName());
        }
        boolean isStatic = Modifier.isStatic(main.getModifiers());
        Constructor<?> constructor = isStatic ? null : instanceConstructor(mainClass);
        MethodHandle handle;
        try {
            MethodHandles.Lookup lookup = MethodHandles.lookup();
            handle = lookup.unreflect(accessible(main));
            if (constructor != null) {
                // (C[, String[]])void with the receiver made by (): C.
                MethodHandle make = lookup.unreflectConstructor(accessible(constructor))
                        .asType(MethodType.methodType(main.getDeclaringClass()));
                handle = MethodHandles.collectArguments(handle, 0, make);
            }
        } catch (IllegalAccessException | RuntimeException e) {
            // A class in a named module whose package is not open to us.
            NoSuchMethodException failure = new NoSuchMethodException(
                    "Main method of " + mainClass.getName() + " is not accessible: " + e.getMessage());
            failure.initCause(e);
            throw failure;
        }
        if (main.getParameterCount() == 0) {
            handle = MethodHandles.dropArguments(handle, 0, String[].class);
        }
        return handle.asType(MethodType.methodType(void.class, String[].class));
    }

    private static <T extends java.lang.reflect.AccessibleObject> T accessible(T member) {
        member.setAccessible(true);
        return member;
    }

    private static boolean isValidMain(Method main) {
        return main != null && main.getReturnType() == void.class
                && !Modifier.isPrivate(main.getModifiers());
    }

    /** The constructor a release 25 runtime calls to run an instance main, with its messages. */
    private static Constructor<?> instanceConstructor(Class<?> mainClass)
            throws NoSuchMethodException, InstantiationException {
        String name = mainClass.getName();
        if (Modifier.isAbstract(mainClass.getModifiers())) {
            throw new InstantiationException(
                    "abstract class " + name + " can not be instantiated, please use a concrete class");
        }
        if (mainClass.isMemberClass() && !Modifier.isStatic(mainClass.getModifiers())) {
            throw new InstantiationException("non-static inner class " + name
                    + " constructor can not be invoked, make inner class static or move inner class out"
                    + " to separate source file");
        }
        try {
            Constructor<?> constructor = mainClass.getDeclaredConstructor();
            if (!Modifier.isPrivate(constructor.getModifiers())) {
                return constructor;
            }
        } catch (NoSuchMethodException e) {
            // Reported below, as for a private one.
        }
        throw new NoSuchMethodException("no non-private zero argument constructor found in class " + name
                + ", remove private from existing constructor or define as: public " + name + "()");
    }

    /**
     * The method {@code main} with these parameters that the class declares
     * or inherits, whatever its access, as a release 25 runtime looks it up:
     * its own first, else its superclasses', else a default method of its
     * interfaces (one that no other found one overrides). Null when none.
     */
    private static Method findMain(Class<?> type, Class<?>... parameters) {
        for (Class<?> c = type; c != null; c = c.getSuperclass()) {
            Method declared = declaredMain(c, parameters);
            if (declared != null) {
                return declared;
            }
        }
        List<Method> fromInterfaces = new ArrayList<>();
        for (Class<?> c = type; c != null; c = c.getSuperclass()) {
            for (Class<?> face : c.getInterfaces()) {
                collectInterfaceMains(face, parameters, fromInterfaces);
            }
        }
        for (Method candidate : fromInterfaces) {
            boolean overridden = false;
            for (Method other : fromInterfaces) {
                Class<?> otherFace = other.getDeclaringClass();
                overridden |= otherFace != candidate.getDeclaringClass()
                        && candidate.getDeclaringClass().isAssignableFrom(otherFace);
            }
            if (!overridden) {
                return candidate;
            }
        }
        return null;
    }

    /** Adds the interface's own non-static main, else those of its superinterfaces. */
    private static void collectInterfaceMains(Class<?> face, Class<?>[] parameters, List<Method> into) {
        Method declared = declaredMain(face, parameters);
        if (declared != null && !Modifier.isStatic(declared.getModifiers())) {
            into.add(declared);
            return;
        }
        for (Class<?> parent : face.getInterfaces()) {
            collectInterfaceMains(parent, parameters, into);
        }
    }

    /** The class's own {@code main} with these parameters, preferring a void one; or null. */
    private static Method declaredMain(Class<?> c, Class<?>[] parameters) {
        Method found = null;
        for (Method method : c.getDeclaredMethods()) {
            if (method.getName().equals("main") && !method.isBridge()
                    && java.util.Arrays.equals(method.getParameterTypes(), parameters)
                    && (found == null || method.getReturnType() == void.class)) {
                found = method;
            }
        }
        return found;
    }

    private static NoSuchMethodException missingMain(String mainClassName) {
        return new NoSuchMethodException("Main class " + mainClassName
                + " has no method public static void main(String[] args)");
    }

    /**
     * Ends a training run of a desktop app, which never ends by itself, once
     * it is up: a frame or dialog is showing and its event thread has been
     * quiet for a while. Then it calls {@code System.exit(0)}, a normal exit,
     * so the JVM writes the archive. A daemon thread looks for the AWT event
     * thread by its name and touches no AWT class before it exists, so a
     * console app loads no AWT and keeps ending by itself.
     */
    static final class TrainingEnd implements Runnable {
        static final long DEFAULT_QUIET_MILLIS = 2000;
        /** How often the thread looks; also the longest event-thread round trip counted as quiet. */
        static final long TICK_MILLIS = 100;
        /** The name of AWT's event dispatch threads, as EventQueue gives them. */
        private static final String EVENT_THREAD_PREFIX = "AWT-EventQueue-";

        private final long quietMillis;

        private TrainingEnd(long quietMillis) {
            this.quietMillis = quietMillis;
        }

        static void start(String quiet) {
            // Without java.desktop in the runtime the app opens no window.
            if (ModuleLayer.boot().findModule("java.desktop").isEmpty()) {
                return;
            }
            Thread thread = new Thread(new TrainingEnd(quietMillis(quiet)), "vorlane-training-end");
            thread.setDaemon(true);
            thread.start();
        }

        /** {@code text} in seconds ("2", "0.5") as milliseconds; the default when it is no such number. */
        static long quietMillis(String text) {
            if (text == null) {
                return DEFAULT_QUIET_MILLIS;
            }
            try {
                double seconds = Double.parseDouble(text.trim());
                // Also refuses NaN; a day is far above any training timeout.
                return seconds >= 0 && seconds <= 86400 ? Math.round(seconds * 1000) : DEFAULT_QUIET_MILLIS;
            } catch (NumberFormatException e) {
                return DEFAULT_QUIET_MILLIS;
            }
        }

        @Override
        public void run() {
            try {
                while (!eventThreadRuns()) {
                    Thread.sleep(TICK_MILLIS);
                }
                if (Gui.waitUntilQuiet(quietMillis) && Boolean.getBoolean(TRAINING)) {
                    System.exit(0);
                }
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
            }
        }

        private static boolean eventThreadRuns() {
            ThreadGroup root = Thread.currentThread().getThreadGroup();
            while (root.getParent() != null) {
                root = root.getParent();
            }
            Thread[] threads = new Thread[root.activeCount() + 16];
            int count = root.enumerate(threads, true);
            for (int i = 0; i < count; i++) {
                if (threads[i].getName().startsWith(EVENT_THREAD_PREFIX)) {
                    return true;
                }
            }
            return false;
        }

        /**
         * The part that touches AWT, once its event thread runs. It goes
         * through reflection: a class of this jar that named AWT's types
         * would make jdeps put java.desktop into every app's runtime.
         */
        private static final class Gui {
            /**
             * AWTEvent's masks of the component, container, focus, key, mouse,
             * mouse motion, window, action, item, text, paint, hierarchy,
             * window state and window focus events.
             */
            private static final long EVENTS = 0xca6ffL;

            private Gui() {}

            /**
             * Returns once a frame or dialog shows and, for {@code quietMillis},
             * no AWT event reached a component and the event thread answered
             * each look within a tick; false when AWT is headless or cannot
             * be reached.
             */
            static boolean waitUntilQuiet(long quietMillis) throws InterruptedException {
                Method showing;
                Class<?> window;
                Class<?> frame;
                Class<?> dialog;
                Method getWindows;
                Method invokeAndWait;
                AtomicLong lastEvent = new AtomicLong(System.nanoTime());
                try {
                    Object headless = Class.forName("java.awt.GraphicsEnvironment")
                            .getMethod("isHeadless").invoke(null);
                    if (Boolean.TRUE.equals(headless)) {
                        return false;
                    }
                    window = Class.forName("java.awt.Window");
                    frame = Class.forName("java.awt.Frame");
                    dialog = Class.forName("java.awt.Dialog");
                    showing = window.getMethod("isShowing");
                    getWindows = window.getMethod("getWindows");
                    invokeAndWait = Class.forName("java.awt.EventQueue")
                            .getMethod("invokeAndWait", Runnable.class);
                    Class<?> toolkit = Class.forName("java.awt.Toolkit");
                    Class<?> listenerType = Class.forName("java.awt.event.AWTEventListener");
                    Object listener = Proxy.newProxyInstance(listenerType.getClassLoader(),
                            new Class<?>[] {listenerType}, (proxy, method, args) -> {
                                switch (method.getName()) {
                                    case "equals":
                                        return proxy == args[0];
                                    case "hashCode":
                                        return System.identityHashCode(proxy);
                                    case "toString":
                                        return "vorlane training end";
                                    default:
                                        lastEvent.set(System.nanoTime());
                                        return null;
                                }
                            });
                    Object defaultToolkit = toolkit.getMethod("getDefaultToolkit").invoke(null);
                    toolkit.getMethod("addAWTEventListener", listenerType, long.class)
                            .invoke(defaultToolkit, listener, EVENTS);
                } catch (ReflectiveOperationException | RuntimeException e) {
                    return false;
                }
                long quietNanos = quietMillis * 1_000_000L;
                while (true) {
                    Thread.sleep(TICK_MILLIS);
                    long asked = System.nanoTime();
                    boolean[] up = {false};
                    Runnable look = () -> {
                        try {
                            for (Object w : (Object[]) getWindows.invoke(null)) {
                                up[0] |= (frame.isInstance(w) || dialog.isInstance(w))
                                        && Boolean.TRUE.equals(showing.invoke(w));
                            }
                        } catch (ReflectiveOperationException e) {
                            up[0] = false;
                        }
                    };
                    try {
                        // On the event thread, after what is queued before it.
                        invokeAndWait.invoke(null, look);
                    } catch (ReflectiveOperationException e) {
                        up[0] = false;
                    }
                    long answered = System.nanoTime();
                    // A busy event thread is no quiet one.
                    if (!up[0] || answered - asked > TICK_MILLIS * 1_000_000L) {
                        lastEvent.set(answered);
                    } else if (answered - lastEvent.get() >= quietNanos) {
                        return true;
                    }
                }
            }
        }
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
