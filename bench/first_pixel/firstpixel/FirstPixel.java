package firstpixel;

import java.awt.BorderLayout;
import java.awt.Color;
import java.awt.Dimension;
import javax.swing.BorderFactory;
import javax.swing.JFrame;
import javax.swing.JLabel;
import javax.swing.JScrollPane;
import javax.swing.JSplitPane;
import javax.swing.JTable;
import javax.swing.JTree;
import javax.swing.SwingUtilities;

/**
 * A small Swing window of the kind a desktop app opens first: a coloured header (whose colour
 * the benchmark looks for at the window's top-left), a tree and a table. Placed at the screen's
 * top-left corner.
 */
public final class FirstPixel {
  public static void main(String[] args) {
    SwingUtilities.invokeLater(
        () -> {
          JLabel header = new JLabel("First pixel");
          header.setOpaque(true);
          header.setBackground(new Color(0x20, 0x80, 0xff));
          header.setForeground(Color.WHITE);
          header.setBorder(BorderFactory.createEmptyBorder(12, 12, 12, 12));
          String[][] rows = new String[200][3];
          for (int i = 0; i < rows.length; i++) {
            rows[i] = new String[] {"item " + i, Integer.toString(i * 7), i % 2 == 0 ? "yes" : "no"};
          }
          JTable table = new JTable(rows, new String[] {"Name", "Size", "Shared"});
          JSplitPane split =
              new JSplitPane(
                  JSplitPane.HORIZONTAL_SPLIT,
                  new JScrollPane(new JTree()),
                  new JScrollPane(table));
          JFrame frame = new JFrame("First pixel");
          frame.setDefaultCloseOperation(JFrame.EXIT_ON_CLOSE);
          frame.getContentPane().add(header, BorderLayout.NORTH);
          frame.getContentPane().add(split, BorderLayout.CENTER);
          frame.setPreferredSize(new Dimension(560, 400));
          frame.pack();
          frame.setLocation(0, 0);
          frame.setVisible(true);
        });
  }
}
