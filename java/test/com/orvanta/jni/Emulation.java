package com.orvanta.jni;

import static org.junit.jupiter.api.Assertions.assertTrue;

import com.orvanta.testbed.EmulatedHid;
import java.util.ArrayList;
import java.util.List;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;

/**
 * Base of the tests that need emulated devices: each test gets an emulator
 * and devices of its own, so that nothing one test leaves queued or unplugged
 * reaches the next. Its handles are freed after it (every hidapi handle must
 * be closed before the emulator goes).
 */
abstract class Emulation {
    static final int VID = 0x1209;
    EmulatedHid emulator;
    private final List<Long> handles = new ArrayList<>();

    @BeforeEach
    void startEmulator() {
        assertTrue(EmulatedHid.preloadActive(), "run the JVM with the emulator preloaded (bin/java-emulated)");
        emulator = new EmulatedHid();
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
    void stopEmulator() {
        for (long h : handles) {
            HIDClassConnector._free(h);
        }
        handles.clear();
        emulator.close();
    }

    static byte[] bytes(int... values) {
        byte[] b = new byte[values.length];
        for (int i = 0; i < values.length; i++) {
            b[i] = (byte) values[i];
        }
        return b;
    }
}
