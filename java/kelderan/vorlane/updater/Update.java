package kelderan.vorlane.updater;

import java.util.Optional;

/** A version the site offers, as {@link Updater#check} found it. */
public final class Update {
    private final Manifest manifest;
    private final byte[] signed;
    private final long downloadBytes;
    private final String installCommand;

    Update(Manifest manifest, byte[] signed, long downloadBytes, String installCommand) {
        this.manifest = manifest;
        this.signed = signed;
        this.downloadBytes = downloadBytes;
        this.installCommand = installCommand;
    }

    /** The full version, {@code APPVERSION-RELEASE}. */
    public String version() {
        return manifest.version;
    }

    /** The release notes, possibly empty. */
    public String notes() {
        return manifest.notes;
    }

    /** When it was published, as the feed says it (ISO 8601, UTC). */
    public String date() {
        return manifest.date;
    }

    /** The bytes an apply fetches: only the files this install lacks, as stored on the site. */
    public long downloadBytes() {
        return downloadBytes;
    }

    /** For a deb or rpm install, the command that installs this version; else empty. */
    public Optional<String> installCommand() {
        return Optional.ofNullable(installCommand);
    }

    Manifest manifest() {
        return manifest;
    }

    /** The manifest as the site signed it, which an apply keeps beside the version. */
    byte[] signedBytes() {
        return signed;
    }

    @Override
    public String toString() {
        return manifest.name + " " + manifest.version;
    }
}
