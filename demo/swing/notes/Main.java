package notes;

import java.awt.BorderLayout;
import java.awt.Font;
import java.awt.Image;
import java.awt.Toolkit;
import java.io.IOException;
import java.io.InputStream;
import java.net.URI;
import java.net.URISyntaxException;
import java.net.URLDecoder;
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
 * <p>Its packages register the {@code vnote:} scheme: a link such as
 * {@code vnote://note?title=Shopping&text=Milk%0ABread} opens a note with that
 * title and text, in the running window when there is one.
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
    /** The scheme of links that carry a note, as the desktop entry registers it. */
    private static final String SCHEME = "vnote:";
    /** The longest link shown: a link may come from any web page. */
    private static final int LINK_CAP = 64 * 1024;

    /** A note to show: the name in the window's title, and its text. */
    private record Note(String name, String text) {}

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
        String arg = args.length > first ? args[first] : null;
        boolean link = arg != null && isLink(arg);
        Path file = arg == null || link ? null : pathOf(arg);
        if (selfTest) {
            System.setProperty("java.awt.headless", "true");
        }
        String text;
        String name = file == null ? null : file.getFileName().toString();
        if (link) {
            Note note = fromLink(arg);
            name = note.name();
            text = note.text();
        } else {
            try {
                text = file == null ? WELCOME : Files.readString(file, StandardCharsets.UTF_8);
            } catch (IOException | RuntimeException e) {
                if (selfTest) {
                    System.err.println("vorlane-notes: cannot read " + file + ": " + e);
                    System.exit(1);
                }
                text = "Cannot read " + file + ":\n" + e;
            }
        }
        JTextArea area = textArea(text);
        Image icon = icon();
        if (selfTest) {
            System.out.println("vorlane-notes self-test: " + area.getLineCount() + " lines"
                    + (file != null ? " from " + file : name != null ? " from " + name : "")
                    + ", icon "
                    + (icon == null ? "missing" : icon.getWidth(null) + "px"));
            return;
        }
        // The toolkit starts on the main thread, whose name gives the window class.
        Toolkit.getDefaultToolkit();
        String title = "Vorlane Notes" + (name == null ? "" : " - " + name);
        shownFile = file == null ? null : file.toAbsolutePath();
        SwingUtilities.invokeLater(() -> show(title, area, icon));
        SingleInstance.onLaunch(launch -> SwingUtilities.invokeLater(() -> open(launch)));
    }

    /**
     * Whether {@code arg} is a {@code vnote:} link rather than a file; the
     * scheme's case does not count (RFC 3986).
     */
    private static boolean isLink(String arg) {
        return arg.regionMatches(true, 0, SCHEME, 0, SCHEME.length());
    }

    /**
     * The file an argument names: a path, or a {@code file:} URL, as the
     * desktop entry's {@code %u} (which takes links too) may give a file.
     */
    private static Path pathOf(String arg) {
        if (arg.regionMatches(true, 0, "file:", 0, 5)) {
            try {
                return Path.of(new URI(arg));
            } catch (URISyntaxException | IllegalArgumentException e) {
                // Not a local file's URL: read as a path, which then cannot be read.
            }
        }
        return Path.of(arg);
    }

    /**
     * The note a link carries: {@code vnote://note?title=NAME&text=TEXT}, each
     * value percent-encoded UTF-8 ("+" is a space). A link from a web page
     * is anyone's, so it only ever carries text: it never names a file, and
     * the text shows as plain text. A link that cannot be read gives a note
     * that says why.
     */
    private static Note fromLink(String link) {
        if (link.length() > LINK_CAP) {
            return new Note("link", "The link is longer than " + LINK_CAP + " characters.");
        }
        try {
            String query = new URI(link).getRawQuery();
            String name = "link";
            String text = null;
            for (String pair : query == null ? new String[0] : query.split("&")) {
                int eq = pair.indexOf('=');
                String key = eq < 0 ? pair : pair.substring(0, eq);
                String value = eq < 0 ? ""
                        : URLDecoder.decode(pair.substring(eq + 1), StandardCharsets.UTF_8);
                if (key.equals("title")) {
                    name = value;
                } else if (key.equals("text")) {
                    text = value;
                }
            }
            return text != null ? new Note(name, text)
                    : new Note("link", "The link " + link + " carries no text=.");
        } catch (URISyntaxException | IllegalArgumentException e) {
            return new Note("link", "Cannot read the link " + link + ":\n" + e.getMessage());
        }
    }

    /**
     * A launch handed over by a second start: its file, or the note of its
     * link, in the window, which comes to the front. An update command run
     * while the window is open lands here too: it is no file, and the
     * window only comes to the front.
     */
    private static void open(SingleInstance.Launch launch) {
        if (frame == null) {
            return;
        }
        String arg = launch.arguments().isEmpty() ? null : launch.arguments().get(0);
        if (arg != null && isLink(arg)) {
            Note note = fromLink(arg);
            shown.setText(note.text());
            shown.setCaretPosition(0);
            status.setText(" " + shown.getLineCount() + " lines");
            shownFile = null;
            frame.setTitle("Vorlane Notes - " + note.name());
        } else if (arg != null && !Updates.isCommand(arg)) {
            Path file = Path.of(launch.workingDirectory()).resolve(pathOf(arg));
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
