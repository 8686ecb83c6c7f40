package windowapp;

import javax.swing.JFrame;
import javax.swing.JLabel;
import javax.swing.SwingUtilities;

/**
 * A desktop app as most are: main opens a window and returns, and the app
 * runs until its window is closed. It prints "WindowApp: shown" once its window shows.
 */
public final class WindowApp {
    private WindowApp() {}

    public static void main(String[] args) {
        SwingUtilities.invokeLater(() -> {
            JFrame frame = new JFrame("Window app");
            frame.add(new JLabel("A window that stays"));
            frame.setSize(300, 200);
            frame.setDefaultCloseOperation(JFrame.EXIT_ON_CLOSE);
            frame.setVisible(true);
            System.out.println("WindowApp: shown");
        });
    }
}
