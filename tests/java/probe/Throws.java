package probe;

/**
 * A main class whose main ends with an exception, after recording its facts as Probe does, so
 * a test sees that the launch reached main and that the VM was shut down afterwards.
 */
public final class Throws {
  private Throws() {}

  public static void main(String[] args) {
    Probe.record(args);
    throw new IllegalStateException("probe.Throws ends its main with an exception on purpose");
  }
}
