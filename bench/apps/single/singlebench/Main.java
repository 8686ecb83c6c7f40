package singlebench;

import kelderan.vorlane.launcher.SingleInstance;

/**
 * The single-instance benchmark's app. With "--once" it registers its
 * handler and ends: a fresh start. Otherwise it prints "ready", then for each
 * launch handed over "received NANOS" (System.nanoTime, the monotonic clock
 * the benchmark reads too) and ends at a launch "quit".
 */
public final class Main {
    private Main() {}

    public static void main(String[] args) throws InterruptedException {
        SingleInstance.onLaunch(launch -> {
            long now = System.nanoTime();
            if (!launch.arguments().isEmpty() && launch.arguments().get(0).equals("quit")) {
                System.exit(0);
            }
            System.out.println("received " + now);
            System.out.flush();
        });
        if (args.length > 0 && args[0].equals("--once")) {
            return;
        }
        System.out.println("ready " + SingleInstance.isPrimary());
        System.out.flush();
        Thread.currentThread().join();
    }
}
