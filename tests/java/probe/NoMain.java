package probe;

/** A class without main(String[]): its only main takes an int, which no launcher calls. */
public final class NoMain {
  private NoMain() {}

  public static void main(int count) {
    System.out.println("probe.NoMain.main(int) was called with " + count);
  }
}
