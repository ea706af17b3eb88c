package com.orvanta.jni;

import static com.orvanta.jni.HIDClassConnector._enumerateDevices;
import static com.orvanta.jni.HIDClassConnector._hid_open;
import static com.orvanta.jni.HIDClassConnector._hid_read;
import static com.orvanta.jni.HIDClassConnector._hid_write;
import static com.orvanta.jni.HandleIoTest.OPEN_IDS;
import static com.orvanta.jni.HandleIoTest.OPEN_IDS_REPORTED;
import static com.orvanta.jni.NativeSource.assertRaises;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;

import com.orvanta.testbed.EmulatedHid;
import java.util.Arrays;
import java.util.HashSet;
import java.util.Set;
import java.util.stream.Collectors;
import org.junit.jupiter.api.Test;

/**
 * Enumeration at its extremes: no device at all, then a thousand
 * (-Dportula.many.devices lowers it where the emulator is slow, as under qemu).
 */
class ManyDevicesTest extends Emulation {
    static final int COUNT = Integer.getInteger("portula.many.devices", 1000);

    @Test
    void fromNoDeviceToAThousand() throws Exception {
        if (COUNT < 1000) {
            System.out.println("ManyDevicesTest: " + COUNT + " devices instead of 1000 (-Dportula.many.devices)");
        }
        long h = handle();
        assertEquals(0, _enumerateDevices(h, 0, 0).length);
        assertEquals(0, _enumerateDevices(h, VID, 1).length);
        assertRaises("requested device is unavailable.", OPEN_IDS_REPORTED, OPEN_IDS, () -> _hid_open(h, VID, 1));

        EmulatedHid.Device last = null;
        for (int i = 0; i < COUNT; i++) {
            last = emulator.add(VID, 0x4000 + i, "Orvanta Labs", "Many " + i, "M-" + i, i == COUNT - 1, false);
        }
        HIDDevice[] all = _enumerateDevices(h, 0, 0);
        assertEquals(COUNT, all.length);
        assertEquals(HidapiReference.records(0, 0),
                Arrays.stream(all).map(HidapiReference::of).collect(Collectors.toList()));
        Set<Integer> products = new HashSet<>();
        for (HIDDevice d : all) {
            products.add(d.getProduct_id());
            assertEquals("Many " + (d.getProduct_id() - 0x4000), d.getProduct_string());
        }
        assertEquals(COUNT, products.size());

        HIDDevice[] one = _enumerateDevices(h, VID, 0x4000 + COUNT - 1);
        assertEquals(1, one.length);
        assertEquals(last.path(), one[0].getPath());
        // the last of them opens by IDs and answers
        _hid_open(h, VID, 0x4000 + COUNT - 1);
        _hid_write(h, bytes(0, 0x3c));
        assertArrayEquals(bytes(0x3c, 0), _hid_read(h, 2));
    }
}
