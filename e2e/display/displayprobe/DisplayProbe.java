package displayprobe;

import java.awt.Color;
import java.awt.Dimension;
import java.awt.EventQueue;
import java.awt.Graphics2D;
import java.awt.GraphicsEnvironment;
import java.awt.HeadlessException;
import java.awt.Rectangle;
import java.awt.SplashScreen;
import java.io.BufferedReader;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import javax.swing.JFrame;
import javax.swing.JPanel;

/**
 * A Swing app for the display tests, driven one command a line on standard input; each command
 * answers with one line on standard output. Until the first command, main touches no AWT class, so
 * whatever is on screen then was put there before the JVM ran any app code.
 */
public final class DisplayProbe {
  /** The window's colours and sizes, which the tests count on screen. */
  static final Color BACKGROUND = new Color(0x20, 0x80, 0xff);
  static final Color BOX = new Color(0xff, 0xd0, 0x00);
  static final Color DRAWN = new Color(0x00, 0xc0, 0x40);

  public static void main(String[] args) throws Exception {
    System.out.println("main");
    BufferedReader in =
        new BufferedReader(new InputStreamReader(System.in, StandardCharsets.UTF_8));
    for (String command; (command = in.readLine()) != null; ) {
      System.out.println(answer(command));
    }
    // The end of input ends the app, its window open or not.
    System.exit(0);
  }

  private static String answer(String command) throws Exception {
    switch (command) {
      case "splash":
        return "splash " + describe(splash());
      case "draw": {
        // Paints the splash's top-left 40x40 pixels in DRAWN and shows them.
        SplashScreen splash = SplashScreen.getSplashScreen();
        Graphics2D g = splash.createGraphics();
        g.setColor(DRAWN);
        g.fillRect(0, 0, 40, 40);
        g.dispose();
        splash.update();
        return "drawn";
      }
      case "close":
        SplashScreen.getSplashScreen().close();
        return "closed";
      case "scale":
        // The scale Java draws at, and the exact factor the launcher passed.
        return "scale " + GraphicsEnvironment.getLocalGraphicsEnvironment()
            .getDefaultScreenDevice().getDefaultConfiguration().getDefaultTransform().getScaleX()
            + " " + System.getProperty("vorlane.uiScale");
      case "window":
        EventQueue.invokeAndWait(DisplayProbe::showWindow);
        return "window";
      default:
        return "unknown command " + command;
    }
  }

  private static SplashScreen splash() {
    try {
      return SplashScreen.getSplashScreen();
    } catch (HeadlessException e) {
      return null;
    }
  }

  private static String describe(SplashScreen splash) {
    if (splash == null) return "none";
    Rectangle b = splash.getBounds();
    return b.width + "x" + b.height + " " + splash.getImageURL();
  }

  /** A 300x200 window in BACKGROUND with a 100x50 box in BOX. */
  private static void showWindow() {
    JPanel content = new JPanel(null);
    content.setBackground(BACKGROUND);
    content.setPreferredSize(new Dimension(300, 200));
    JPanel box = new JPanel();
    box.setBackground(BOX);
    box.setBounds(20, 20, 100, 50);
    content.add(box);
    JFrame frame = new JFrame("Display probe");
    frame.setDefaultCloseOperation(JFrame.EXIT_ON_CLOSE);
    frame.setContentPane(content);
    frame.pack();
    frame.setVisible(true);
  }
}
