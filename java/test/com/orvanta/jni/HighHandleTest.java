package com.orvanta.jni;

import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import java.util.List;
import java.util.Map;
import org.junit.jupiter.api.Test;

/**
 * 32-bit builds: a handle whose object lies at or above 0x80000000 reaches
 * Java negative, works with every entry point, and only its low 32 bits
 * count. Ordinary objects land below 2 GiB there, so a test-only preload
 * places that one high.
 */
class HighHandleTest {
    @Test
    void aNegativeHandleWorksAndOnlyItsLow32BitsCount() throws Exception {
        assumeTrue(System.getProperty("sun.arch.data.model").equals("32"),
                "64-bit build: all 64 bits of a handle count, and bridge_helpers tests that rule");
        String preload = Child.property("portula.high.alloc");
        String out = Child.run(Map.of("PORTULA_EXTRA_PRELOAD", preload), List.of("-Xcheck:jni"), Child.classPath(Child.classPathEntry("portula.jar")),
                HighHandleProbe.class.getName(), preload);
        // sign-extended, so negative; page-aligned, so the preload's memory
        assertTrue(out.matches("(?s).*HANDLE ffffffff[89a-f][0-9a-f]{4}000\n.*"), out);
        assertTrue(out.contains("ECHO 31 32"), out);
        assertTrue(out.contains("LISTED 1"), out);
        assertTrue(out.contains("ECHO 33"), out);
        assertTrue(out.contains("ZERO Invalid handle passed."), out);
    }
}
