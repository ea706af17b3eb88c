package com.orvanta.hid;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.orvanta.hid.HidException.Reason;
import com.orvanta.hid.descriptor.Recording;
import com.orvanta.testbed.EmulatedHid;
import java.util.List;
import java.util.stream.Collectors;
import org.junit.jupiter.api.Test;

/** Hid.devices(): every field of each record, filters, and the value's own methods. */
class HidDevicesTest extends EmulatedDevices {
    static final byte[] KEYBOARD = bytes(0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7,
            0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0x95, 0x06, 0x75, 0x08, 0x25, 0x65,
            0x19, 0x00, 0x29, 0x65, 0x81, 0x00, 0xC0);
    // a mouse (report 1) and a consumer control (report 2)
    static final byte[] MOUSE_AND_KEYS = bytes(0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x85, 0x01, 0x09, 0x01, 0xA1,
            0x00, 0x05, 0x09, 0x19, 0x01, 0x29, 0x03, 0x15, 0x00, 0x25, 0x01, 0x95, 0x03, 0x75, 0x01, 0x81, 0x02,
            0x95, 0x01, 0x75, 0x05, 0x81, 0x01, 0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x15, 0x81, 0x25, 0x7F, 0x75,
            0x08, 0x95, 0x02, 0x81, 0x06, 0xC0, 0xC0, 0x05, 0x0C, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x02, 0x19, 0x00,
            0x2A, 0xFF, 0x03, 0x15, 0x00, 0x26, 0xFF, 0x03, 0x75, 0x10, 0x95, 0x01, 0x81, 0x00, 0xC0);

    @Test
    void everyFieldOfEveryRecordInHidapisOrder() throws Exception {
        EmulatedHid.Device full = emulator.device(VID, 0x0001).release(0x0123).interfaceNumber(2)
                .manufacturer("Orvanta Labs").product("Caf\u00e9 \ud83c\udfb9").serial("SN-\u00fc").add();
        EmulatedHid.Device keyboard = emulator.device(VID, 0x8002).reportDescriptor(KEYBOARD).add();
        EmulatedHid.Device combo = emulator.device(0xFFFF, 0xFFFF).manufacturer("Combo")
                .reportDescriptor(MOUSE_AND_KEYS).add();

        List<HidDeviceInfo> all = Hid.devices();
        assertEquals(List.of(full.path(), keyboard.path(), combo.path(), combo.path(), combo.path()),
                all.stream().map(HidDeviceInfo::path).collect(Collectors.toList()));
        HidDeviceInfo f = all.get(0);
        assertEquals(VID, f.vendorId());
        assertEquals(0x0001, f.productId());
        assertEquals(0x0123, f.releaseNumber());
        assertEquals(2, f.interfaceNumber());
        assertEquals("Orvanta Labs", f.manufacturer());
        assertEquals("Caf\u00e9 \ud83c\udfb9", f.product());
        assertEquals("SN-\u00fc", f.serialNumber());
        assertEquals(0xFF00, f.usagePage());   // the emulator's default descriptor: vendor page
        assertEquals(0x0001, f.usage());
        assertEquals(HidDeviceInfo.BusType.USB, f.busType());

        HidDeviceInfo k = all.get(1);
        assertEquals(0x8002, k.productId());   // an ID above 0x7fff stays positive
        assertEquals(1, k.usagePage());
        assertEquals(6, k.usage());
        assertNull(k.manufacturer());
        assertNull(k.product());
        assertNull(k.serialNumber());
        assertEquals(0, k.interfaceNumber());

        // a record per collection that hidapi finds after a usage: the mouse's
        // application and physical collections, then the consumer control
        assertEquals(0xFFFF, all.get(2).vendorId());
        assertEquals(List.of("1:2", "1:1", "12:1"), all.subList(2, 5).stream()
                .map(d -> d.usagePage() + ":" + d.usage()).collect(Collectors.toList()));
        assertEquals("Combo", all.get(4).manufacturer());
    }

    @Test
    void filtersAndArguments() throws Exception {
        EmulatedHid.Device one = echo(0x0001);
        echo(0x0002);
        emulator.add(0x16C0, 0x0001, null, null, null, false, false);
        assertEquals(2, Hid.devices(VID, 0).size());
        assertEquals(2, Hid.devices(0, 0x0001).size());
        List<HidDeviceInfo> exact = Hid.devices(VID, 0x0001);
        assertEquals(1, exact.size());
        assertEquals(one.path(), exact.get(0).path());
        assertEquals(List.of(), Hid.devices(0x4242, 0x4242));
        assertThrows(IllegalArgumentException.class, () -> Hid.devices(0x10000, 0));
        assertThrows(IllegalArgumentException.class, () -> Hid.devices(0, -1));
    }

    @Test
    void recordsAreValuesWithAReadableForm() throws Exception {
        emulator.device(VID, 0x0abc).release(0x0200).manufacturer("Orvanta Labs").product("Echo").serial("E-1").add();
        emulator.device(VID, 0x0abd).add();
        List<HidDeviceInfo> first = Hid.devices();
        List<HidDeviceInfo> again = Hid.devices();
        assertEquals(first, again);
        assertEquals(first.get(0).hashCode(), again.get(0).hashCode());
        assertNotEquals(first.get(0), first.get(1));
        assertEquals(first.get(0).path() + " 1209:0abc \"Orvanta Labs\" \"Echo\" serial \"E-1\" release 0x0200"
                + " usage ff00:0001 interface 0 USB", first.get(0).toString());
        assertTrue(first.get(1).toString().contains(" 1209:0abd - - serial - "), first.get(1).toString());
    }

    @Test
    void reportDescriptorsAsTheKernelKeepsThemListedOrOpen() throws Exception {
        EmulatedHid.Device keyboard = emulator.device(VID, 0x8002).reportDescriptor(KEYBOARD).add();
        byte[] largest = new byte[4096];
        for (int i = 0; i < largest.length; i++) {
            largest[i] = (byte) (i * 7);
        }
        EmulatedHid.Device large = emulator.device(VID, 0x8003).rawReportDescriptor(largest).add();
        EmulatedHid.Device empty = emulator.device(VID, 0x8004).rawReportDescriptor(new byte[0]).add();
        EmulatedHid.Device missing = emulator.device(VID, 0x8005).attribute("hid/report_descriptor", null).add();
        HidDeviceInfo listed = Hid.devices(VID, 0x8002).get(0);
        assertArrayEquals(KEYBOARD, Hid.reportDescriptor(listed));
        assertArrayEquals(KEYBOARD, open(keyboard).reportDescriptor());
        assertArrayEquals(largest, Hid.reportDescriptor(Hid.devices(VID, 0x8003).get(0)));
        assertArrayEquals(largest, open(large).reportDescriptor());
        assertFails(Reason.MALFORMED, () -> open(empty).reportDescriptor());
        assertFails(Reason.IO, () -> open(missing).reportDescriptor());
        assertThrows(NullPointerException.class, () -> Hid.reportDescriptor(null));
        // gone: listed, it is not found; open, it is gone
        HidDevice d = open(keyboard);
        keyboard.unplug();
        assertFails(Reason.NOT_FOUND, () -> Hid.reportDescriptor(listed));
        assertFails(Reason.DEVICE_GONE, d::reportDescriptor);
    }

    @Test
    void aRecordingHeaderIsTheDescriptorAndWhatTheKernelSaysOfTheNode() throws Exception {
        EmulatedHid.Device keyboard = emulator.device(VID, 0x8002).manufacturer("Orvanta Labs")
                .product("Clavier \u00e9").interfaceNumber(1).reportDescriptor(KEYBOARD).add();
        EmulatedHid.Device bare = emulator.device(0x16C0, 0x05DF).add();
        HidDevice d = open(keyboard);
        Recording header = d.recordingHeader();
        assertArrayEquals(KEYBOARD, header.descriptor());
        assertEquals("Orvanta Labs Clavier \u00e9", header.name());
        assertTrue(header.physicalPath().matches("usb-0000:00:14\\.0-[0-9]+/input1"), header.physicalPath());
        assertEquals(List.of(3, VID, 0x8002), List.of(header.bus(), header.vendorId(), header.productId()));
        assertEquals(List.of(), header.events());
        assertEquals("", open(bare).recordingHeader().name());

        keyboard.unplug();
        assertFails(Reason.DEVICE_GONE, d::recordingHeader);
        d.close();
        assertFails(Reason.CLOSED, d::recordingHeader);
    }
}
