package kelderan.vorlane.updater;

/** How an app tree was installed, as its {@code lib/vorlane-update.properties} records it. */
public enum InstallKind {
    /** Unpacked from the {@code .tar.gz} into a folder the user owns: it updates itself. */
    TARBALL,
    /** Installed from the {@code .deb}: apt updates it. */
    DEB,
    /** Installed from the {@code .rpm}: dnf updates it. */
    RPM
}
