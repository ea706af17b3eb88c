package com.orvanta.hid;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.orvanta.hid.HidException.Reason;
import com.orvanta.testbed.EmulatedHid;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.Test;

/** One thread's use of a HidDevice: opening, reports both ways, timeouts, failures by reason. */
class HidDeviceTest extends EmulatedDevices {
    @Test
    void opensByPathIdsSerialOrRecord() throws Exception {
        echo(0x0001);
        EmulatedHid.Device second = emulator.device(VID, 0x0001).serial("S-2").product("Second").add();
        HidDevice byIds = keep(Hid.open(VID, 0x0001));
        assertEquals("E-1", byIds.info().serialNumber());
        HidDevice bySerial = keep(Hid.open(VID, 0x0001, "S-2"));
        assertEquals(second.path(), bySerial.info().path());
        assertEquals("Second", bySerial.info().product());
        HidDeviceInfo listed = Hid.devices(VID, 0x0001).get(1);
        assertSame(listed, keep(Hid.open(listed)).info());
        // by path, the device's own record: as the listing has it
        assertEquals(listed, open(second).info());

        HidException missing = assertFails(Reason.NOT_FOUND, () -> Hid.open("/dev/hidraw-none"));
        assertTrue(missing.getHidapiError().contains("No such file or directory"), missing.toString());
        assertEquals("Java_com_orvanta_jni_HIDClassConnector__1hid_1open__JLjava_lang_String_2",
                missing.getFunction());
        assertEquals("portula.cpp", missing.getFile());
        assertFails(Reason.NOT_FOUND, () -> Hid.open(VID, 0x0001, "no such serial"));
        assertFails(Reason.NOT_FOUND, () -> Hid.open(VID, 0x7777));
        assertFails(Reason.NOT_FOUND, () -> Hid.open("/dev/null"));
        assertThrows(NullPointerException.class, () -> Hid.open((String) null));
        assertThrows(NullPointerException.class, () -> Hid.open((HidDeviceInfo) null));
        assertThrows(IllegalArgumentException.class, () -> Hid.open(-1, 0x0001));
    }

    @Test
    void reportsGoOutAndComeBackExactly() throws Exception {
        EmulatedHid.Device silent = emulator.add(VID, 0x0002, "Orvanta Labs", "Silent", "S-1", false, false);
        EmulatedHid.Device numbered = emulator.add(VID, 0x0003, "Orvanta Labs", "Numbered", "N-1", false, true);
        HidDevice d = open(silent);
        d.write(bytes(0, 1, 2, 3));
        d.write(0, bytes(4, 5));
        assertArrayEquals(bytes(0, 1, 2, 3), silent.popOutput(2000));
        assertArrayEquals(bytes(0, 4, 5), silent.popOutput(2000));

        silent.pushInput(bytes(9, 8, 7));
        byte[] buffer = new byte[8];
        Arrays.fill(buffer, (byte) 0x55);
        assertEquals(3, d.read(buffer, 1000));
        assertArrayEquals(bytes(9, 8, 7, 0x55), Arrays.copyOf(buffer, 4));   // no padding
        silent.pushInput(bytes(6, 5));
        assertEquals(2, d.read(buffer, 4, 4, 1000));
        assertArrayEquals(bytes(9, 8, 7, 0x55, 6, 5, 0x55), Arrays.copyOf(buffer, 7));
        silent.pushInput(bytes(1, 2, 3, 4, 5));
        assertEquals(2, d.read(buffer, 0, 2, 1000));   // a short buffer cuts the report
        silent.pushInput(bytes(42));
        assertArrayEquals(bytes(42), d.read(1000));

        HidDevice n = open(numbered);
        n.write(2, bytes(0xff, 0x80));
        assertArrayEquals(bytes(2, 0xff, 0x80), numbered.popOutput(2000));
        numbered.pushInput(bytes(1, 0x10));
        assertArrayEquals(bytes(1, 0x10), n.read(1000));   // report ID first
    }

    @Test
    void timeoutsAreNotErrors() throws Exception {
        EmulatedHid.Device silent = emulator.add(VID, 0x0002, "Orvanta Labs", "Silent", "S-1", false, false);
        HidDevice d = open(silent);
        byte[] buffer = new byte[64];
        long start = System.nanoTime();
        assertEquals(0, d.read(buffer, 0));
        assertEquals(0, d.read(0).length);
        long nothing = System.nanoTime() - start;
        start = System.nanoTime();
        assertEquals(0, d.read(buffer, 50));
        long fifty = System.nanoTime() - start;
        System.out.printf("HidDeviceTest: two reads with timeout 0 took %.1f ms; one of 50 ms took %.1f ms%n",
                nothing / 1e6, fifty / 1e6);
        assertTrue(fifty >= TimeUnit.MILLISECONDS.toNanos(50), "returned after " + fifty / 1e6 + " ms");
        // without limit, until a report comes
        CompletableFuture<byte[]> waiting = CompletableFuture.supplyAsync(() -> {
            try {
                return d.read(-1);
            } catch (HidException e) {
                throw new IllegalStateException(e);
            }
        });
        Thread.sleep(300);
        assertFalse(waiting.isDone());
        silent.pushInput(bytes(7, 7));
        assertArrayEquals(bytes(7, 7), waiting.get(10, TimeUnit.SECONDS));
    }

    @Test
    void featureAndInputReportsOnRequest() throws Exception {
        EmulatedHid.Device numbered = emulator.add(VID, 0x0003, "Orvanta Labs", "Numbered", "N-1", false, true);
        HidDevice d = open(numbered);
        numbered.setFeatureReport(bytes(3, 0xa, 0xb, 0xc));
        assertArrayEquals(bytes(3, 0xa, 0xb, 0xc), d.getFeatureReport(3, 17));
        assertArrayEquals(bytes(3, 0xa), d.getFeatureReport(3, 2));
        d.sendFeatureReport(3, bytes(1, 2, 3));
        assertArrayEquals(bytes(3, 1, 2, 3), numbered.featureReport(3));
        numbered.setInputReport(bytes(2, 0x20, 0x21));
        assertArrayEquals(bytes(2, 0x20, 0x21), d.getInputReport(2, 33));

        // a report the device does not have: it stalls, and hidapi says so
        HidException stalled = assertFails(Reason.IO, () -> d.getFeatureReport(9, 8));
        assertEquals("Java_com_orvanta_jni_HIDNatives__1hid_1get_1feature_1report", stalled.getFunction());
        assertEquals("reports.cpp", stalled.getFile());
        assertTrue(stalled.getHidapiError().startsWith("ioctl (GFEATURE): "), stalled.toString());
        assertFails(Reason.IO, () -> d.getInputReport(9, 8));
        assertThrows(IllegalArgumentException.class, () -> d.getFeatureReport(256, 8));
        assertThrows(IllegalArgumentException.class, () -> d.getFeatureReport(3, 0));
        assertThrows(IllegalArgumentException.class, () -> d.getInputReport(3, 16384));
        assertThrows(NullPointerException.class, () -> d.sendFeatureReport(3, null));
        assertThrows(IllegalArgumentException.class, () -> d.sendFeatureReport(3, new byte[16383]));
        assertThrows(IllegalArgumentException.class, () -> d.indexedString(-1));
        HidException indexed = assertFails(Reason.UNSUPPORTED, () -> d.indexedString(1));
        assertNotNull(indexed.getHidapiError());
        // the device still answers
        assertArrayEquals(bytes(3, 1, 2, 3), d.getFeatureReport(3, 17));
    }

    @Test
    void argumentsAreCheckedBeforeAnythingReachesTheDevice() throws Exception {
        EmulatedHid.Device silent = emulator.add(VID, 0x0002, "Orvanta Labs", "Silent", "S-1", false, false);
        HidDevice d = open(silent);
        // the caller's mistakes are unchecked, as in the JDK's own I/O
        assertThrows(NullPointerException.class, () -> d.write(null));
        assertThrows(IllegalArgumentException.class, () -> d.write(new byte[0]));
        assertThrows(IllegalArgumentException.class, () -> d.write(new byte[16385]));
        assertThrows(IllegalArgumentException.class, () -> d.write(-1, bytes(1)));
        assertThrows(IllegalArgumentException.class, () -> d.write(1, new byte[16384]));
        assertThrows(NullPointerException.class, () -> d.write(1, null));
        assertThrows(NullPointerException.class, () -> d.read(null, 0));
        assertThrows(IndexOutOfBoundsException.class, () -> d.read(new byte[4], 2, 3, 0));
        assertThrows(IndexOutOfBoundsException.class, () -> d.read(new byte[4], -1, 2, 0));
        assertThrows(IndexOutOfBoundsException.class, () -> d.read(new byte[4], 1, -1, 0));
        assertThrows(IllegalArgumentException.class, () -> d.read(new byte[0], 0));
        assertThrows(IllegalArgumentException.class, () -> d.read(new byte[4], 4, 0, 0));
        assertEquals(0, silent.pendingOutputs());
        // the largest report goes out whole, and a buffer larger than any report is fine
        d.write(new byte[16384]);
        assertEquals(16384, silent.popOutput(2000).length);
        silent.pushInput(bytes(1, 2));
        assertEquals(2, d.read(new byte[100_000], 1000));
        // hidraw's own refusal of a 1-byte report is the device's, with hidapi's text
        HidException refused = assertFails(Reason.IO, () -> d.write(bytes(0)));
        assertEquals("Invalid argument", refused.getHidapiError());
    }

    @Test
    void aDeviceHidapiCannotDescribeStillOpens() throws Exception {
        // no /sys/dev/char entry for its node: listed, but hidapi makes no record of it once open
        EmulatedHid.Device unlinked = emulator.device(VID, 0x0061).product("Unlinked")
                .attribute("hidraw/dev", "245:x".getBytes(java.nio.charset.StandardCharsets.US_ASCII)).add();
        HidDeviceInfo listed = Hid.devices(VID, 0x0061).get(0);
        assertEquals(listed, open(unlinked).info());
        synchronized (Registry.LOCK) {   // handles are made and freed one at a time
            long h = com.orvanta.jni.HIDClassConnector._hid_init();
            try {
                com.orvanta.jni.HIDClassConnector._hid_open(h, unlinked.path());
                assertThrows(com.orvanta.jni.exceptions.HIDException.class,
                        () -> com.orvanta.jni.HIDNatives._hid_get_device_info(h), "hidapi describes it after all");
            } finally {
                com.orvanta.jni.HIDClassConnector._free(h);
            }
        }
        // no HID_ID: not even listed, so the record holds its path alone
        EmulatedHid.Device nameless = emulator.device(VID, 0x0062).product("Nameless").hidUevent("HID_ID", null).add();
        assertEquals(List.of(), Hid.devices(VID, 0x0062));
        HidDevice d = open(nameless);
        assertEquals(nameless.path(), d.info().path());
        assertEquals(0, d.info().vendorId());
        assertNull(d.info().product());
        assertEquals(HidDeviceInfo.BusType.UNKNOWN, d.info().busType());
        nameless.pushInput(bytes(4, 2));
        assertArrayEquals(bytes(4, 2), d.read(1000));
    }

    @Test
    void unplugAndCloseAreToldApart() throws Exception {
        EmulatedHid.Device gone = echo(0x00aa);
        HidDevice d = open(gone);
        HidDevice other = open(echo(0x00ab));
        gone.unplug();
        assertFails(Reason.DEVICE_GONE, () -> d.read(new byte[8], 100));
        assertFails(Reason.DEVICE_GONE, () -> d.write(bytes(0, 1)));
        assertFails(Reason.DEVICE_GONE, () -> d.getFeatureReport(0, 8));
        assertTrue(d.isOpen());

        other.close();
        other.close();
        assertFalse(other.isOpen());
        for (HidException e : new HidException[] {
            assertFails(Reason.CLOSED, () -> other.write(bytes(0, 1))),
            assertFails(Reason.CLOSED, () -> other.read(new byte[8], -1)),
            assertFails(Reason.CLOSED, () -> other.read(0)),
            assertFails(Reason.CLOSED, () -> other.sendFeatureReport(0, bytes(1))),
            assertFails(Reason.CLOSED, () -> other.setInputReportListener((device, report) -> { })),
        }) {
            assertTrue(e.getMessage().endsWith(" is closed"), e.getMessage());
        }
        assertEquals(VID, other.info().vendorId());   // what it was stays known
    }
}
