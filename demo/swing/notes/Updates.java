package notes;

import java.awt.BorderLayout;
import java.awt.Dimension;
import java.awt.Frame;
import java.awt.event.KeyEvent;
import java.io.PrintStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import java.util.Locale;
import java.util.Optional;
import java.util.concurrent.ExecutionException;
import java.util.function.Supplier;
import javax.swing.BorderFactory;
import javax.swing.JButton;
import javax.swing.JDialog;
import javax.swing.JLabel;
import javax.swing.JMenu;
import javax.swing.JMenuItem;
import javax.swing.JOptionPane;
import javax.swing.JPanel;
import javax.swing.JProgressBar;
import javax.swing.JScrollPane;
import javax.swing.JTextArea;
import javax.swing.JTextField;
import javax.swing.SwingUtilities;
import javax.swing.SwingWorker;
import kelderan.vorlane.updater.Cancellation;
import kelderan.vorlane.updater.InstallKind;
import kelderan.vorlane.updater.ProgressListener;
import kelderan.vorlane.updater.Update;
import kelderan.vorlane.updater.UpdateException;
import kelderan.vorlane.updater.Updater;

/**
 * The app's updates, from the menu (Help, "Check for updates") and from the
 * command line without a display ({@code --check-updates},
 * {@code --apply-update}, {@code --rollback}). Every call into the updater
 * runs off the event thread: it reads the network and the disk.
 */
final class Updates {
    /** What {@code vorlane-pack package --update-site} writes into the tree. */
    private static final String RECORD = "lib/vorlane-update.properties";

    private Updates() {}

    /** The tree this process runs from: the launcher is its {@code bin/NAME}. */
    private static Path tree() {
        try {
            Path exe = Path.of("/proc/self/exe").toRealPath();
            Path bin = exe.getParent();
            return bin == null || bin.getParent() == null ? null : bin.getParent();
        } catch (java.io.IOException | RuntimeException e) {
            return null;
        }
    }

    /** The updater of this tree, or empty when it was packaged without an update site. */
    private static Optional<Updater> updater() throws UpdateException {
        Path tree = tree();
        if (tree == null || !Files.isRegularFile(tree.resolve(RECORD))) {
            return Optional.empty();
        }
        return Optional.of(Updater.forThisApp());
    }

    private static final String WITHOUT =
            "Vorlane Notes was packaged without updates: its tree has no " + RECORD + ".";

    static boolean isCommand(String arg) {
        return arg.equals("--check-updates") || arg.equals("--apply-update")
                || arg.equals("--rollback");
    }

    /**
     * Runs one of the update commands and returns the exit status: 0 done
     * (or nothing to do), 1 failed (the reason on standard error) or, for
     * {@code --apply-update} on a deb or rpm install, not applied: it prints
     * the command that installs the update.
     * {@code --apply-update} prints a line per step and per percent of the
     * download ({@code step NAME}, {@code progress DONE TOTAL}).
     */
    static int command(String arg, PrintStream out, PrintStream err) {
        try {
            Optional<Updater> found = updater();
            if (found.isEmpty()) {
                err.println(WITHOUT);
                return 1;
            }
            Updater u = found.get();
            if (arg.equals("--rollback")) {
                out.println("rolled back to " + u.rollback());
                return 0;
            }
            out.println("installed " + u.version() + " (" + kindWord(u.kind()) + ")");
            Optional<Update> offered = u.check();
            if (offered.isEmpty()) {
                out.println("up to date");
                return 0;
            }
            Update update = offered.get();
            // The package manager knows what a deb or rpm update downloads; the feed does not.
            boolean tarball = u.kind() == InstallKind.TARBALL;
            out.println("available " + update.version() + " of " + update.date()
                    + (tarball ? ", " + update.downloadBytes() + " bytes to download" : ""));
            if (update.notes() != null && !update.notes().isEmpty()) {
                out.println("notes: " + update.notes().strip().replace("\n", "\n  "));
            }
            if (!tarball) {
                out.println("install it with: " + update.installCommand().orElse(""));
                // The package manager owns the tree: an apply here changes nothing.
                return arg.equals("--check-updates") ? 0 : 1;
            }
            if (arg.equals("--check-updates")) {
                return 0;
            }
            u.apply(update, new ProgressListener() {
                private long shownPercent = -1;

                @Override
                public void step(String step) {
                    out.println("step " + step);
                }

                @Override
                public void progress(long done, long total) {
                    long percent = total <= 0 ? 100 : done * 100 / total;
                    if (percent != shownPercent) {
                        shownPercent = percent;
                        out.println("progress " + done + " " + total);
                    }
                }
            }, new Cancellation());
            out.println("updated to " + update.version()
                    + ": the next start runs it (--rollback goes back)");
            return 0;
        } catch (UpdateException e) {
            err.println("vorlane-notes: " + e.getMessage());
            return 1;
        }
    }

    private static String kindWord(InstallKind kind) {
        return kind.name().toLowerCase(Locale.ROOT);
    }

    /**
     * The Help menu: "Check for updates" and "Go back to the previous
     * version". {@code shown} gives the file the window shows, which a
     * restart opens again.
     */
    static JMenu menu(Frame owner, Supplier<Path> shown) {
        JMenu help = new JMenu("Help");
        help.setMnemonic(KeyEvent.VK_H);
        JMenuItem check = new JMenuItem("Check for updates\u2026", KeyEvent.VK_U);
        JMenuItem back = new JMenuItem("Go back to the previous version", KeyEvent.VK_B);
        help.add(check);
        help.add(back);
        check.addActionListener(e -> {
            check.setEnabled(false);
            back.setEnabled(false);
            new Checker(owner, shown, () -> {
                check.setEnabled(true);
                back.setEnabled(true);
            }).execute();
        });
        back.addActionListener(e -> rollback(owner));
        return help;
    }

    /** What a check found, for the event thread. */
    private record Found(Updater updater, Optional<Update> update) {}

    /** Checks off the event thread, then shows what it found. */
    private static final class Checker extends SwingWorker<Optional<Found>, Void> {
        private final Frame owner;
        private final Supplier<Path> shown;
        private final Runnable done;

        Checker(Frame owner, Supplier<Path> shown, Runnable done) {
            this.owner = owner;
            this.shown = shown;
            this.done = done;
        }

        @Override
        protected Optional<Found> doInBackground() throws UpdateException {
            Optional<Updater> u = updater();
            if (u.isEmpty()) {
                return Optional.empty();
            }
            return Optional.of(new Found(u.get(), u.get().check()));
        }

        @Override
        protected void done() {
            Optional<Found> found;
            try {
                found = get();
            } catch (Exception e) {
                done.run();
                message(owner, "Cannot check for updates:\n" + reason(e),
                        JOptionPane.ERROR_MESSAGE);
                return;
            }
            if (found.isEmpty()) {
                done.run();
                message(owner, WITHOUT, JOptionPane.INFORMATION_MESSAGE);
                return;
            }
            Updater u = found.get().updater();
            if (found.get().update().isEmpty()) {
                done.run();
                message(owner, "Vorlane Notes " + u.version() + " is up to date.",
                        JOptionPane.INFORMATION_MESSAGE);
                return;
            }
            offer(owner, u, found.get().update().get(), shown, done);
        }
    }

    /** Shows the version, its notes and its size; for a tarball install, offers to apply it. */
    private static void offer(Frame owner, Updater u, Update update, Supplier<Path> shown,
            Runnable done) {
        JPanel panel = new JPanel(new BorderLayout(0, 8));
        boolean tarball = u.kind() == InstallKind.TARBALL;
        panel.add(new JLabel("<html>Vorlane Notes " + update.version() + " is available (you have "
                + u.version() + ").<br>Published " + update.date()
                + (tarball ? "; " + size(update.downloadBytes()) + " to download." : ".")
                + "</html>"), BorderLayout.NORTH);
        JTextArea notes = new JTextArea(update.notes() == null || update.notes().isEmpty()
                ? "(no release notes)" : update.notes(), 8, 50);
        notes.setEditable(false);
        notes.setLineWrap(true);
        notes.setWrapStyleWord(true);
        panel.add(new JScrollPane(notes), BorderLayout.CENTER);
        if (!tarball) {
            // The package manager owns this install: the app never writes into it.
            JTextField command = new JTextField(update.installCommand().orElse(""));
            command.setEditable(false);
            JPanel how = new JPanel(new BorderLayout(0, 4));
            how.add(new JLabel("Install it with your package manager:"), BorderLayout.NORTH);
            how.add(command, BorderLayout.CENTER);
            panel.add(how, BorderLayout.SOUTH);
            done.run();
            JOptionPane.showMessageDialog(owner, panel, "Update available",
                    JOptionPane.INFORMATION_MESSAGE);
            return;
        }
        Object[] choices = {"Update", "Not now"};
        int chosen = JOptionPane.showOptionDialog(owner, panel, "Update available",
                JOptionPane.DEFAULT_OPTION, JOptionPane.INFORMATION_MESSAGE, null, choices,
                choices[0]);
        if (chosen != 0) {
            done.run();
            return;
        }
        apply(owner, u, update, shown, done);
    }

    /** Applies the update with a progress bar and a Cancel button, then offers a restart. */
    private static void apply(Frame owner, Updater u, Update update, Supplier<Path> shown,
            Runnable done) {
        JDialog dialog = new JDialog(owner, "Updating to " + update.version(), true);
        dialog.setDefaultCloseOperation(JDialog.DO_NOTHING_ON_CLOSE);
        JLabel step = new JLabel("Starting");
        JProgressBar bar = new JProgressBar(0, 1000);
        bar.setPreferredSize(new Dimension(360, bar.getPreferredSize().height));
        JButton cancel = new JButton("Cancel");
        JPanel panel = new JPanel(new BorderLayout(0, 8));
        panel.setBorder(BorderFactory.createEmptyBorder(12, 12, 12, 12));
        panel.add(step, BorderLayout.NORTH);
        panel.add(bar, BorderLayout.CENTER);
        JPanel buttons = new JPanel();
        buttons.add(cancel);
        panel.add(buttons, BorderLayout.SOUTH);
        dialog.getContentPane().add(panel);
        dialog.pack();
        dialog.setLocationRelativeTo(owner);

        Cancellation cancellation = new Cancellation();
        cancel.addActionListener(e -> {
            cancellation.cancel();
            cancel.setEnabled(false);
            step.setText("Cancelling\u2026");
        });
        ProgressListener listener = new ProgressListener() {
            @Override
            public void step(String name) {
                SwingUtilities.invokeLater(() -> step.setText(stepText(name)));
            }

            @Override
            public void progress(long doneBytes, long total) {
                int value = total <= 0 ? 1000 : (int) Math.min(1000, doneBytes * 1000 / total);
                SwingUtilities.invokeLater(() -> {
                    bar.setValue(value);
                    bar.setString(size(doneBytes) + " of " + size(total));
                    bar.setStringPainted(true);
                });
            }
        };
        new SwingWorker<Void, Void>() {
            @Override
            protected Void doInBackground() throws UpdateException {
                u.apply(update, listener, cancellation);
                return null;
            }

            @Override
            protected void done() {
                dialog.dispose();
                done.run();
                try {
                    get();
                } catch (Exception e) {
                    message(owner, (cancellation.isCancelled() ? "The update was cancelled"
                            : "The update failed") + "; nothing was changed.\n" + reason(e),
                            JOptionPane.WARNING_MESSAGE);
                    return;
                }
                offerRestart(owner, u, update, shown);
            }
        }.execute();
        dialog.setVisible(true);
    }

    private static void offerRestart(Frame owner, Updater u, Update update, Supplier<Path> shown) {
        Object[] choices = {"Restart now", "Later"};
        int chosen = JOptionPane.showOptionDialog(owner,
                "Vorlane Notes " + update.version() + " is installed. It runs from the next start.",
                "Updated", JOptionPane.DEFAULT_OPTION, JOptionPane.INFORMATION_MESSAGE, null,
                choices, choices[0]);
        if (chosen != 0) {
            return;
        }
        Path file = shown.get();
        try {
            u.startAfterExit(file == null ? List.of() : List.of(file.toString()));
            System.exit(0);
        } catch (UpdateException e) {
            message(owner, "Cannot restart: " + e.getMessage(), JOptionPane.ERROR_MESSAGE);
        }
    }

    /** "Go back to the previous version": after a confirmation, off the event thread. */
    private static void rollback(Frame owner) {
        int sure = JOptionPane.showConfirmDialog(owner,
                "Go back to the version installed before this one? It runs from the next start.",
                "Previous version", JOptionPane.OK_CANCEL_OPTION);
        if (sure != JOptionPane.OK_OPTION) {
            return;
        }
        new SwingWorker<Optional<String>, Void>() {
            @Override
            protected Optional<String> doInBackground() throws UpdateException {
                Optional<Updater> u = updater();
                return u.isEmpty() ? Optional.empty() : Optional.of(u.get().rollback());
            }

            @Override
            protected void done() {
                try {
                    Optional<String> back = get();
                    message(owner, back.isEmpty() ? WITHOUT
                            : "Back to " + back.get() + ": it runs from the next start.",
                            JOptionPane.INFORMATION_MESSAGE);
                } catch (Exception e) {
                    message(owner, "Cannot go back:\n" + reason(e), JOptionPane.ERROR_MESSAGE);
                }
            }
        }.execute();
    }

    private static String stepText(String step) {
        switch (step) {
            case "download": return "Downloading the changed files";
            case "downloaded": return "Downloaded";
            case "build": return "Building the new version beside this one";
            case "built": return "Built";
            case "check": return "Checking that the new version starts";
            case "switch": return "Switching to the new version";
            case "switched": return "Done";
            default: return step;
        }
    }

    /** The message of what failed: an UpdateException's is fit to show. */
    private static String reason(Exception e) {
        Throwable cause = e instanceof ExecutionException && e.getCause() != null
                ? e.getCause() : e;
        return cause instanceof UpdateException ? cause.getMessage() : cause.toString();
    }

    private static String size(long bytes) {
        if (bytes < 1024) {
            return bytes + " bytes";
        }
        if (bytes < 1024 * 1024) {
            return String.format(Locale.ROOT, "%.1f kB", bytes / 1024.0);
        }
        return String.format(Locale.ROOT, "%.1f MB", bytes / (1024.0 * 1024.0));
    }

    private static void message(Frame owner, String text, int type) {
        JOptionPane.showMessageDialog(owner, text, "Updates", type);
    }
}
