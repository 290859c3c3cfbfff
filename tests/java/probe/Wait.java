package probe;

/**
 * A main class that records its facts as Probe does and then keeps the application running in
 * a thread of its own, as a server does after main returns: the VM cannot shut down, so the
 * host is still running the application when a test stops it.
 */
public final class Wait {
  private Wait() {}

  public static void main(String[] args) {
    Probe.record(args);
    Thread keeper = new Thread(Wait::sleepForever, "probe-wait");
    keeper.setDaemon(false);
    keeper.start();
  }

  private static void sleepForever() {
    try {
      Thread.sleep(Long.MAX_VALUE);
    } catch (InterruptedException e) {
      Thread.currentThread().interrupt();
    }
  }
}
