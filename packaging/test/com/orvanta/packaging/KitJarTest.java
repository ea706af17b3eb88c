package com.orvanta.packaging;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import java.io.DataInputStream;
import java.lang.module.ModuleDescriptor;
import java.lang.module.ModuleFinder;
import java.lang.reflect.Modifier;
import java.net.URL;
import java.net.URLClassLoader;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.TreeSet;
import java.util.jar.JarEntry;
import java.util.jar.JarFile;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/**
 * This build's portula-testkit.jar as its users take it: a module of its own,
 * the env command, a JVM started without the preload, one started with what
 * env prints, and native access on the newest JDK. Child JVMs start through
 * bin/java-plain, which preloads nothing of the build's.
 */
@Tag("kit")
class KitJarTest {
    static final String KIT = ChildJvm.property("portula.testkit.jar");

    @TempDir
    Path temp;

    /** java -jar portula-testkit.jar env, with the cache in cache. */
    static ChildJvm env(String java, Path cache, String... more) throws Exception {
        return env(java, KIT, cache, more);
    }

    /** java -jar kit env, with the cache in cache. */
    static ChildJvm env(String java, String kit, Path cache, String... more) throws Exception {
        List<String> args = new ArrayList<>(List.of("-jar", kit, "env"));
        args.addAll(List.of(more));
        return ChildJvm.run(Map.of("XDG_CACHE_HOME", cache.toString()), java, List.of(), List.of(),
                args.toArray(new String[0]));
    }

    /** ToolHarness kit in java, with LD_PRELOAD as given, the cache in cache, portula and the kit from jars. */
    static ChildJvm kit(String java, String preload, Path cache, String portulaJar, String kitJar, List<String> flags)
            throws Exception {
        return ChildJvm.run(Map.of("PORTULA_EXTRA_PRELOAD", preload, "XDG_CACHE_HOME", cache.toString()), java,
                flags, List.of(portulaJar, kitJar, ChildJvm.harnessJar()), "kit");
    }

    @Test
    void isAModuleOfItsOwnWithClassesForJava8() throws Exception {
        ModuleDescriptor module = ModuleFinder.of(Path.of(KIT)).find("com.orvanta.portula.testkit")
                .orElseThrow(() -> new AssertionError("no module com.orvanta.portula.testkit in " + KIT)).descriptor();
        assertFalse(module.isAutomatic());
        assertEquals("com.orvanta.testbed.KitMain", module.mainClass().orElse(null));
        Set<String> requires = new TreeSet<>();
        for (ModuleDescriptor.Requires r : module.requires()) {
            requires.add(r.name() + " " + new TreeSet<>(r.modifiers()));
        }
        assertEquals(Set.of("java.base [MANDATED]", "com.orvanta.portula [TRANSITIVE]",
                "org.junit.jupiter.api [STATIC]"), requires);
        Set<String> exported = new TreeSet<>();
        module.exports().forEach(e -> exported.add(e.toString()));
        assertEquals(Set.of("com.orvanta.testkit"), exported, "exported to all, and nothing qualified");
        // the packages with public types are the API's and the emulator's own, not exported
        Set<String> publicTypes = new TreeSet<>();
        // JUnit from this JVM: the extension's types need it to load
        try (JarFile jar = new JarFile(KIT); URLClassLoader loader = new URLClassLoader(new URL[] {
                Path.of(KIT).toUri().toURL(), Path.of(ChildJvm.property("portula.jar")).toUri().toURL()},
                Test.class.getClassLoader())) {
            for (JarEntry entry : Collections.list(jar.entries())) {
                String name = entry.getName();
                if (name.startsWith("META-INF/versions/")) {
                    assertEquals("META-INF/versions/9/module-info.class", name);
                } else if (name.endsWith(".class")) {
                    try (DataInputStream in = new DataInputStream(jar.getInputStream(entry))) {
                        in.readInt();
                        in.readUnsignedShort();
                        assertTrue(in.readUnsignedShort() <= 52, name + " needs a VM newer than Java 8");
                    }
                    Class<?> type = Class.forName(name.replace('/', '.').replace(".class", ""), false, loader);
                    if (Modifier.isPublic(type.getModifiers()) && type.getEnclosingClass() == null) {
                        publicTypes.add(type.getPackageName());
                    }
                }
            }
            String resource = ChildJvm.property("portula.resource").replaceAll("/.*", "/");
            assertTrue(jar.getEntry(resource + "libtestbed_fstat.so") != null, resource);
            assertTrue(jar.getEntry(resource + "libportula_testbed" + JarTest.BITS + ".so") != null, resource);
        }
        assertEquals(Set.of("com.orvanta.testkit", "com.orvanta.testbed"), publicTypes);
    }

    @Test
    void envExtractsTheShimOnceAndReplacesAnyOther() throws Exception {
        String java = ChildJvm.property("portula.java.plain");
        Path cache = temp.resolve("cache");
        ChildJvm first = env(java, cache);
        assertEquals(0, first.exit, first.all());
        Path dir = cache.resolve("portula/2.0.0/x86-64");
        Path shim = dir.resolve("libtestbed_fstat.so");
        assertEquals(shim + " /usr/lib/x86_64-linux-gnu/libumockdev-preload.so.0\n", first.out);
        assertTrue(first.err.contains("umockdev 0.17.16 at /usr/lib/x86_64-linux-gnu/libumockdev-preload.so.0:"
                + " the version tested"), first.err);
        for (Path d : List.of(cache.resolve("portula"), cache.resolve("portula/2.0.0"), dir)) {
            assertEquals("rwx------", PosixFilePermissions.toString(Files.getPosixFilePermissions(d)), d.toString());
        }
        byte[] jarShim;
        try (JarFile jar = new JarFile(KIT)) {
            jarShim = jar.getInputStream(jar.getEntry("linux-x86-64/libtestbed_fstat.so")).readAllBytes();
        }
        assertArrayEquals(jarShim, Files.readAllBytes(shim));
        // the same file stays; a changed one, or a directory others may enter, is put right
        Object inode = Files.getAttribute(shim, "unix:ino");
        assertEquals(first.out, env(java, cache).out);
        assertEquals(inode, Files.getAttribute(shim, "unix:ino"));
        Files.write(shim, new byte[] {0x7f, 'E', 'L', 'F'});
        Files.setPosixFilePermissions(dir, PosixFilePermissions.fromString("rwxr-xr-x"));
        assertEquals(first.out, env(java, cache).out);
        assertArrayEquals(jarShim, Files.readAllBytes(shim));
        assertEquals("rwx------", PosixFilePermissions.toString(Files.getPosixFilePermissions(dir)));
        try (var left = Files.list(dir)) {
            assertEquals(List.of(shim), left.toList(), "a temporary file was left behind");
        }
        // another platform's umockdev, and a wrong command
        ChildJvm foreign = env(java, cache, "--umockdev", KIT);
        assertEquals(1, foreign.exit, foreign.all());
        assertEquals("", foreign.out);
        assertTrue(foreign.err.contains(KIT + " is not a shared library for x86-64"), foreign.err);
        // a platform whose umockdev is not installed here, and one the kit has no files for
        ChildJvm arm64 = ChildJvm.run(Map.of("XDG_CACHE_HOME", cache.toString()), java, List.of("-Dos.arch=aarch64"),
                List.of(), "-jar", KIT, "env");
        assertEquals(1, arm64.exit, arm64.all());
        assertTrue(arm64.err.contains("libumockdev-preload.so.0 for aarch64 is not installed: install umockdev"
                + " (Debian and Ubuntu: apt install umockdev:arm64), or give --umockdev FILE"), arm64.err);
        ChildJvm mips = ChildJvm.run(java, List.of("-Dos.arch=mips64"), List.of(), "-jar", KIT, "env");
        assertEquals(1, mips.exit, mips.all());
        assertTrue(mips.err.contains("no kit for os.arch=mips64"), mips.err);
        ChildJvm usage = ChildJvm.run(java, List.of(), List.of(), "-jar", KIT, "envy");
        assertEquals(2, usage.exit, usage.all());
        assertTrue(usage.err.startsWith("usage: java -jar portula-testkit.jar env [--umockdev FILE]"), usage.err);
    }

    @Test
    void withoutThePreloadTheFirstCallSaysHowToStartTheJvm() throws Exception {
        Path cache = temp.resolve("cache");
        ChildJvm child = kit(ChildJvm.property("portula.java.plain"), "", cache, ChildJvm.property("portula.jar"),
                KIT, List.of());
        assertEquals(0, child.exit, child.all());
        assertEquals(twice("java.lang.IllegalStateException: this JVM cannot emulate HID devices: it started"
                + " without the emulator's preload (libtestbed_fstat.so and libumockdev-preload.so.0 are not loaded):"
                + " start the JVM with LD_PRELOAD=\"" + cache + "/portula/2.0.0/x86-64/libtestbed_fstat.so"
                + " /usr/lib/x86_64-linux-gnu/libumockdev-preload.so.0\" (what java -jar portula-testkit.jar env"
                + " prints); under Maven Surefire, set LD_PRELOAD in <environmentVariables>"), child.lines("KIT"));
    }

    /** What ToolHarness kit prints when both starts fail with failure. */
    static List<String> twice(String failure) {
        return List.of("KIT " + failure, "KIT again " + failure);
    }

    @Test
    void aTmpdirOrCacheThatCannotBeWrittenSaysWhichAndWhatChoosesIt() throws Exception {
        String java = ChildJvm.property("portula.java.plain");
        Path cache = temp.resolve("cache");
        String preload = env(java, cache).out.trim();
        List<String> classPath = List.of(ChildJvm.property("portula.jar"), KIT, ChildJvm.harnessJar());
        Path none = temp.resolve("none");
        ChildJvm noTmp = ChildJvm.run(Map.of("PORTULA_EXTRA_PRELOAD", preload, "XDG_CACHE_HOME", cache.toString(),
                "TMPDIR", none.toString()), java, List.of(), classPath, "kit");
        assertEquals(twice("java.lang.IllegalStateException: testbed: temporary directory " + none + " cannot be"
                + " written (No such file or directory): set TMPDIR to a writable directory"), noTmp.lines("KIT"),
                noTmp.all());
        // a cache under a regular file cannot be made, even by root
        Path file = Files.createFile(temp.resolve("file"));
        ChildJvm noCache = ChildJvm.run(Map.of("PORTULA_EXTRA_PRELOAD", preload, "XDG_CACHE_HOME", file.toString()),
                java, List.of(), classPath, "kit");
        List<String> lines = noCache.lines("KIT");
        assertEquals(2, lines.size(), noCache.all());
        assertTrue(lines.get(0).startsWith("KIT java.lang.UnsatisfiedLinkError: cannot load libportula_testbed64.so"),
                noCache.all());
        assertTrue(lines.get(0).contains(", and the cache directory " + file + "/portula/2.0.0/x86-64 cannot be"
                + " written ("), noCache.all());
        assertTrue(lines.get(0).endsWith("): XDG_CACHE_HOME chooses it (default ~/.cache)"), noCache.all());
        assertEquals(lines.get(0).replace("KIT ", "KIT again "), lines.get(1));
    }

    @Test
    void aJvmStartedWithWhatEnvPrintsEmulatesWithTheJarsAlone() throws Exception {
        String java = ChildJvm.property("portula.java.plain");
        Path cache = temp.resolve("cache");
        String preload = env(java, cache).out.trim();
        // no java.library.path: both libraries come from their jars
        ChildJvm child = kit(java, preload, cache, ChildJvm.property("portula.jar"), KIT,
                List.of("-Djava.io.tmpdir=" + temp));
        assertEquals(0, child.exit, child.all());
        assertKit(child);
    }

    /** What ToolHarness kit prints when the kit works. */
    static void assertKit(ChildJvm child) {
        assertEquals(List.of("KIT listed /dev/hidraw0 1209:ec40 \"Orvanta Labs\" \"Kit\" serial - release 0x0100"
                + " usage ff00:0001 interface 0 USB", "KIT listed /dev/hidraw1 1209:ec41 - \"Pad\" serial -"
                + " release 0x0000 usage ff00:0001 interface -1 BLUETOOTH", "KIT output [0, 1, 2]",
                "KIT input [7, 8]", "KIT feature [3, 4, 5]", "KIT ok"), child.lines("KIT"), child.all());
    }

    @Test
    void onTheNewestJdkTheKitsModuleNeedsItsOwnGrant() throws Exception {
        String newest = System.getProperty("portula.newest.java.plain");
        assumeTrue(newest != null, "no JDK 24 or later under /usr/lib/jvm");
        Path cache = temp.resolve("cache");
        String preload = env(ChildJvm.property("portula.java.plain"), cache).out.trim();
        String jar = ChildJvm.property("portula.jar");
        List<String> modulePath = List.of("-p", jar + ":" + KIT, "--add-modules", "com.orvanta.portula.testkit",
                "-cp", ChildJvm.harnessJar(), ToolHarness.class.getName(), "kit");
        // denied: on the class path, and to the module
        ChildJvm classPath = kit(newest, preload, cache, jar, KIT, List.of("--illegal-native-access=deny"));
        assertEquals(twice("java.lang.UnsatisfiedLinkError: cannot load libportula_testbed64.so: native access"
                + " is denied to the class path: add --enable-native-access=ALL-UNNAMED to the java command"),
                classPath.lines("KIT"), classPath.all());
        Map<String, String> env = Map.of("PORTULA_EXTRA_PRELOAD", preload, "XDG_CACHE_HOME", cache.toString());
        List<String> denied = new ArrayList<>(List.of("--illegal-native-access=deny"));
        denied.addAll(modulePath);
        ChildJvm module = ChildJvm.run(env, newest, List.of(), List.of(), denied.toArray(new String[0]));
        assertEquals(twice("java.lang.UnsatisfiedLinkError: cannot load libportula_testbed64.so: native access"
                + " is denied to module com.orvanta.portula.testkit: add"
                + " --enable-native-access=com.orvanta.portula.testkit to the java command"),
                module.lines("KIT"), module.all());
        // granted: no warning
        List<String> granted = new ArrayList<>(List.of("--illegal-native-access=deny",
                "--enable-native-access=com.orvanta.portula.testkit,com.orvanta.portula"));
        granted.addAll(modulePath);
        ChildJvm works = ChildJvm.run(env, newest, List.of(), List.of(), granted.toArray(new String[0]));
        assertKit(works);
        assertFalse(works.all().contains("WARNING"), works.all());
    }
}
