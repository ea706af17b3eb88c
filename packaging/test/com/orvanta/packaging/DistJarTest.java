package com.orvanta.packaging;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.InputStream;
import java.nio.file.Path;
import java.util.List;
import java.util.jar.JarFile;
import java.util.zip.ZipEntry;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/** dist/portula.jar, the one with both builds, in the 64-bit and the i386 JVM. */
@Tag("dist")
class DistJarTest {
    private static final String JAR = ChildJvm.property("portula.dist.jar");

    @TempDir
    Path temp;

    /** ELF class byte: 2 for 64-bit code, 1 for 32-bit. */
    private static int elfClass(JarFile jar, String entry) throws Exception {
        ZipEntry e = jar.getEntry(entry);
        assertNotNull(e, entry + " is not in " + JAR);
        try (InputStream in = jar.getInputStream(e)) {
            byte[] head = in.readNBytes(5);
            assertEquals("\u007fELF", new String(head, 0, 4, "ISO-8859-1"), entry);
            return head[4];
        }
    }

    @Test
    void holdsBothLibrariesEachInItsPlaceAndTheTool() throws Exception {
        try (JarFile jar = new JarFile(JAR)) {
            assertEquals(2, elfClass(jar, "linux-x86-64/libportula64.so"));
            assertEquals(1, elfClass(jar, "linux-x86/libportula32.so"));
            assertNotNull(jar.getEntry("com/orvanta/jni/HIDClassConnector.class"));
            assertEquals("com.orvanta.jni.tool.Main", jar.getManifest().getMainAttributes().getValue("Main-Class"));
        }
    }

    private void runsIn(String java, String testbedJar, String testbedDir, String library) throws Exception {
        ChildJvm list = JarTest.harnessWith(java, JAR, testbedJar, testbedDir, temp.toString(), "tool", "list");
        assertEquals(0, list.exit, list.all());
        ToolTest.assertTable(list);
        ChildJvm loaded = JarTest.harnessWith(java, JAR, testbedJar, testbedDir, temp.toString(), "loaded");
        List<String> lines = loaded.lines("LOADED ");
        assertEquals(1, lines.size(), loaded.all());
        assertTrue(lines.get(0).startsWith("LOADED " + temp + "/" + library + "-"), loaded.all());
    }

    @Test
    void runsIn64BitJvm() throws Exception {
        runsIn(ChildJvm.property("portula.java.emulated"), ChildJvm.property("portula.testbed.jar"),
                ChildJvm.property("portula.testbed.dir"), "libportula64");
    }

    @Test
    void runsInI386Jvm() throws Exception {
        runsIn(ChildJvm.property("portula.java32.emulated"), ChildJvm.property("portula.testbed32.jar"),
                ChildJvm.property("portula.testbed32.dir"), "libportula32");
    }
}
