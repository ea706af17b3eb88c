package com.orvanta.jni;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.concurrent.TimeUnit;
import java.util.jar.JarEntry;
import java.util.jar.JarFile;
import java.util.jar.JarOutputStream;
import org.junit.jupiter.api.Test;

/**
 * Missing or misbehaving Java classes the library calls: each reaches Java as
 * an exception, never as a crash or an -Xcheck:jni warning. Each case runs in
 * a child JVM with its own class path.
 */
class JniFailureTest {
    /**
     * A copy of portula.jar without the entry named. A single file, not a
     * directory: 32-bit VMs under qemu-user cannot list directories on some
     * file systems, which breaks temporary directories.
     */
    private static Path portulaWithout(String entry) throws IOException {
        Path copy = Files.createTempFile("portula-without-", ".jar");
        copy.toFile().deleteOnExit();
        try (JarFile in = new JarFile(classPathEntry("portula.jar"));
                JarOutputStream out = new JarOutputStream(Files.newOutputStream(copy))) {
            for (JarEntry e : Collections.list(in.entries())) {
                if (e.getName().equals(entry)) {
                    continue;
                }
                out.putNextEntry(new JarEntry(e.getName()));
                try (InputStream data = in.getInputStream(e)) {
                    data.transferTo(out);
                }
                out.closeEntry();
            }
        }
        return copy;
    }

    private static String classPathEntry(String name) {
        for (String e : System.getProperty("java.class.path").split(File.pathSeparator)) {
            if (e.endsWith(File.separator + name)) {
                return e;
            }
        }
        throw new AssertionError(name + " is not on the class path");
    }

    private static String fixture(String name) {
        String jar = System.getProperty("portula.fixture." + name);
        assertTrue(jar != null, "no -Dportula.fixture." + name);
        return jar;
    }

    private String runChild(String mode, String... classPath) throws Exception {
        List<String> command = new ArrayList<>();
        command.add(System.getProperty("portula.build.bin") + "/java-emulated");
        command.add("-Xcheck:jni");
        command.add("-Djava.library.path=" + System.getProperty("java.library.path"));
        command.add("-cp");
        List<String> cp = new ArrayList<>(List.of(classPath));
        cp.add(classPathEntry("portula-testbed.jar"));
        cp.add(classPathEntry("portula-junit.jar"));
        command.add(String.join(File.pathSeparator, cp));
        command.add(ChildProbe.class.getName());
        command.add(mode);
        Process p = new ProcessBuilder(command).redirectErrorStream(true).start();
        p.getOutputStream().close();
        assertTrue(p.waitFor(300, TimeUnit.SECONDS), "child JVM hung");
        String out = new String(p.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        assertEquals(0, p.exitValue(), out);
        assertFalse(out.contains("WARNING in native method"), out);
        assertFalse(out.contains("FATAL ERROR"), out);
        assertTrue(out.contains("DONE"), out);
        return out;
    }

    @Test
    void missingDeviceClassGivesNoClassDefFoundError() throws Exception {
        String out = runChild("enumerate", portulaWithout("com/orvanta/jni/HIDDevice.class").toString());
        assertTrue(out.contains("OUTCOME java.lang.NoClassDefFoundError: com/orvanta/jni/HIDDevice"), out);
    }

    @Test
    void missingSetterGivesNoSuchMethodError() throws Exception {
        String out = runChild("enumerate", fixture("nosetter"), classPathEntry("portula.jar"));
        assertTrue(out.contains("OUTCOME java.lang.NoSuchMethodError: setProduct_string"), out);
    }

    @Test
    void throwingSetterStopsTheEnumeration() throws Exception {
        String out = runChild("enumerate", fixture("throwing"), classPathEntry("portula.jar"));
        assertTrue(out.contains("OUTCOME java.lang.IllegalStateException: setter refused Orvanta Labs"), out);
    }

    @Test
    void missingExceptionClassGivesNoClassDefFoundError() throws Exception {
        String out = runChild("close",
                portulaWithout("com/orvanta/jni/exceptions/HIDException.class").toString());
        assertTrue(out.contains("OUTCOME java.lang.NoClassDefFoundError: com/orvanta/jni/exceptions/HIDException"),
                out);
    }
}
