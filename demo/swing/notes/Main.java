package notes;

import java.awt.BorderLayout;
import java.awt.Font;
import java.awt.Image;
import java.awt.Toolkit;
import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import javax.imageio.ImageIO;
import javax.swing.JFrame;
import javax.swing.JLabel;
import javax.swing.JMenuBar;
import javax.swing.JScrollPane;
import javax.swing.JTextArea;
import javax.swing.SwingUtilities;
import javax.swing.WindowConstants;
import kelderan.vorlane.launcher.SingleInstance;

/**
 * A small note viewer: shows the .vnote file given as its argument (or a
 * welcome text) in a window. With --self-test it builds the same components
 * without a display, prints what it would show and ends: the packager's
 * class-list run and the install checks use that.
 *
 * <p>The app is single instance: opening another file while it runs hands
 * the file over to the running app, which shows it in its window.
 *
 * <p>Help, "Check for updates" asks the app's update site for a newer
 * version (see {@link Updates}); {@code --check-updates},
 * {@code --apply-update} and {@code --rollback} do the same without a
 * display and end.
 */
public final class Main {
    private static final String WELCOME = "Welcome to Vorlane Notes.\n\n"
            + "Open a .vnote file with this app, or give one on the command line:\n"
            + "  vorlane-notes my-note.vnote\n";

    /** The one window and what it shows; touched on the event thread only. */
    private static JFrame frame;
    private static JTextArea shown;
    private static JLabel status;
    /** The file shown, which a restart into a new version opens again. */
    private static volatile Path shownFile;

    private Main() {}

    public static void main(String[] args) throws Exception {
        if (args.length > 0 && Updates.isCommand(args[0])) {
            System.setProperty("java.awt.headless", "true");
            if (args.length > 1) {
                System.err.println("vorlane-notes: " + args[0] + " takes no arguments");
                System.exit(2);
            }
            System.exit(Updates.command(args[0], System.out, System.err));
        }
        boolean selfTest = args.length > 0 && args[0].equals("--self-test");
        int first = selfTest ? 1 : 0;
        Path file = args.length > first ? Path.of(args[first]) : null;
        if (selfTest) {
            System.setProperty("java.awt.headless", "true");
        }
        String text;
        try {
            text = file == null ? WELCOME : Files.readString(file, StandardCharsets.UTF_8);
        } catch (IOException | RuntimeException e) {
            if (selfTest) {
                System.err.println("vorlane-notes: cannot read " + file + ": " + e);
                System.exit(1);
            }
            text = "Cannot read " + file + ":\n" + e;
        }
        JTextArea area = textArea(text);
        Image icon = icon();
        if (selfTest) {
            System.out.println("vorlane-notes self-test: " + area.getLineCount() + " lines"
                    + (file == null ? "" : " from " + file) + ", icon "
                    + (icon == null ? "missing" : icon.getWidth(null) + "px"));
            return;
        }
        // The toolkit starts on the main thread, whose name gives the window class.
        Toolkit.getDefaultToolkit();
        String title = "Vorlane Notes" + (file == null ? "" : " - " + file.getFileName());
        shownFile = file == null ? null : file.toAbsolutePath();
        SwingUtilities.invokeLater(() -> show(title, area, icon));
        SingleInstance.onLaunch(launch -> SwingUtilities.invokeLater(() -> open(launch)));
    }

    /**
     * A launch handed over by a second start: its file in the window, which
     * comes to the front. An update command run while the window is open
     * lands here too: it is no file, and the window only comes to the front.
     */
    private static void open(SingleInstance.Launch launch) {
        if (frame == null) {
            return;
        }
        if (!launch.arguments().isEmpty() && !Updates.isCommand(launch.arguments().get(0))) {
            Path file = Path.of(launch.workingDirectory()).resolve(launch.arguments().get(0));
            String text;
            try {
                text = Files.readString(file, StandardCharsets.UTF_8);
            } catch (IOException | RuntimeException e) {
                text = "Cannot read " + file + ":\n" + e;
            }
            shown.setText(text);
            shown.setCaretPosition(0);
            status.setText(" " + shown.getLineCount() + " lines");
            shownFile = file.toAbsolutePath();
            frame.setTitle("Vorlane Notes - " + file.getFileName());
        }
        frame.setState(java.awt.Frame.NORMAL);
        frame.toFront();
        frame.requestFocus();
    }

    private static JTextArea textArea(String text) {
        JTextArea area = new JTextArea(text, 20, 60);
        area.setEditable(false);
        area.setLineWrap(true);
        area.setWrapStyleWord(true);
        area.setFont(new Font(Font.MONOSPACED, Font.PLAIN, 14));
        return area;
    }

    private static Image icon() throws IOException {
        try (InputStream in = Main.class.getResourceAsStream("icon.png")) {
            return in == null ? null : ImageIO.read(in);
        }
    }

    private static void show(String title, JTextArea area, Image icon) {
        frame = new JFrame(title);
        shown = area;
        status = new JLabel(" " + area.getLineCount() + " lines");
        frame.setDefaultCloseOperation(WindowConstants.EXIT_ON_CLOSE);
        JMenuBar bar = new JMenuBar();
        bar.add(Updates.menu(frame, () -> shownFile));
        frame.setJMenuBar(bar);
        if (icon != null) {
            frame.setIconImage(icon);
        }
        frame.getContentPane().add(new JScrollPane(area), BorderLayout.CENTER);
        frame.getContentPane().add(status, BorderLayout.SOUTH);
        frame.pack();
        frame.setLocationRelativeTo(null);
        frame.setVisible(true);
    }
}
