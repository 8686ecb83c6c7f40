package kelderan.vorlane.updater;

import java.io.IOException;
import java.io.InputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.security.PublicKey;
import java.time.Instant;
import java.time.format.DateTimeParseException;
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
 *     u.startAfterExit(List.of());
 *     System.exit(0);
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
        return check(allowOlder, new Cancellation());
    }

    /**
     * As {@link #check(boolean)}; a cancel from another thread ends it at once
     * with an {@link UpdateException}. Every request it makes is bounded by a
     * deadline. A feed that expired, or that is older than the manifest of the
     * installed version, is refused.
     */
    public Optional<Update> check(boolean allowOlder, Cancellation cancellation) throws UpdateException {
        Cancellation cancel = cancellation != null ? cancellation : new Cancellation();
        Signed latest = fetchManifest("latest", cancel);
        Manifest m = latest.manifest;
        String stale = staleness(m, null, null, Instant.now());
        if (stale == null) {
            Manifest installed = installedManifest(cancel);
            if (installed != null) {
                stale = staleness(m, installed.version, installed.date, Instant.now());
            }
        }
        if (stale != null) {
            throw new UpdateException(stale);
        }
        int order = Versions.compare(m.version, version);
        if (order == 0 || (order < 0 && !allowOlder)) {
            return Optional.empty();
        }
        long bytes = kind == InstallKind.TARBALL ? selfUpdate().downloadBytes(m) : 0;
        return Optional.of(new Update(m, latest.bytes, bytes, kind == InstallKind.TARBALL ? null : installCommand()));
    }

    /**
     * Why {@code latest} is not a current feed, or null when it is: its
     * {@code expires} lies before {@code now}, or it was signed before the
     * installed version's manifest ({@code installedDate}; null when unknown).
     * Dates are {@code YYYY-MM-DDTHH:MM:SSZ}.
     */
    static String staleness(Manifest latest, String installedVersion, String installedDate, Instant now) {
        Instant date = feedDate(latest.date);
        if (date == null) {
            return "The update manifest's date '" + latest.date + "' does not parse. Nothing was changed.";
        }
        if (latest.expires != null) {
            Instant expires = feedDate(latest.expires);
            if (expires == null) {
                return "The update manifest's expiry '" + latest.expires + "' does not parse. Nothing was changed.";
            }
            if (expires.isBefore(now)) {
                return "The update feed is stale: it expired on " + latest.expires + " (it was signed on "
                        + latest.date + "), so the site was not published again since or something between"
                        + " serves an old copy. Nothing was changed.";
            }
        }
        Instant installed = installedDate != null ? feedDate(installedDate) : null;
        if (installed != null && date.isBefore(installed)) {
            return "The update feed is older than this install: its latest manifest (" + latest.version
                    + ") was signed on " + latest.date + ", before the manifest of the installed "
                    + installedVersion + " (signed on " + installedDate + "), so the site or something between"
                    + " serves an old copy. Nothing was changed.";
        }
        return null;
    }

    /** A feed date {@code YYYY-MM-DDTHH:MM:SSZ}, or null when it is not one. */
    static Instant feedDate(String s) {
        if (s == null || !s.matches("[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z")) {
            return null;
        }
        try {
            return Instant.parse(s);
        } catch (DateTimeParseException e) {
            return null;
        }
    }

    /**
     * The signed manifest of the installed version: the copy an apply kept in
     * {@code versions/.manifests/}, else the site's copy of that version;
     * null when neither is there.
     */
    private Manifest installedManifest(Cancellation cancel) throws UpdateException {
        if (kind == InstallKind.TARBALL) {
            Manifest kept = keptManifest(version);
            if (kept != null) {
                return kept;
            }
        }
        Signed s = fetchManifestOrNull(version, cancel);
        return s != null && s.manifest.version.equals(version) ? s.manifest : null;
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
        selfUpdate().apply(update.manifest(), update.signedBytes(),
                listener != null ? listener : new ProgressListener() {},
                cancellation != null ? cancellation : new Cancellation());
    }

    /**
     * Starts the install's {@code bin/NAME} with {@code args} once this process
     * has ended (so a single-instance app starts anew), and returns: the app
     * then ends itself, after what it has to save, with {@code System.exit(0)}
     * or by closing its last window. Until it ends, the new start waits.
     */
    public void startAfterExit(List<String> args) throws UpdateException {
        Path launcher = kind == InstallKind.TARBALL ? layout().installLink()
                : tree.resolve("bin").resolve(launcherName());
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
    }

    /**
     * {@link #startAfterExit}, then {@code System.exit(0)} at once.
     *
     * @deprecated an app that has anything to save or close ends itself:
     *     call {@link #startAfterExit} and then exit
     */
    @Deprecated
    public void restart(List<String> args) throws UpdateException {
        startAfterExit(args);
        System.exit(0);
    }

    /** Switches a tarball install back to the version before the current one, and returns that version. */
    public String rollback() throws UpdateException {
        if (kind != InstallKind.TARBALL) {
            throw new UpdateException("This app was installed with the system's packages; its package"
                    + " manager installs older versions");
        }
        return LinkSwitch.rollback(layout(), name);
    }

    /**
     * The folders of this tarball install, found at each use, so that the
     * checks of {@code R/bin} and its link hold when an apply or rollback runs.
     */
    private InstallLayout layout() throws UpdateException {
        return InstallLayout.find(tree, name, launcherName());
    }

    /** The apply of a version to this tarball install. */
    SelfUpdate selfUpdate() throws UpdateException {
        return new SelfUpdate(layout(), name, fetcher(), site);
    }

    /** The manifest of {@code version} an apply kept, checked against the feed key; null when none holds. */
    private Manifest keptManifest(String version) {
        byte[] bytes = InstallLayout.keptManifest(tree, version);
        if (bytes == null) {
            return null;
        }
        try {
            Manifest m = checked(Manifest.parse(bytes, feedKey()));
            return m.version.equals(version) ? m : null;
        } catch (UpdateException e) {
            return null;
        }
    }

    /** The command that updates a deb or rpm install. */
    String installCommand() {
        if (onPath("pkcon")) {
            return "pkcon update " + name;
        }
        return kind == InstallKind.RPM ? "sudo dnf upgrade " + name : "sudo apt install --only-upgrade " + name;
    }

    /** A manifest with the bytes it was read from (signature line and all), as an apply keeps them. */
    static final class Signed {
        final Manifest manifest;
        final byte[] bytes;

        Signed(Manifest manifest, byte[] bytes) {
            this.manifest = manifest;
            this.bytes = bytes;
        }
    }

    Signed fetchManifest(String which, Cancellation cancel) throws UpdateException {
        Signed s = fetchManifestOrNull(which, cancel);
        if (s == null) {
            throw new UpdateException("The update site has no " + channel + " feed for " + arch + " ("
                    + feedUrl(which) + ")");
        }
        return s;
    }

    /** The site's manifest {@code which}, checked; null when the site has none. */
    private Signed fetchManifestOrNull(String which, Cancellation cancel) throws UpdateException {
        PublicKey key = feedKey();
        byte[] bytes = fetcher().get(feedUrl(which), cancel);
        return bytes == null ? null : new Signed(checked(Manifest.parse(bytes, key)), bytes);
    }

    private String feedUrl(String which) {
        return site + "/updates/" + channel + "/" + arch + "/" + which;
    }

    private PublicKey feedKey() throws UpdateException {
        if (feedKey.isEmpty()) {
            throw new UpdateException("This app's update record has no feed key: it was packaged without"
                    + " --update-feed-key, so its updates cannot be checked");
        }
        return Manifest.publicKey(feedKey);
    }

    /** {@code m} when it is this install's name, architecture and channel and its version parses. */
    private Manifest checked(Manifest m) throws UpdateException {
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

    private Fetcher fetcher() {
        int seconds = Integer.getInteger("kelderan.vorlane.updater.timeout", DEFAULT_TIMEOUT_SECONDS);
        return new Fetcher(Math.max(1, seconds) * 1000);
    }

    /** The launcher's file name in {@code bin/}: the package's name, else the one executable there. */
    private String launcherName() {
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
