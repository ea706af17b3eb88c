package com.orvanta.jni;

import static com.orvanta.jni.HIDClassConnector._enumerateDevices;
import static com.orvanta.jni.HIDClassConnector._hid_open;
import static com.orvanta.jni.HIDClassConnector._hid_write;
import static java.nio.charset.StandardCharsets.UTF_8;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;

import com.orvanta.jni.exceptions.HIDException;
import com.orvanta.testbed.EmulatedHid;
import java.util.Arrays;
import java.util.stream.Collectors;
import org.junit.jupiter.api.Test;

/** Devices that lie about themselves, through the bridge (the fuzzer covers the native side: fuzz/). */
class HostileDevicesTest extends Emulation {
    @Test
    void namesOfAnyBytesComeThroughAsHidapiDecodesThem() throws Exception {
        emulator.device(VID, 0x0101).manufacturer(bytes(0xFF, 0xFE, 'a')).product(bytes('c', 't', 'l', 1, 0x1B))
                .serial(bytes(0xF4, 0x90, 0x80, 0x80)).rawReportDescriptor(new byte[0]).add();  // U+110000
        // lines added to the uevent: hidapi leaked the copies it did not keep
        emulator.device(VID, 0x0102).product("x\nHID_UNIQ=forged\nHID_NAME=again".getBytes(UTF_8))
                .serial("S-2").add();
        HIDDevice[] all = _enumerateDevices(handle(), VID, 0);
        assertEquals(HidapiReference.records(VID, 0),
                Arrays.stream(all).map(HidapiReference::of).collect(Collectors.toList()));
        assertEquals("", all[0].getManufacturer());   // not UTF-8
        assertEquals("ctl\u0001\u001b", all[0].getProduct_string());
        assertEquals("x\nHID_UNIQ=forged\nHID_NAME=again", all[1].getProduct_string());
    }

    @Test
    void aDeviceThatDiesWhenOpenedIsRefusedWhicheverWay() throws Exception {
        EmulatedHid.Device dying = emulator.device(VID, 0x0103).vanishOnOpen(true).add();
        long h = handle();
        assertEquals(1, _enumerateDevices(h, VID, 0x0103).length);
        assertThrows(HIDException.class, () -> _hid_open(h, VID, 0x0103));  // hidapi freed twice here
        assertThrows(HIDException.class, () -> _hid_open(h, dying.path()));
    }

    @Test
    void removedDevicesLeaveAndTheirPathsServeNewOnes() throws Exception {
        String path = null;
        for (int i = 0; i < 20; i++) {
            EmulatedHid.Device d = emulator.device(VID, 0x0104).serial("R-" + i).add();
            path = path == null ? d.path() : path;
            assertEquals(path, d.path());
            long h = handle();
            _hid_open(h, VID, 0x0104);
            _hid_write(h, bytes(0, i));
            assertEquals(2, d.popOutput(1000).length);
            free(h);
            emulator.remove(d);
            long g = handle();
            String gone = path;
            assertThrows(HIDException.class, () -> _hid_open(g, gone));
            free(g);
        }
        EmulatedHid.closeOrphanedSockets();
        assertEquals(0, _enumerateDevices(handle(), VID, 0x0104).length);
    }
}
