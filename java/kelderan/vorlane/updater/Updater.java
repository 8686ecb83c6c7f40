package kelderan.vorlane.updater;

/** Checks an app's signed update feed and updates a tarball install in place. */
public final class Updater {
    private Updater() {}
}
