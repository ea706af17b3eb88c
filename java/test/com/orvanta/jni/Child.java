package com.orvanta.jni;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.File;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.concurrent.TimeUnit;

/**
 * A child JVM of this build (bin/java-emulated, or -Dportula.child.java with
 * -Dportula.child.flags before the test's own; -Xcheck:jni unless flags say
 * otherwise), for what one test JVM cannot show: another class path, another
 * preload, another user, a heap of fixed size.
 */
public final class Child {
    private Child() {
    }

    public static String classPathEntry(String name) {
        for (String e : System.getProperty("java.class.path").split(File.pathSeparator)) {
            if (e.endsWith(File.separator + name)) {
                return e;
            }
        }
        throw new AssertionError(name + " is not on the class path");
    }

    public static String property(String name) {
        String value = System.getProperty(name);
        assertTrue(value != null, "no -D" + name);
        return value;
    }

    /** The test jars every child needs, after those given. */
    public static List<String> classPath(String... first) {
        List<String> cp = new ArrayList<>(List.of(first));
        cp.add(classPathEntry("portula-testbed.jar"));
        cp.add(classPathEntry("portula-junit.jar"));
        return cp;
    }

    /**
     * Runs mainClass with args, its environment this one's with env's
     * variables set (or, with a null value, removed); it must exit 0, print
     * DONE and draw no JNI warning. Returns what it printed, standard error
     * included.
     */
    public static String run(Map<String, String> env, List<String> flags, List<String> classPath, String mainClass,
            String... args) throws Exception {
        return run(List.of(), env, flags, classPath, mainClass, args);
    }

    /** The same, started through launcher (setpriv and its arguments, say). */
    public static String run(List<String> launcher, Map<String, String> env, List<String> flags,
            List<String> classPath, String mainClass, String... args) throws Exception {
        List<String> command = new ArrayList<>(launcher);
        command.add(System.getProperty("portula.child.java", property("portula.build.bin") + "/java-emulated"));
        String childFlags = System.getProperty("portula.child.flags", "");
        if (!childFlags.isEmpty()) {
            command.addAll(List.of(childFlags.split(" ")));
        }
        command.addAll(flags);
        command.add("-Djava.library.path=" + System.getProperty("java.library.path"));
        command.add("-cp");
        command.add(String.join(File.pathSeparator, classPath));
        command.add(mainClass);
        command.addAll(List.of(args));
        ProcessBuilder builder = new ProcessBuilder(command).redirectErrorStream(true);
        env.forEach((name, value) -> {   // a null value removes the variable
            if (value == null) {
                builder.environment().remove(name);
            } else {
                builder.environment().put(name, value);
            }
        });
        Process p = builder.start();
        p.getOutputStream().close();
        String out = new String(p.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        assertTrue(p.waitFor(600, TimeUnit.SECONDS), "child JVM hung: " + out);
        assertEquals(0, p.exitValue(), out);
        for (String failure : new String[] {"WARNING in native method", "WARNING: ", "FATAL ERROR",
                "runtime error:", "ERROR: AddressSanitizer"}) {
            assertFalse(out.contains(failure), out);
        }
        assertTrue(out.contains("DONE"), out);
        return out;
    }

    public static String run(List<String> classPath, String mainClass, String... args) throws Exception {
        return run(Map.of(), List.of("-Xcheck:jni"), classPath, mainClass, args);
    }
}
