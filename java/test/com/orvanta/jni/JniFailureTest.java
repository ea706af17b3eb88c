package com.orvanta.jni;

import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.IOException;
import java.io.InputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Collections;
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
        try (JarFile in = new JarFile(Child.classPathEntry("portula.jar"));
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

    private static String fixture(String name) {
        String jar = System.getProperty("portula.fixture." + name);
        assertTrue(jar != null, "no -Dportula.fixture." + name);
        return jar;
    }

    /** ChildProbe in mode, with classPath first. */
    private String runChild(String mode, String... classPath) throws Exception {
        return Child.run(Child.classPath(classPath), ChildProbe.class.getName(), mode);
    }

    @Test
    void missingDeviceClassGivesNoClassDefFoundError() throws Exception {
        String out = runChild("enumerate", portulaWithout("com/orvanta/jni/HIDDevice.class").toString());
        assertTrue(out.contains("OUTCOME java.lang.NoClassDefFoundError: com/orvanta/jni/HIDDevice"), out);
    }

    @Test
    void missingSetterGivesNoSuchMethodError() throws Exception {
        String out = runChild("enumerate", fixture("nosetter"), Child.classPathEntry("portula.jar"));
        assertTrue(out.contains("OUTCOME java.lang.NoSuchMethodError: setProduct_string"), out);
    }

    @Test
    void throwingSetterStopsTheEnumeration() throws Exception {
        String out = runChild("enumerate", fixture("throwing"), Child.classPathEntry("portula.jar"));
        assertTrue(out.contains("OUTCOME java.lang.IllegalStateException: setter refused Orvanta Labs"), out);
    }

    @Test
    void exceptionWithoutItsLocationSetterGivesNoSuchMethodError() throws Exception {
        String out = runChild("close", fixture("nolocation"), Child.classPathEntry("portula.jar"));
        assertTrue(out.contains("OUTCOME java.lang.NoSuchMethodError: __jni_setLocation"), out);
    }

    @Test
    void callersWithTheirOwnCopiesOfTheClassesKeepWorking() throws Exception {
        String out = Child.run(Child.classPath(fixture("oldcaller")), "com.orvanta.oldcaller.OldCallerProbe");
        assertTrue(out.contains("LISTED 4"), out);
        // only the five setters they have, and none for what a device lacks
        assertTrue(out.contains("CALLS"
                + " setPath(@echo@) setVendor_id(1209) setProduct_id(1) setManufacturer(Orvanta Labs)"
                + " setProduct_string(Echo)"
                + " setPath(/dev/hidraw1) setVendor_id(1209) setProduct_id(2) setProduct_string(Product only)"
                + " setPath(/dev/hidraw2) setVendor_id(1209) setProduct_id(3)"
                + " setVendor_id(1209) setProduct_id(4) setManufacturer(No node)\n"), out);
        assertTrue(out.contains("ECHO 2a 2b 00"), out);
        assertTrue(out.contains("FAILED requested device is unavailable. at "
                + "Java_com_orvanta_jni_HIDClassConnector__1hid_1open__JLjava_lang_String_2 (portula.cpp)"), out);
    }

    @Test
    void enumerationHoldsAFewLocalReferencesWhateverTheDeviceCount() throws Exception {
        String agent = Child.property("portula.local.refs");
        String out = Child.run(java.util.Map.of(), java.util.List.of("-Xcheck:jni", "-agentpath:" + agent),
                Child.classPath(fixture("counting"), Child.classPathEntry("portula.jar")),
                LocalRefsProbe.class.getName(), agent);
        assertTrue(out.contains("LISTED 40"), out);
        int most = Integer.parseInt(out.replaceAll("(?s).*MOST (-?[0-9]+).*", "$1"));
        // the class, the array, one device and its string; 40 if each device's were kept
        assertTrue(most > 0 && most <= 6, out);
    }

    @Test
    void missingExceptionClassGivesNoClassDefFoundError() throws Exception {
        String out = runChild("close",
                portulaWithout("com/orvanta/jni/exceptions/HIDException.class").toString());
        assertTrue(out.contains("OUTCOME java.lang.NoClassDefFoundError: com/orvanta/jni/exceptions/HIDException"),
                out);
    }
}
