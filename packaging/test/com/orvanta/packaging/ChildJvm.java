package com.orvanta.packaging;

import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.File;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Map;
import java.util.concurrent.TimeUnit;

/** A JVM started through one of a build's bin/java-* wrappers, and what it printed. */
final class ChildJvm {
    final int exit;
    final String out;
    final String err;

    private ChildJvm(int exit, String out, String err) {
        this.exit = exit;
        this.out = out;
        this.err = err;
    }

    static String property(String name) {
        String value = System.getProperty(name);
        assertTrue(value != null && !value.isEmpty(), "no -D" + name);
        return value;
    }

    /** The harness's own jar (this class's code source). */
    static String harnessJar() throws Exception {
        return Path.of(ChildJvm.class.getProtectionDomain().getCodeSource().getLocation().toURI()).toString();
    }

    /** java [flags] -cp classPath... ToolHarness args, or java [flags] args when classPath is empty. */
    static ChildJvm run(String java, List<String> flags, List<String> classPath, String... args) throws Exception {
        return run(Map.of(), java, flags, classPath, args);
    }

    /** The same, with these variables set in the child's environment. */
    static ChildJvm run(Map<String, String> env, String java, List<String> flags, List<String> classPath,
            String... args) throws Exception {
        List<String> command = new ArrayList<>();
        command.add(java);
        command.add("-Xcheck:jni");
        command.addAll(flags);
        if (!classPath.isEmpty()) {
            command.add("-cp");
            command.add(String.join(File.pathSeparator, classPath));
            command.add(ToolHarness.class.getName());
        }
        command.addAll(Arrays.asList(args));
        Path errFile = Files.createTempFile("child-err", ".txt");
        try {
            ProcessBuilder builder = new ProcessBuilder(command).redirectError(errFile.toFile());
            builder.environment().putAll(env);
            Process p = builder.start();
            p.getOutputStream().close();
            byte[] stdout = p.getInputStream().readAllBytes();
            if (!p.waitFor(600, TimeUnit.SECONDS)) {
                p.destroyForcibly();
                throw new AssertionError("child JVM hung: " + command);
            }
            ChildJvm child = new ChildJvm(p.exitValue(), new String(stdout, StandardCharsets.UTF_8),
                    Files.readString(errFile, StandardCharsets.UTF_8));
            assertFalse(child.all().contains("WARNING in native method"), child.all());
            assertFalse(child.all().contains("WARNING: JNI local refs"), child.all());
            assertFalse(child.all().contains("A fatal error has been detected"), child.all());
            return child;
        } finally {
            Files.deleteIfExists(errFile);
        }
    }

    String all() {
        return "exit " + exit + "\n--- stdout\n" + out + "--- stderr\n" + err;
    }

    /** The stdout lines that start with the prefix. */
    List<String> lines(String prefix) {
        List<String> found = new ArrayList<>();
        for (String line : out.split("\n")) {
            if (line.startsWith(prefix)) {
                found.add(line);
            }
        }
        return found;
    }
}
