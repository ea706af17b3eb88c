package com.orvanta.testkit;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.ByteArrayOutputStream;
import java.io.PrintStream;
import java.net.URL;
import java.net.URLClassLoader;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import javax.tools.ToolProvider;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.api.parallel.ResourceLock;

/**
 * The example in the package's Javadoc, as written there: compiled, run, and
 * each line it prints compared with the comment at the end of its println.
 */
@ResourceLock(HidEmulatorExtension.RESOURCE_LOCK)
class JavadocExampleTest {
    @TempDir
    Path temp;

    @Test
    void packageExampleCompilesRunsAndPrintsWhatItsCommentsSay() throws Exception {
        String source = Files.readString(Path.of(System.getProperty("portula.testkit.source"),
                "com/orvanta/testkit/package-info.java"));
        Matcher block = Pattern.compile("<pre>\\{@code\\n(.*?)\\n \\* }</pre>", Pattern.DOTALL).matcher(source);
        assertTrue(block.find(), "no example in package-info.java");
        String example = block.group(1).replaceAll("(?m)^ \\* ?", "");
        List<String> expected = new ArrayList<>();
        Matcher printed = Pattern.compile("System\\.out\\.println\\(.*\\);\\s*// (.*)").matcher(example);
        while (printed.find()) {
            expected.add(printed.group(1).trim());
        }
        assertEquals(4, expected.size(), example);

        Path file = Files.createDirectories(temp.resolve("src/example")).resolve("Example.java");
        Files.writeString(file, "package example;\n"
                + "import com.orvanta.hid.*;\nimport com.orvanta.testkit.*;\n"
                + "import java.util.Arrays;\nimport java.util.concurrent.TimeUnit;\n"
                + "public class Example {\n    public static void run() throws Exception {\n" + example + "\n    }\n}\n");
        Path classes = Files.createDirectories(temp.resolve("classes"));
        ByteArrayOutputStream compilerOutput = new ByteArrayOutputStream();
        int compiled = ToolProvider.getSystemJavaCompiler().run(null, compilerOutput, compilerOutput, "-Xlint:all",
                "-Werror", "-cp", System.getProperty("java.class.path"), "-d", classes.toString(), file.toString());
        assertEquals(0, compiled, compilerOutput.toString());

        ByteArrayOutputStream out = new ByteArrayOutputStream();
        PrintStream stdout = System.out;
        try (URLClassLoader loader = new URLClassLoader(new URL[] {classes.toUri().toURL()},
                JavadocExampleTest.class.getClassLoader())) {
            System.setOut(new PrintStream(out, true, StandardCharsets.UTF_8));
            loader.loadClass("example.Example").getMethod("run").invoke(null);
        } finally {
            System.setOut(stdout);
        }
        assertEquals(expected, List.of(out.toString(StandardCharsets.UTF_8).split("\n")));
    }
}
