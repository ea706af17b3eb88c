package com.orvanta.packaging;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.stream.Stream;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/**
 * portula.jar on the newest JDK (24 or later) where one is installed: native
 * access is restricted there. No run may print a WARNING; where access is
 * denied, one error says which flag grants it.
 */
class NewestJdkTest {
    private static final String DENY = "--illegal-native-access=deny";
    private static final String GRANT_CLASS_PATH = "--enable-native-access=ALL-UNNAMED";
    private static final String GRANT_MODULE = "--enable-native-access=com.orvanta.portula";
    private static final String JAVA = System.getProperty("portula.newest.java.emulated");

    @TempDir
    Path temp;

    @BeforeEach
    void newestJdk() {
        assumeTrue(JAVA != null, "no JDK 24 or later under /usr/lib/jvm");
    }

    private static ChildJvm run(List<String> flags, String... args) throws Exception {
        ChildJvm child = ChildJvm.run(JAVA, flags, List.of(), args);
        assertFalse(child.all().contains("WARNING"), child.all());
        return child;
    }

    /** ToolHarness with portula.jar on the class path, the emulator's library on java.library.path. */
    private ChildJvm harness(String libraryPath, List<String> flags, String... args) throws Exception {
        List<String> all = new ArrayList<>(flags);
        all.addAll(List.of("-Djava.library.path=" + libraryPath, "-Djava.io.tmpdir=" + temp));
        ChildJvm child = ChildJvm.run(JAVA, all, List.of(ChildJvm.property("portula.jar"),
                ChildJvm.property("portula.testbed.jar"), ChildJvm.harnessJar()), args);
        assertFalse(child.all().contains("WARNING"), child.all());
        return child;
    }

    @Test
    void javaDashJarNeedsNoFlag() throws Exception {
        String jar = ChildJvm.property("portula.jar");
        String tmpdir = "-Djava.io.tmpdir=" + temp;
        // the manifest grants it: no warning by default, and no denial either
        for (List<String> flags : List.of(List.of(tmpdir), List.of(DENY, tmpdir))) {
            ChildJvm list = run(flags, "-jar", jar, "list");
            assertEquals(0, list.exit, list.all());
            assertTrue(list.out.startsWith("PATH"), list.all());
        }
    }

    @Test
    void toolAndDemoOnEmulatedDevicesWithTheGrant() throws Exception {
        ChildJvm tool = harness(ChildJvm.property("portula.testbed.dir"), List.of(DENY, GRANT_CLASS_PATH),
                "tool", "list");
        assertEquals(0, tool.exit, tool.all());
        ToolTest.assertTable(tool);

        ChildJvm demo = run(List.of(DENY, GRANT_CLASS_PATH, "-Djava.io.tmpdir=" + temp,
                "-Djava.library.path=" + ChildJvm.property("portula.testbed.dir"), "-cp",
                String.join(":", ChildJvm.property("portula.jar"), ChildJvm.property("portula.testbed.jar"),
                        ChildJvm.property("portula.demo.jar"))), "com.orvanta.demo.Demo");
        assertEquals(0, demo.exit, demo.all());
        assertTrue(demo.out.contains("(the echo, exactly as it came)"), demo.all());
        assertTrue(demo.out.contains(" was unplugged"), demo.all());
    }

    @Test
    void deniedOnTheClassPathNamesTheFlagWhereverTheLibraryComesFrom() throws Exception {
        String testbed = ChildJvm.property("portula.testbed.dir");
        ChildJvm fromJar = harness(testbed, List.of(DENY), "retry");
        ChildJvm fromPath = harness(ChildJvm.property("portula.bridge.dir") + ":" + testbed, List.of(DENY), "retry");
        String expected = "FIRST java.lang.UnsatisfiedLinkError: cannot load libportula64.so for this 64-bit VM"
                + " (os.arch=amd64): native access is denied to the class path: add " + GRANT_CLASS_PATH
                + " to the java command";
        assertEquals(List.of(expected), fromJar.lines("FIRST"), fromJar.all());
        assertEquals(List.of(expected), fromPath.lines("FIRST"), fromPath.all());
        assertEmpty(temp);
        // the emulator's library says the same of itself
        assertEquals(List.of("EMULATOR java.lang.UnsatisfiedLinkError: cannot load libportula_testbed64.so: native"
                + " access is denied to the class path: add " + GRANT_CLASS_PATH + " to the java command"),
                fromJar.lines("EMULATOR"), fromJar.all());
    }

    @Test
    void onTheModulePathTheModuleIsGranted() throws Exception {
        String jar = ChildJvm.property("portula.jar");
        String tmpdir = "-Djava.io.tmpdir=" + temp;
        String libraryPath = "-Djava.library.path=" + ChildJvm.property("portula.bridge.dir");
        String expected = "portula list: cannot load libportula64.so for this 64-bit VM (os.arch=amd64): native"
                + " access is denied to module com.orvanta.portula: add " + GRANT_MODULE + " to the java command\n";
        for (List<String> flags : List.of(List.of(DENY, tmpdir), List.of(DENY, tmpdir, libraryPath))) {
            ChildJvm denied = run(flags, "-p", jar, "-m", "com.orvanta.portula", "list");
            assertEquals(1, denied.exit, denied.all());
            assertEquals(expected, denied.err, denied.all());
        }
        assertEmpty(temp);
        // the grant silences the warning, and passes the denial
        for (List<String> flags : List.of(List.of(GRANT_MODULE, tmpdir), List.of(DENY, GRANT_MODULE, tmpdir))) {
            ChildJvm list = run(flags, "-p", jar, "-m", "com.orvanta.portula", "list");
            assertEquals(0, list.exit, list.all());
            assertTrue(list.out.startsWith("PATH"), list.all());
        }
    }

    static void assertEmpty(Path dir) throws Exception {
        try (Stream<Path> left = Files.list(dir)) {
            assertEquals(List.of(), left.toList(), "a copy outlived its load");
        }
    }
}
