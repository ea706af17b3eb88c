package com.orvanta.hid;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.orvanta.testbed.EmulatedHid;
import java.util.ArrayList;
import java.util.List;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.function.Executable;

/**
 * Base of the API's tests: each test gets an emulator and devices of its own;
 * the devices it opened are closed after it, before the emulator goes.
 */
abstract class EmulatedDevices {
    static final int VID = 0x1209;
    EmulatedHid emulator;
    private final List<HidDevice> opened = new ArrayList<>();

    @BeforeEach
    void startEmulator() {
        assertTrue(EmulatedHid.preloadActive(), "run the JVM with the emulator preloaded (bin/java-emulated)");
        emulator = new EmulatedHid();
    }

    @AfterEach
    void stopEmulator() {
        for (HidDevice d : opened) {
            d.close();
        }
        emulator.close();
    }

    /** An echo device: each output report comes back as an input report. */
    EmulatedHid.Device echo(int productId) {
        return emulator.add(VID, productId, "Orvanta Labs", "Echo", "E-" + productId, true, false);
    }

    /** Opened here, closed after the test. */
    HidDevice open(EmulatedHid.Device device) throws HidException {
        return keep(Hid.open(device.path()));
    }

    HidDevice keep(HidDevice device) {
        opened.add(device);
        return device;
    }

    static HidException assertFails(HidException.Reason reason, Executable call) {
        HidException e = assertThrows(HidException.class, call);
        assertEquals(reason, e.reason(), e.toString());
        return e;
    }

    static byte[] bytes(int... values) {
        byte[] b = new byte[values.length];
        for (int i = 0; i < values.length; i++) {
            b[i] = (byte) values[i];
        }
        return b;
    }
}
