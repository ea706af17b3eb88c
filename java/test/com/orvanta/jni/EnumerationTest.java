package com.orvanta.jni;

import static com.orvanta.jni.HIDClassConnector._enumerateDevices;
import static com.orvanta.jni.HIDClassConnector._hid_open;
import static com.orvanta.jni.HIDClassConnector._hid_read;
import static com.orvanta.jni.HIDClassConnector._hid_write;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertNull;

import com.orvanta.testbed.EmulatedHid;
import java.util.Arrays;
import java.util.List;
import java.util.stream.Collectors;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

/** _enumerateDevices against emulated devices, compared with hidapi's own list. */
class EnumerationTest extends Emulation {
    static final int OTHER_VID = 0xFFFF;
    static final String LONG_NAME = "N".repeat(175) + "\u00e9".repeat(100) + "\ud83d\ude00".repeat(25);
    static final String MIXED = "Caf\u00e9 \u00fc\u00df \u4e2d\u6587\u9375\u76e4 \ud83d\ude00\ud83c\udfb9";
    EmulatedHid.Device echo;
    EmulatedHid.Device nameless;

    @BeforeEach
    void devices() {
        echo = emulator.add(VID, 0x0001, "Orvanta Labs", "Echo", "E-1", true, false);
        emulator.add(VID, 0x8001, "Orvanta Labs", "High bit", "H-1", false, false);
        emulator.add(OTHER_VID, 0xFFFF, "All ones", "ffff:ffff", "F-1", false, false);
        emulator.add(VID, 0x0005, MIXED, LONG_NAME, "M-1", false, false);
        nameless = emulator.add(VID, 0x0006, null, null, null, false, false);
        emulator.add(VID, 0x0007, null, "Product only", null, false, false);
        emulator.device(VID, 0x0008).manufacturer("No node").deviceNode(false).add();
    }

    private static List<HidapiReference.Record> records(HIDDevice[] devices) {
        return Arrays.stream(devices).map(HidapiReference::of).collect(Collectors.toList());
    }

    @Test
    void listsEveryDeviceInHidapisOrder() throws Exception {
        long h = handle();
        HIDDevice[] all = _enumerateDevices(h, 0, 0);
        assertEquals(7, all.length);
        assertEquals(HidapiReference.records(0, 0), records(all));
    }

    @Test
    void filtersByIdsTakenAsSixteenBits() throws Exception {
        long h = handle();
        HIDDevice[] one = _enumerateDevices(h, VID, 0x0001);
        assertEquals(1, one.length);
        assertEquals(echo.path(), one[0].getPath());
        assertEquals(records(one), records(_enumerateDevices(h, VID | 0x10000, 0x0001 | 0xABC0000)));
        assertEquals(records(one), records(_enumerateDevices(h, VID - 0x10000, 0x0001 - 0x20000)));
        HIDDevice[] vendor = _enumerateDevices(h, VID, 0);
        assertEquals(HidapiReference.records(VID, 0), records(vendor));
        assertEquals(6, vendor.length);
        assertEquals(0, _enumerateDevices(h, 0x4242, 0x4242).length);
    }

    @Test
    void idsArriveAsUnsignedValues() throws Exception {
        long h = handle();
        HIDDevice[] high = _enumerateDevices(h, VID, 0x8001);
        assertEquals(1, high.length);
        assertEquals(0x8001, high[0].getProduct_id());
        HIDDevice[] ones = _enumerateDevices(h, -1, -1);
        assertEquals(1, ones.length);
        assertEquals(0xFFFF, ones[0].getVendor_id());
        assertEquals(0xFFFF, ones[0].getProduct_id());
    }

    @Test
    void namesArriveExactlyAndMissingOnesStayUnset() throws Exception {
        long h = handle();
        HIDDevice[] mixed = _enumerateDevices(h, VID, 0x0005);
        assertEquals(MIXED, mixed[0].getManufacturer());
        assertEquals(LONG_NAME, mixed[0].getProduct_string());
        assertEquals(300, LONG_NAME.codePointCount(0, LONG_NAME.length()));
        HIDDevice[] none = _enumerateDevices(h, VID, 0x0006);
        assertEquals(nameless.path(), none[0].getPath());
        assertNull(none[0].getManufacturer());
        assertNull(none[0].getProduct_string());
        HIDDevice[] productOnly = _enumerateDevices(h, VID, 0x0007);
        assertNull(productOnly[0].getManufacturer());
        assertEquals("Product only", productOnly[0].getProduct_string());
    }

    @Test
    void aDeviceWithoutANodeIsListedWithoutAPath() throws Exception {
        long h = handle();
        HIDDevice[] found = _enumerateDevices(h, VID, 0x0008);
        assertEquals(1, found.length);
        assertNull(found[0].getPath());
        assertEquals("No node", found[0].getManufacturer());
        // and the others are all there
        assertEquals(HidapiReference.records(0, 0), records(_enumerateDevices(h, 0, 0)));
    }

    @Test
    void aListedPathOpens() throws Exception {
        long h = handle();
        HIDDevice[] found = _enumerateDevices(h, VID, 0x0001);
        assertNotNull(found[0].getPath());
        _hid_open(h, found[0].getPath());
        _hid_write(h, bytes(0, 0x5a));
        assertArrayEquals(bytes(0x5a, 0), _hid_read(h, 2));
    }

    @Test
    void repeatedEnumerationKeepsReturningFreshArrays() throws Exception {
        long h = handle();
        HIDDevice[] first = _enumerateDevices(h, 0, 0);
        for (int i = 0; i < 200; i++) {
            HIDDevice[] again = _enumerateDevices(h, 0, 0);
            assertEquals(records(first), records(again));
        }
    }
}
