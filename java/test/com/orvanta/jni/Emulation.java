package com.orvanta.jni;

import static org.junit.jupiter.api.Assertions.assertTrue;

import com.orvanta.testbed.EmulatedHid;
import java.util.ArrayList;
import java.util.List;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeAll;

/**
 * Base of the tests that need emulated devices: one emulator per test class,
 * and handles that are freed after each test (every hidapi handle must be
 * closed before the emulator goes).
 */
abstract class Emulation {
    static final int VID = 0x1209;
    static EmulatedHid emulator;
    private final List<Long> handles = new ArrayList<>();

    @BeforeAll
    static void startEmulator() {
        assertTrue(EmulatedHid.preloadActive(), "run the JVM with the emulator preloaded (bin/java-emulated)");
        emulator = new EmulatedHid();
    }

    @AfterAll
    static void stopEmulator() {
        emulator.close();
        emulator = null;
    }

    /** A new handle, freed after the test. */
    long handle() throws Exception {
        long h = HIDClassConnector._hid_init();
        assertTrue(h != 0);
        handles.add(h);
        return h;
    }

    void free(long h) {
        HIDClassConnector._free(h);
        handles.remove(h);
    }

    @AfterEach
    void freeHandles() {
        for (long h : handles) {
            HIDClassConnector._free(h);
        }
        handles.clear();
    }

    static byte[] bytes(int... values) {
        byte[] b = new byte[values.length];
        for (int i = 0; i < values.length; i++) {
            b[i] = (byte) values[i];
        }
        return b;
    }
}
