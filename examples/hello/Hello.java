package hello;

import java.time.LocalTime;
import java.time.format.DateTimeFormatter;

/**
 * A small application to run under steward: it greets whoever its arguments name and then keeps
 * running, as a service does, printing a line every second until the VM shuts down with the
 * process.
 */
public final class Hello {
  private static final DateTimeFormatter TIME = DateTimeFormatter.ofPattern("HH:mm:ss");

  private Hello() {}

  public static void main(String[] args) throws InterruptedException {
    String whom = args.length == 0 ? "world" : String.join(", ", args);
    System.out.println("Hello, " + whom + "!");
    System.out.println("Running in " + System.getProperty("user.dir") + " on Java "
        + System.getProperty("java.version") + ".");
    for (long beat = 1; ; beat++) {
      Thread.sleep(1000);
      System.out.println(LocalTime.now().format(TIME) + " still running (" + beat + ")");
    }
  }
}
