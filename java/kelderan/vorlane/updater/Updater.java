package kelderan.vorlane.updater;

import java.io.IOException;
import java.io.InputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.security.PublicKey;
import java.util.ArrayList;
import java.util.List;
import java.util.Locale;
import java.util.Optional;
import java.util.Properties;

/**
 * Checks an app's signed update feed and updates a tarball install in place.
 *
 * <p>The tree's {@code lib/vorlane-update.properties} (written by
 * {@code vorlane-pack package}) says how it was installed, its name,
 * version, architecture, update site, channel and the feed's public key. A
 * tarball install lives in {@code R/versions/VERSION/}, with
 * {@code R/bin/NAME} a link to the current version's launcher; an apply
 * builds the new version beside it and renames a new link over that one. A
 * deb or rpm install is never written to: its apply names the command.
 *
 * <pre>{@code
 * Updater u = Updater.forThisApp();
 * Optional<Update> update = u.check();
 * if (update.isPresent()) {
 *     u.apply(update.get(), listener, new Cancellation());
 *     u.restart(List.of());
 * }
 * }</pre>
 */
public final class Updater {
    static final String RECORD = "lib/vorlane-update.properties";
    /** Seconds each connect and read may wait; {@code kelderan.vorlane.updater.timeout} overrides it. */
    private static final int DEFAULT_TIMEOUT_SECONDS = 30;

    private final Path tree;
    private final InstallKind kind;
    private final String name;
    private final String version;
    private final String arch;
    private final String site;
    private final String channel;
    private final String feedKey;

    private Updater(Path tree, Properties record) throws UpdateException {
        this.tree = tree;
        String k = need(record, "kind");
        try {
            this.kind = InstallKind.valueOf(k.toUpperCase(Locale.ROOT));
        } catch (IllegalArgumentException e) {
            throw new UpdateException(RECORD + " names an unknown kind of install: " + k);
        }
        this.name = need(record, "name");
        this.version = need(record, "version");
        this.arch = need(record, "arch");
        String s = need(record, "site");
        while (s.endsWith("/")) {
            s = s.substring(0, s.length() - 1);
        }
        this.site = s;
        this.channel = record.getProperty("channel", "stable").trim();
        this.feedKey = record.getProperty("feed-key", "").trim();
    }

    /** The updater of the app this process runs: its tree is found from {@code /proc/self/exe}. */
    public static Updater forThisApp() throws UpdateException {
        Path exe;
        try {
            exe = Paths.get("/proc/self/exe").toRealPath();
        } catch (IOException e) {
            throw new UpdateException("Cannot find this app's launcher: " + e.getMessage(), e);
        }
        Path bin = exe.getParent();
        if (bin == null || bin.getParent() == null) {
            throw new UpdateException("This app's launcher " + exe + " is not in an app tree");
        }
        return forTree(bin.getParent());
    }

    /** The updater of the app tree {@code tree} (the folder that holds {@code bin/} and {@code lib/}). */
    public static Updater forTree(Path tree) throws UpdateException {
        Path real;
        try {
            real = tree.toRealPath();
        } catch (IOException e) {
            throw new UpdateException("No app tree at " + tree + ": " + e.getMessage(), e);
        }
        Path file = real.resolve(RECORD);
        Properties record = new Properties();
        try (InputStream in = Files.newInputStream(file)) {
            record.load(in);
        } catch (IOException e) {
            throw new UpdateException("This app has no update record (" + file + "): it was packaged"
                    + " without an update site", e);
        }
        return new Updater(real, record);
    }

    /** How this tree was installed. */
    public InstallKind kind() {
        return kind;
    }

    /** The installed version, {@code APPVERSION-RELEASE}. */
    public String version() {
        return version;
    }

    /** The newest version the site offers when it is newer than this one; else empty. */
    public Optional<Update> check() throws UpdateException {
        return check(false);
    }

    /**
     * The site's newest version of this app's channel and architecture when it
     * is newer than this one, or, with {@code allowOlder}, any other version;
     * else empty.
     */
    public Optional<Update> check(boolean allowOlder) throws UpdateException {
        Manifest m = fetchManifest("latest");
        int order = Versions.compare(m.version, version);
        if (order == 0 || (order < 0 && !allowOlder)) {
            return Optional.empty();
        }
        long bytes = kind == InstallKind.TARBALL ? SelfUpdate.of(this).downloadBytes(m) : 0;
        return Optional.of(new Update(m, bytes, kind == InstallKind.TARBALL ? null : installCommand()));
    }

    /**
     * Installs {@code update}. A tarball install builds the new version beside
     * this one, starts it once in its check mode and switches to it; on any
     * failure or a cancel it throws and the install is as it was. A deb or rpm
     * install throws, with the command that installs the update.
     */
    public void apply(Update update, ProgressListener listener, Cancellation cancellation) throws UpdateException {
        if (kind != InstallKind.TARBALL) {
            throw new UpdateException(name + " " + update.version() + " is available. This app was installed"
                    + " with the system's packages; to update it, run: " + installCommand());
        }
        if (Versions.compare(update.version(), version) == 0) {
            throw new UpdateException(name + " " + version + " is already installed");
        }
        SelfUpdate.of(this).apply(update.manifest(), listener != null ? listener : new ProgressListener() {},
                cancellation != null ? cancellation : new Cancellation());
    }

    /**
     * Starts the install's {@code bin/NAME} with {@code args} once this process
     * has ended (so a single-instance app starts anew), then ends this
     * process with status 0.
     */
    public void restart(List<String> args) throws UpdateException {
        Path launcher = kind == InstallKind.TARBALL ? SelfUpdate.of(this).installLink() : tree.resolve("bin").resolve(launcherName());
        List<String> command = new ArrayList<>(List.of("/bin/sh", "-c",
                "while kill -0 \"$1\" 2>/dev/null; do sleep 0.1; done; shift; exec \"$@\"", "sh",
                Long.toString(ProcessHandle.current().pid()), launcher.toString()));
        command.addAll(args);
        try {
            new ProcessBuilder(command).redirectInput(ProcessBuilder.Redirect.from(new java.io.File("/dev/null")))
                    .inheritIO().start();
        } catch (IOException e) {
            throw new UpdateException("Cannot start " + launcher + ": " + e.getMessage(), e);
        }
        System.exit(0);
    }

    /** Switches a tarball install back to the version before the current one, and returns that version. */
    public String rollback() throws UpdateException {
        if (kind != InstallKind.TARBALL) {
            throw new UpdateException("This app was installed with the system's packages; its package"
                    + " manager installs older versions");
        }
        return SelfUpdate.of(this).rollback();
    }

    /** The command that updates a deb or rpm install. */
    String installCommand() {
        if (onPath("pkcon")) {
            return "pkcon update " + name;
        }
        return kind == InstallKind.RPM ? "sudo dnf upgrade " + name : "sudo apt install --only-upgrade " + name;
    }

    Manifest fetchManifest(String which) throws UpdateException {
        if (feedKey.isEmpty()) {
            throw new UpdateException("This app's update record has no feed key: it was packaged without"
                    + " --update-feed-key, so its updates cannot be checked");
        }
        PublicKey key = Manifest.publicKey(feedKey);
        String url = site + "/updates/" + channel + "/" + arch + "/" + which;
        byte[] bytes = fetcher().get(url);
        if (bytes == null) {
            throw new UpdateException("The update site has no " + channel + " feed for " + arch + " (" + url + ")");
        }
        Manifest m = Manifest.parse(bytes, key);
        if (!m.name.equals(name) || !m.arch.equals(arch) || !m.channel.equals(channel)) {
            throw new UpdateException("The update manifest is for " + m.name + " " + m.channel + " " + m.arch
                    + ", not this app's " + name + " " + channel + " " + arch + ". Nothing was changed.");
        }
        if (!Versions.valid(m.version)) {
            throw new UpdateException("The update manifest's version '" + m.version + "' does not parse."
                    + " Nothing was changed.");
        }
        return m;
    }

    Fetcher fetcher() {
        int seconds = Integer.getInteger("kelderan.vorlane.updater.timeout", DEFAULT_TIMEOUT_SECONDS);
        return new Fetcher(Math.max(1, seconds) * 1000);
    }

    Path tree() {
        return tree;
    }

    String name() {
        return name;
    }

    String site() {
        return site;
    }

    /** The launcher's file name in {@code bin/}: the package's name, else the one executable there. */
    String launcherName() {
        Path bin = tree.resolve("bin");
        if (Files.isRegularFile(bin.resolve(name))) {
            return name;
        }
        try (var list = Files.list(bin)) {
            return list.filter(Files::isExecutable).map(p -> p.getFileName().toString()).sorted()
                    .findFirst().orElse(name);
        } catch (IOException e) {
            return name;
        }
    }

    private static String need(Properties record, String key) throws UpdateException {
        String v = record.getProperty(key);
        if (v == null || v.trim().isEmpty()) {
            throw new UpdateException(RECORD + " has no " + key);
        }
        return v.trim();
    }

    private static boolean onPath(String program) {
        String path = System.getenv("PATH");
        if (path == null) {
            return false;
        }
        for (String dir : path.split(":")) {
            if (!dir.isEmpty() && Files.isExecutable(Paths.get(dir, program))) {
                return true;
            }
        }
        return false;
    }
}
