package probe;

import java.io.IOException;
import java.io.UncheckedIOException;
import java.lang.management.ManagementFactory;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardOpenOption;
import java.util.Map;
import java.util.TreeMap;

/**
 * A main class for the end-to-end tests: it writes what the hosting launcher gave this VM to
 * the file named by the system property probe.out, so a test can compare it with what it
 * asked for.
 *
 * <p>The file is UTF-8 text with one fact per line:
 *
 * <pre>
 * property:NAME=VALUE   every system property whose name starts with "probe.", sorted by name
 * cwd=DIR               the working directory (user.dir: the process's directory at VM start)
 * option=STRING         every option the VM was created with, in order
 * arg=VALUE             every element of main's String[], in order
 * args=N                the number of elements; always the last line that main writes, so a
 *                       reader that sees it knows the rest is complete
 * destroyed             appended by a shutdown hook when the VM shuts down
 * </pre>
 *
 * The stand-in JVM library of the Windows builds writes the same facts in the same format.
 */
public final class Probe {
  private Probe() {}

  public static void main(String[] args) {
    record(args);
  }

  /** Writes the facts of this run and arranges for "destroyed" to follow at VM shutdown. */
  static void record(String[] args) {
    String name = System.getProperty("probe.out");
    if (name == null) {
      throw new IllegalStateException("probe.out names no file to write the facts to");
    }
    Path out = Paths.get(name);

    StringBuilder facts = new StringBuilder();
    Map<String, String> properties = new TreeMap<>();
    for (String property : System.getProperties().stringPropertyNames()) {
      if (property.startsWith("probe.")) {
        properties.put(property, System.getProperty(property));
      }
    }
    properties.forEach((key, value) -> line(facts, "property:" + key + "=" + value));
    line(facts, "cwd=" + System.getProperty("user.dir"));
    for (String option : ManagementFactory.getRuntimeMXBean().getInputArguments()) {
      line(facts, "option=" + option);
    }
    for (String arg : args) {
      line(facts, "arg=" + arg);
    }
    line(facts, "args=" + args.length);

    Runtime.getRuntime().addShutdownHook(new Thread(() -> write(out, "destroyed\n", true)));
    write(out, facts.toString(), false);
  }

  private static void line(StringBuilder facts, String fact) {
    facts.append(fact).append('\n');
  }

  // One write of the whole text: a reader polling the file never meets a torn line.
  private static void write(Path out, String text, boolean append) {
    try {
      if (append) {
        Files.write(out, text.getBytes(StandardCharsets.UTF_8), StandardOpenOption.CREATE,
            StandardOpenOption.APPEND);
      } else {
        Files.write(out, text.getBytes(StandardCharsets.UTF_8));
      }
    } catch (IOException e) {
      throw new UncheckedIOException(e);
    }
  }
}
