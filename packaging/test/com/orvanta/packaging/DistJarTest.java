package com.orvanta.packaging;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.InputStream;
import java.lang.module.ModuleDescriptor;
import java.lang.module.ModuleFinder;
import java.nio.file.Path;
import java.util.List;
import java.util.jar.JarFile;
import java.util.zip.ZipEntry;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.ValueSource;

/** dist/portula.jar, the one with every platform's library, in each platform's JVM. */
@Tag("dist")
class DistJarTest {
    private static final String JAR = ChildJvm.property("portula.dist.jar");

    @TempDir
    Path temp;

    private static String library(String arch) {
        return arch.equals("x86") || arch.equals("arm") ? "libportula32" : "libportula64";
    }

    /** ELF class (1: 32-bit, 2: 64-bit) and machine of a jar entry. */
    private static int[] elf(JarFile jar, String entry) throws Exception {
        ZipEntry e = jar.getEntry(entry);
        assertNotNull(e, entry + " is not in " + JAR);
        try (InputStream in = jar.getInputStream(e)) {
            byte[] head = in.readNBytes(20);
            assertEquals("\u007fELF", new String(head, 0, 4, "ISO-8859-1"), entry);
            return new int[] {head[4], (head[18] & 0xFF) | (head[19] & 0xFF) << 8};
        }
    }

    @Test
    void holdsEachPlatformsLibraryInItsPlaceAndTheTool() throws Exception {
        try (JarFile jar = new JarFile(JAR)) {
            // ELF class and machine: EM_X86_64 62, EM_386 3, EM_AARCH64 183, EM_ARM 40
            int[][] expected = {{2, 62}, {1, 3}, {2, 183}, {1, 40}};
            String[] arches = {"x86-64", "x86", "aarch64", "arm"};
            for (int i = 0; i < arches.length; i++) {
                String entry = "linux-" + arches[i] + "/" + library(arches[i]) + ".so";
                int[] found = elf(jar, entry);
                assertEquals(expected[i][0], found[0], entry + ": ELF class");
                assertEquals(expected[i][1], found[1], entry + ": ELF machine");
            }
            assertNotNull(jar.getEntry("com/orvanta/jni/HIDClassConnector.class"));
            assertEquals("com.orvanta.tool.Main", jar.getManifest().getMainAttributes().getValue("Main-Class"));
        }
        // the module as this build's jar describes it
        assertEquals(module(ChildJvm.property("portula.jar")), module(JAR));
    }

    private static ModuleDescriptor module(String jar) {
        return ModuleFinder.of(Path.of(jar)).findAll().iterator().next().descriptor();
    }

    @Test
    void anUnknownArchitectureIsToldAllFourPlatforms() throws Exception {
        String[] jvm = ChildJvm.property("portula.dist.x86-64").split("\\|");
        ChildJvm child = ChildJvm.run(jvm[0], List.of("-Djava.library.path=" + jvm[2], "-Dos.arch=riscv64"),
                List.of(JAR, jvm[1], ChildJvm.harnessJar()), "retry");
        String message = child.lines("FIRST ").get(0);
        assertTrue(message.contains("no portula build for os.arch=riscv64"), message);
        for (String arch : new String[] {"x86-64", "x86", "aarch64", "arm"}) {
            assertTrue(message.contains("linux-" + arch + "/" + library(arch) + ".so (os.arch "), message);
        }
    }

    @Test
    void theDistKitHoldsEachPlatformsEmulatorAndTheKitsModule() throws Exception {
        String kit = ChildJvm.property("portula.dist.testkit.jar");
        try (JarFile jar = new JarFile(kit)) {
            int[][] expected = {{2, 62}, {1, 3}, {2, 183}, {1, 40}};
            String[] arches = {"x86-64", "x86", "aarch64", "arm"};
            for (int i = 0; i < arches.length; i++) {
                String bits = expected[i][0] == 2 ? "64" : "32";
                for (String file : new String[] {"libportula_testbed" + bits + ".so", "libtestbed_fstat.so"}) {
                    int[] found = elf(jar, "linux-" + arches[i] + "/" + file);
                    assertEquals(expected[i][0], found[0], arches[i] + "/" + file + ": ELF class");
                    assertEquals(expected[i][1], found[1], arches[i] + "/" + file + ": ELF machine");
                }
            }
        }
        assertEquals(module(ChildJvm.property("portula.testkit.jar")), module(kit));
    }

    /**
     * Each platform's JVM, started as the kit's users start theirs: env run in
     * it (with that platform's umockdev, which set-up unpacks outside the
     * system), then the kit from the dist jars.
     */
    @ParameterizedTest
    @ValueSource(strings = {"x86-64", "x86", "aarch64", "arm"})
    void theDistKitEmulatesInEachPlatformsJvm(String arch) throws Exception {
        String[] jvm = ChildJvm.property("portula.dist.kit." + arch).split("\\|");   // java-plain|umockdev
        String kit = ChildJvm.property("portula.dist.testkit.jar");
        Path cache = temp.resolve("cache");
        ChildJvm env = KitJarTest.env(jvm[0], kit, cache, "--umockdev", jvm[1]);
        assertEquals(0, env.exit, env.all());
        assertEquals(cache + "/portula/2.0.0/" + arch + "/libtestbed_fstat.so " + jvm[1], env.out.trim());
        KitJarTest.assertKit(KitJarTest.kit(jvm[0], env.out.trim(), cache, JAR, kit,
                List.of("-Djava.io.tmpdir=" + temp)));
    }

    @ParameterizedTest
    @ValueSource(strings = {"x86-64", "x86", "aarch64", "arm"})
    void runsTheToolInEachPlatformsJvm(String arch) throws Exception {
        // that platform's bin/java-emulated, its emulator's jar and library directory
        String[] jvm = ChildJvm.property("portula.dist." + arch).split("\\|");
        ChildJvm list = JarTest.harnessWith(jvm[0], JAR, jvm[1], jvm[2], temp.toString(), "tool", "list");
        assertEquals(0, list.exit, list.all());
        ToolTest.assertTable(list);
        ChildJvm loaded = JarTest.harnessWith(jvm[0], JAR, jvm[1], jvm[2], temp.toString(), "loaded");
        List<String> lines = loaded.lines("LOADED ");
        assertEquals(1, lines.size(), loaded.all());
        assertTrue(lines.get(0).startsWith("LOADED " + temp + "/" + library(arch) + "-"), loaded.all());
    }
}
