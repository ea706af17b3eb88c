package com.orvanta.packaging;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.DataInputStream;
import java.lang.module.ModuleDescriptor;
import java.lang.module.ModuleFinder;
import java.lang.reflect.Modifier;
import java.net.URL;
import java.net.URLClassLoader;
import java.nio.file.FileSystem;
import java.nio.file.FileSystems;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Collections;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.TreeSet;
import java.util.jar.JarEntry;
import java.util.jar.JarFile;
import java.util.stream.Collectors;
import java.util.stream.Stream;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/**
 * This build's portula.jar in this build's JVM, with only the emulator's own
 * library on java.library.path: where the native library comes from, and what
 * happens when it cannot be had.
 */
@Tag("load")
class JarTest {
    static final String BITS = ChildJvm.property("portula.bits");
    static final String LIBRARY = "libportula" + BITS + ".so";
    static final String RESOURCE = ChildJvm.property("portula.resource");

    @TempDir
    Path temp;

    static ChildJvm harness(String java, String portulaJar, String libraryPath, String tmpdir, String... args)
            throws Exception {
        return harnessWith(java, portulaJar, ChildJvm.property("portula.testbed.jar"), libraryPath, tmpdir, args);
    }

    /** harness in an environment with these variables set. */
    static ChildJvm harnessIn(Map<String, String> env, String java, String portulaJar, String libraryPath,
            String tmpdir, String... args) throws Exception {
        return ChildJvm.run(env, java, List.of("-Djava.library.path=" + libraryPath, "-Djava.io.tmpdir=" + tmpdir),
                List.of(portulaJar, ChildJvm.property("portula.testbed.jar"), ChildJvm.harnessJar()), args);
    }

    /** ToolHarness with portula.jar and the emulator's jar; libraryPath holds the emulator's library. */
    static ChildJvm harnessWith(String java, String portulaJar, String testbedJar, String libraryPath, String tmpdir,
            String... args) throws Exception {
        return ChildJvm.run(java, List.of("-Djava.library.path=" + libraryPath, "-Djava.io.tmpdir=" + tmpdir),
                List.of(portulaJar, testbedJar, ChildJvm.harnessJar()), args);
    }

    private ChildJvm fromJar(String... args) throws Exception {
        return harness(ChildJvm.property("portula.java.emulated"), ChildJvm.property("portula.jar"),
                ChildJvm.property("portula.testbed.dir"), temp.toString(), args);
    }

    @Test
    void listsEmulatedDevicesWithTheLibraryFromTheJar() throws Exception {
        ChildJvm child = fromJar("tool", "list");
        assertEquals(0, child.exit, child.all());
        ToolTest.assertTable(child);
    }

    @Test
    void loadsAPrivateCopyInTmpdirThatGoesOnceLoaded() throws Exception {
        ChildJvm child = fromJar("loaded");
        assertEquals(0, child.exit, child.all());
        List<String> loaded = child.lines("LOADED ");
        assertEquals(1, loaded.size(), child.all());
        String line = loaded.get(0);
        assertTrue(line.startsWith("LOADED " + temp + "/" + LIBRARY.replace(".so", "-")), child.all());
        // deleted while the VM still runs, so not even a killed VM leaves it behind
        assertTrue(line.endsWith(".so (deleted) rw-------") || line.endsWith(".so (deleted) gone"), child.all());
        assertEmpty(temp);
    }

    @Test
    void aCopyThatDoesNotLoadIsDeletedToo() throws Exception {
        Path broken = temp.resolve("broken.jar");
        Files.copy(Path.of(ChildJvm.property("portula.classes.jar")), broken);
        try (FileSystem jar = FileSystems.newFileSystem(broken)) {
            Path resource = jar.getPath("/" + RESOURCE);
            Files.createDirectories(resource.getParent());
            Files.writeString(resource, "not a library");
        }
        Path tmpdir = Files.createDirectory(temp.resolve("tmp"));
        ChildJvm child = harness(ChildJvm.property("portula.java.emulated"), broken.toString(),
                ChildJvm.property("portula.testbed.dir"), tmpdir.toString(), "retry");
        assertEquals(0, child.exit, child.all());
        String message = child.lines("FIRST ").get(0);
        assertTrue(message.contains("could not be loaded through a copy in java.io.tmpdir=" + tmpdir), message);
        assertEmpty(tmpdir);
    }

    @Test
    void anUnknownArchitectureIsToldWhatTheJarCarries() throws Exception {
        ChildJvm child = ChildJvm.run(ChildJvm.property("portula.java.emulated"),
                List.of("-Djava.library.path=" + ChildJvm.property("portula.testbed.dir"), "-Dos.arch=mips64"),
                List.of(ChildJvm.property("portula.jar"), ChildJvm.property("portula.testbed.jar"),
                        ChildJvm.harnessJar()), "retry");
        String message = child.lines("FIRST ").get(0);
        assertTrue(message.startsWith("FIRST java.lang.UnsatisfiedLinkError: no portula build for os.arch=mips64"),
                message);
        assertTrue(message.contains(" carries " + RESOURCE + " (os.arch "), message);
    }

    private static void assertEmpty(Path dir) throws Exception {
        try (Stream<Path> left = Files.list(dir)) {
            assertEquals(List.of(), left.collect(Collectors.toList()), "the copy outlived its load");
        }
    }

    @Test
    void libraryPathComesFirst() throws Exception {
        String bridge = ChildJvm.property("portula.bridge.dir");
        ChildJvm child = harness(ChildJvm.property("portula.java.emulated"), ChildJvm.property("portula.jar"),
                bridge + ":" + ChildJvm.property("portula.testbed.dir"), temp.toString(), "loaded");
        assertEquals(0, child.exit, child.all());
        List<String> loaded = child.lines("LOADED ");
        assertEquals(1, loaded.size(), child.all());
        assertTrue(loaded.get(0).startsWith("LOADED " + Path.of(bridge, LIBRARY).toRealPath() + " "),
                child.all());
    }

    @Test
    void firstUseFromManyThreadsLoadsOnce() throws Exception {
        ChildJvm child = fromJar("threads");
        assertEquals(0, child.exit, child.all());
        assertEquals(List.of("THREADS failed 0 []"), child.lines("THREADS"), child.all());
        assertEquals(1, child.lines("LOADED ").size(), child.all());
    }

    @Test
    void unusableTmpdirGivesAClearErrorEveryTime() throws Exception {
        // a directory below a regular file cannot be made, not even by root
        String tmpdir = "/etc/passwd/portula";
        ChildJvm child = harness(ChildJvm.property("portula.java.emulated"), ChildJvm.property("portula.jar"),
                ChildJvm.property("portula.testbed.dir"), tmpdir, "retry");
        assertEquals(0, child.exit, child.all());
        List<String> first = child.lines("FIRST ");
        assertEquals(1, first.size(), child.all());
        String message = first.get(0);
        assertTrue(message.startsWith("FIRST java.lang.UnsatisfiedLinkError: cannot load " + LIBRARY
                + " for this " + BITS + "-bit VM (os.arch="), message);
        assertTrue(message.contains("java.io.tmpdir=" + tmpdir), message);
        assertTrue(message.contains(RESOURCE), message);
        assertTrue(message.contains("java.library.path=" + ChildJvm.property("portula.testbed.dir")), message);
        // the class stays unusable, and says so, rather than half-loaded
        assertTrue(child.lines("SECOND ").get(0).startsWith("SECOND java.lang.NoClassDefFoundError"),
                child.all());
    }

    @Test
    void noLibraryAnywhereSaysWhatWasLookedForWhere() throws Exception {
        String classesOnly = ChildJvm.property("portula.classes.jar");
        ChildJvm child = harness(ChildJvm.property("portula.java.emulated"), classesOnly,
                ChildJvm.property("portula.testbed.dir"), temp.toString(), "retry");
        String message = child.lines("FIRST ").get(0);
        assertTrue(message.contains("for this " + BITS + "-bit VM (os.arch="), message);
        assertTrue(message.contains("not on java.library.path=" + ChildJvm.property("portula.testbed.dir")),
                message);
        assertTrue(message.contains("no resource " + RESOURCE + " in file:" + classesOnly), message);
    }

    @Test
    void javaDashJarRunsTheTool() throws Exception {
        String jar = ChildJvm.property("portula.jar");
        String java = ChildJvm.property("portula.java.plain");
        ChildJvm help = ChildJvm.run(java, List.of(), List.of(), "-jar", jar, "--help");
        assertEquals(0, help.exit, help.all());
        assertTrue(help.out.startsWith("usage: java -jar portula.jar COMMAND"), help.all());
        // the machine's own devices, if any: only the header is certain
        ChildJvm list = ChildJvm.run(java, List.of("-Djava.io.tmpdir=" + temp), List.of(), "-jar", jar, "list");
        assertEquals(0, list.exit, list.all());
        assertTrue(list.out.startsWith("PATH"), list.all());
        assertFalse(list.err.contains("cannot load"), list.all());
    }

    /**
     * Users' classes run on Java 8 (class files of version 52 at most); the
     * module com.orvanta.portula is described for Java 9 and later only, and
     * the library loads from it as from the class path.
     */
    @Test
    void classesForJava8AndTheModuleForJava9() throws Exception {
        String jar = ChildJvm.property("portula.jar");
        try (JarFile file = new JarFile(jar)) {
            int classes = 0;
            for (JarEntry entry : Collections.list(file.entries())) {
                if (entry.getName().startsWith("META-INF/versions/")) {
                    assertEquals("META-INF/versions/9/module-info.class", entry.getName());
                } else if (entry.getName().endsWith(".class")) {
                    try (DataInputStream in = new DataInputStream(file.getInputStream(entry))) {
                        in.readInt();
                        in.readUnsignedShort();
                        assertTrue(in.readUnsignedShort() <= 52, entry.getName() + " needs a VM newer than Java 8");
                    }
                    classes++;
                }
            }
            assertTrue(classes > 0, jar);
        }
        ChildJvm list = ChildJvm.run(ChildJvm.property("portula.java.plain"), List.of("-Djava.io.tmpdir=" + temp),
                List.of(), "-p", jar, "-m", "com.orvanta.portula", "list");
        assertEquals(0, list.exit, list.all());
        assertTrue(list.out.startsWith("PATH"), list.all());
    }

    /**
     * The module exports exactly the packages that hold public types, but the
     * tool's: a package added to the API must be added to
     * java/module/module-info.java too. The test kit's hook is exported to the
     * kit alone.
     */
    @Test
    void moduleExportsEveryPackageOfPublicTypesButTheTools() throws Exception {
        Path jar = Path.of(ChildJvm.property("portula.jar"));
        ModuleDescriptor module = ModuleFinder.of(jar).find("com.orvanta.portula")
                .orElseThrow(() -> new AssertionError("no module com.orvanta.portula in " + jar)).descriptor();
        assertFalse(module.isAutomatic(), "no module-info.class: " + module);
        assertEquals("com.orvanta.tool.Main", module.mainClass().orElse(null));
        Set<String> exported = new TreeSet<>();
        Set<String> toTheKit = new TreeSet<>();
        for (ModuleDescriptor.Exports export : module.exports()) {
            if (export.isQualified()) {
                assertEquals(Set.of("com.orvanta.portula.testkit"), export.targets(), export.toString());
                toTheKit.add(export.source());
            } else {
                exported.add(export.source());
            }
        }
        assertEquals(Set.of("com.orvanta.hid.internal"), toTheKit);
        Set<String> publicApi = new TreeSet<>();
        try (JarFile file = new JarFile(jar.toFile());
                URLClassLoader loader = new URLClassLoader(new URL[] {jar.toUri().toURL()}, null)) {
            for (JarEntry entry : Collections.list(file.entries())) {
                String name = entry.getName();
                if (name.endsWith(".class") && !name.startsWith("META-INF/")) {
                    Class<?> type = Class.forName(name.replace('/', '.').replace(".class", ""), false, loader);
                    if (Modifier.isPublic(type.getModifiers()) && type.getEnclosingClass() == null) {
                        publicApi.add(type.getPackageName());
                    }
                }
            }
        }
        assertTrue(publicApi.remove("com.orvanta.tool"), publicApi.toString());
        assertTrue(publicApi.remove("com.orvanta.hid.internal"), publicApi.toString());
        assertEquals(publicApi, exported, "java/module/module-info.java exports other packages than those with"
                + " public types");
        assertTrue(module.packages().contains("com.orvanta.tool"), module.packages().toString());
    }
}
