package com.orvanta.packaging;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.ValueSource;

/**
 * jlink links portula's module and a small application module into a runtime
 * image, on the build's JDK and on the newest one; the image's own java runs
 * the application on emulated devices, with the library from the module's
 * resources inside the image.
 */
class JlinkTest {
    @TempDir
    Path temp;

    @ParameterizedTest
    @ValueSource(strings = {"portula.jdk", "portula.newest.jdk"})
    void imageRunsTheApplicationWithTheLibraryFromItsModule(String jdkProperty) throws Exception {
        String jdk = System.getProperty(jdkProperty);
        // the newest: where one of 24 or later is installed; both: in the x86-64 build only
        assumeTrue(jdk != null, "no -D" + jdkProperty + " in this build");
        boolean restricted = jdkProperty.equals("portula.newest.jdk");
        Path image = temp.resolve("image");
        List<String> jlink = new ArrayList<>(List.of(jdk + "/bin/jlink", "--module-path",
                ChildJvm.property("portula.jar") + ":" + ChildJvm.property("portula.jlink.app"),
                "--add-modules", "com.orvanta.jlinkapp", "--output", image.toString()));
        if (restricted) {
            // what an application's image carries on Java 24 and later
            jlink.add("--add-options=--enable-native-access=com.orvanta.portula");
        }
        Process p = new ProcessBuilder(jlink).redirectErrorStream(true).start();
        String out = new String(p.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        assertTrue(p.waitFor(300, TimeUnit.SECONDS), out);
        assertEquals(0, p.exitValue(), out);

        Path tmpdir = Files.createDirectory(temp.resolve("tmp"));
        List<String> args = new ArrayList<>(List.of("image", image.resolve("bin/java").toString(), "-Xcheck:jni",
                "-Djava.io.tmpdir=" + tmpdir));
        if (restricted) {
            args.add("--illegal-native-access=deny");
        }
        args.addAll(List.of("-m", "com.orvanta.jlinkapp"));
        // the emulator's JVM is the build's: it loads the emulator's library from the class path
        ChildJvm app = ChildJvm.run(ChildJvm.property("portula.java.emulated"),
                List.of("-Djava.library.path=" + ChildJvm.property("portula.testbed.dir")),
                List.of(ChildJvm.property("portula.testbed.jar"), ChildJvm.harnessJar()), args.toArray(new String[0]));
        assertEquals(0, app.exit, app.all());
        assertFalse(app.all().contains("WARNING"), app.all());
        assertEquals(List.of("DEVICE 1209:ec40 Echo"), app.lines("DEVICE"), app.all());
        assertEquals(List.of("ECHO [7, 8, 9]"), app.lines("ECHO"), app.all());
        assertEquals(List.of("RUNTIME " + image), app.lines("RUNTIME"), app.all());
        assertEquals(List.of("MODULE com.orvanta.portula jrt:/com.orvanta.portula"), app.lines("MODULE"), app.all());
        // a copy of the image's resource, gone once loaded
        List<String> loaded = app.lines("LOADED");
        assertEquals(1, loaded.size(), app.all());
        assertTrue(loaded.get(0).startsWith("LOADED " + tmpdir + "/libportula64-"), app.all());
        assertTrue(loaded.get(0).endsWith(".so (deleted)"), app.all());
        NewestJdkTest.assertEmpty(tmpdir);
    }
}
