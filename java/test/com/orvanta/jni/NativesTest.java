package com.orvanta.jni;

import static com.orvanta.jni.NativeSource.assertRaisesIn;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.orvanta.jni.exceptions.HIDException;
import com.orvanta.testbed.EmulatedHid;
import java.util.Arrays;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.Test;

/**
 * HIDNatives' own failures, each from its place in the bridge with hidapi's
 * text beside it, and what they return. (com.orvanta.hid's tests cover their
 * ordinary use.)
 */
class NativesTest extends Emulation {
    static final String INVALID = "Invalid handle passed.";

    @Test
    void eachNativeRejectsHandleZeroFromItsOwnPlace() {
        byte[] b = new byte[8];
        assertRaisesIn("reports.cpp", INVALID, "_1hid_1read_1timeout0", () -> HIDNatives._hid_read_timeout(0, b, 0, 8, 0));
        assertRaisesIn("reports.cpp", INVALID, "_1hid_1send_1feature_1report",
                () -> HIDNatives._hid_send_feature_report(0, b));
        assertRaisesIn("reports.cpp", INVALID, "_1hid_1get_1feature_1report",
                () -> HIDNatives._hid_get_feature_report(0, 1, 8));
        assertRaisesIn("reports.cpp", INVALID, "_1hid_1get_1input_1report",
                () -> HIDNatives._hid_get_input_report(0, 1, 8));
        assertRaisesIn("details.cpp", INVALID, "_1hid_1get_1manufacturer_1string",
                () -> HIDNatives._hid_get_manufacturer_string(0));
        assertRaisesIn("details.cpp", INVALID, "_1hid_1get_1product_1string",
                () -> HIDNatives._hid_get_product_string(0));
        assertRaisesIn("details.cpp", INVALID, "_1hid_1get_1serial_1number_1string",
                () -> HIDNatives._hid_get_serial_number_string(0));
        assertRaisesIn("details.cpp", INVALID, "_1hid_1get_1indexed_1string",
                () -> HIDNatives._hid_get_indexed_string(0, 1));
        assertRaisesIn("details.cpp", INVALID, "_1hid_1get_1device_1info", () -> HIDNatives._hid_get_device_info(0));
        assertRaisesIn("details.cpp", INVALID, "_1hid_1error", () -> HIDNatives._hid_error(0));
        assertRaisesIn("details.cpp", INVALID, "_1hid_1errno", () -> HIDNatives._hid_errno(0));
        assertRaisesIn("details.cpp", INVALID, "_1hid_1get_1report_1descriptor",
                () -> HIDNatives._hid_get_report_descriptor(0, "/dev/hidraw0"));
        assertRaisesIn("details.cpp", INVALID, "_1hid_1get_1raw_1info",
                () -> HIDNatives._hid_get_raw_info(0, "/dev/hidraw0", b, b));
        HIDNatives._hid_wake(0);   // nothing to wake: no exception
        assertEquals(false, HIDNatives._hid_wake_works(0));
    }

    @Test
    void badArgumentsAndFailuresSayWhichAndCarryHidapisText() throws Exception {
        EmulatedHid.Device numbered = emulator.add(VID, 0x0003, "Orvanta Labs", "Numbered", "N-1", false, true);
        long h = handle();
        byte[] b = new byte[8];
        String read = "_1hid_1read_1timeout0";   // Java checks the bounds, its native raises
        assertRaisesIn("reports.cpp", "Buffer is invalid.", read, () -> HIDNatives._hid_read_timeout(h, null, 0, 8, 0));
        assertRaisesIn("reports.cpp", "Buffer is invalid.", read, () -> HIDNatives._hid_read_timeout(h, b, 4, 5, 0));
        assertRaisesIn("reports.cpp", "Buffer is invalid.", read, () -> HIDNatives._hid_read_timeout(h, b, -1, 1, 0));
        assertRaisesIn("reports.cpp", "Buffer is invalid.", read, () -> HIDNatives._hid_read_timeout(h, b, 0, 0, 0));
        // no device open: hidapi's text is that of the handle's last open or listing
        assertRaisesIn("reports.cpp", "Read from device failed.", read, () -> HIDNatives._hid_read_timeout(h, b, 0, 8, 0));
        String get = "_1hid_1get_1feature_1report";
        assertRaisesIn("reports.cpp", "Report ID is invalid.", get, () -> HIDNatives._hid_get_feature_report(h, 256, 8));
        assertRaisesIn("reports.cpp", "Report length is invalid.", get, () -> HIDNatives._hid_get_feature_report(h, 1, 0));
        assertRaisesIn("reports.cpp", "Report length is invalid.", get,
                () -> HIDNatives._hid_get_feature_report(h, 1, 16384));
        assertRaisesIn("reports.cpp", "No data to write.", "_1hid_1send_1feature_1report",
                () -> HIDNatives._hid_send_feature_report(h, new byte[0]));
        assertRaisesIn("details.cpp", "Path is invalid.", "_1hid_1get_1report_1descriptor",
                () -> HIDNatives._hid_get_report_descriptor(h, null));
        assertRaisesIn("details.cpp", "Report descriptor is unavailable.", "_1hid_1get_1report_1descriptor",
                () -> HIDNatives._hid_get_report_descriptor(h, "/dev/null"));
        assertEquals(19, HIDNatives._hid_errno(h));   // no hidraw node: ENODEV

        HIDClassConnector._hid_open(h, numbered.path());
        HIDException stalled = assertRaisesIn("reports.cpp", "Get feature report failed.", get,
                () -> HIDNatives._hid_get_feature_report(h, 9, 8));
        assertTrue(stalled.getHidapiError().startsWith("ioctl (GFEATURE): "), stalled.toString());
        assertEquals(stalled.getHidapiError(), HIDNatives._hid_error(h));
        assertTrue(stalled.toString().contains(" (hidapi: ioctl (GFEATURE): "), stalled.toString());
        HIDException indexed = assertRaisesIn("details.cpp", "Device string is unavailable.", "_1hid_1get_1indexed_1string",
                () -> HIDNatives._hid_get_indexed_string(h, 1));
        assertEquals("hid_get_indexed_string: not supported by hidraw", indexed.getHidapiError());

        // a buffer the report does not fit is refused before the report is taken
        numbered.pushInput(new byte[] {7, 1, 2, 3, 4, 5, 6});
        assertRaisesIn("reports.cpp", "Buffer is invalid.", read, () -> HIDNatives._hid_read_timeout(h, b, 2, 7, 500));
        assertEquals(7, HIDNatives._hid_read_timeout(h, b, 1, 7, 500));
        assertArrayEquals(new byte[] {0, 7, 1, 2, 3, 4, 5, 6}, b);

        numbered.setFeatureReport(new byte[] {3, 4, 5});
        assertArrayEquals(new byte[] {3, 4, 5}, HIDNatives._hid_get_feature_report(h, 3, 17));
        assertEquals(0, HIDNatives._hid_read_timeout(h, b, 0, 8, 0));   // nothing came: 0, no exception
    }

    @Test
    void aWakeEndsAWaitingReadAtOnceOrTheNextOne() throws Exception {
        EmulatedHid.Device device = emulator.add(VID, 0x0004, "Orvanta Labs", "Quiet", "Q-1", false, false);
        long h = handle();
        HIDClassConnector._hid_open(h, device.path());
        assertTrue(HIDNatives._hid_wake_works(h), "eventfd and poll work here");
        byte[] b = new byte[8];
        ExecutorService reader = Executors.newSingleThreadExecutor();
        try {
            for (int timeout : new int[] {-1, 60_000}) {
                Future<Integer> waiting = reader.submit(() -> HIDNatives._hid_read_timeout(h, b, 0, 8, timeout));
                Thread.sleep(100);
                long start = System.nanoTime();
                HIDNatives._hid_wake(h);
                assertEquals(0, (int) waiting.get(10, TimeUnit.SECONDS));
                long took = System.nanoTime() - start;
                System.out.printf("NativesTest: a wake ended a read (timeout %d) in %.2f ms%n", timeout, took / 1e6);
                assertTrue(took < TimeUnit.MILLISECONDS.toNanos(200), took / 1e6 + " ms");
            }
        } finally {
            reader.shutdownNow();
        }
        HIDNatives._hid_wake(h);   // with no read under way: the next one
        assertEquals(0, HIDNatives._hid_read_timeout(h, b, 0, 8, -1));
        device.pushInput(new byte[] {1, 2});
        assertEquals(2, HIDNatives._hid_read_timeout(h, b, 0, 8, -1));   // woken once only
    }

    @Test
    void theSystemsErrorNumberTellsFailuresApart() throws Exception {
        EmulatedHid.Device numbered = emulator.add(VID, 0x0003, "Orvanta Labs", "Numbered", "N-1", false, true);
        long h = handle();
        assertThrows(HIDException.class, () -> HIDClassConnector._hid_open(h, "/dev/hidraw-none"));
        assertEquals(2, HIDNatives._hid_errno(h));   // ENOENT
        assertThrows(HIDException.class, () -> HIDClassConnector._hid_open(h, "/dev/null"));
        assertEquals(19, HIDNatives._hid_errno(h));   // not a hidraw node: ENODEV
        HIDClassConnector._hid_open(h, numbered.path());
        assertEquals(0, HIDNatives._hid_errno(h));
        assertRaisesIn("reports.cpp", "Get feature report failed.", "_1hid_1get_1feature_1report",
                () -> HIDNatives._hid_get_feature_report(h, 9, 8));
        assertEquals(32, HIDNatives._hid_errno(h));   // the device stalled: EPIPE
        assertRaisesIn("details.cpp", "Device string is unavailable.", "_1hid_1get_1indexed_1string",
                () -> HIDNatives._hid_get_indexed_string(h, 1));
        assertEquals(0, HIDNatives._hid_errno(h));   // hidapi's own refusal
        byte[] b = new byte[8];
        numbered.unplug();
        // waiting in poll, the hang-up: no errno; writes and requests: ENODEV
        assertRaisesIn("reports.cpp", "Read from device failed.", "_1hid_1read_1timeout0",
                () -> HIDNatives._hid_read_timeout(h, b, 0, 8, 1000));
        assertEquals(0, HIDNatives._hid_errno(h));
        assertThrows(HIDException.class, () -> HIDClassConnector._hid_write(h, new byte[] {1, 2}));
        assertEquals(19, HIDNatives._hid_errno(h));
        assertRaisesIn("reports.cpp", "Send feature report failed.", "_1hid_1send_1feature_1report",
                () -> HIDNatives._hid_send_feature_report(h, new byte[] {3, 1}));
        assertEquals(19, HIDNatives._hid_errno(h));
        // hidapi's read without limit, straight in read(): EIO, of a device whose sysfs entry is gone
        assertThrows(HIDException.class, () -> HIDClassConnector._hid_read(h, 8));
        assertEquals(19, HIDNatives._hid_errno(h));
    }

    @Test
    void theOpenDeviceDescribesItself() throws Exception {
        EmulatedHid.Device d = emulator.device(VID, 0x0042).release(0x0321).interfaceNumber(3)
                .manufacturer("Orvanta \u00e9").product("Widget \ud83d\ude00").serial("W-1").add();
        EmulatedHid.Device bare = emulator.device(VID, 0x0043).add();
        long h = handle();
        HIDClassConnector._hid_open(h, d.path());
        assertEquals("Orvanta \u00e9", HIDNatives._hid_get_manufacturer_string(h));
        assertEquals("Widget \ud83d\ude00", HIDNatives._hid_get_product_string(h));
        assertEquals("W-1", HIDNatives._hid_get_serial_number_string(h));
        HIDDevice info = HIDNatives._hid_get_device_info(h);
        assertEquals(d.path(), info.getPath());
        assertEquals(0x0042, info.getProduct_id());
        assertEquals(0x0321, info.getRelease_number());
        assertEquals(3, info.getInterface_number());
        assertEquals(0xFF00, info.getUsage_page());
        assertEquals(1, info.getBus_type());
        // the same record as the enumeration's
        assertEquals(HidapiReference.of(HIDClassConnector._enumerateDevices(h, VID, 0x0042)[0]), HidapiReference.of(info));
        HIDClassConnector._hid_open(h, bare.path());
        assertEquals("", HIDNatives._hid_get_manufacturer_string(h));
        assertNull(HIDNatives._hid_get_device_info(h).getManufacturer());
    }

    @Test
    void theKernelsRecordOfANodeFromItsIoctls() throws Exception {
        EmulatedHid.Device d = emulator.device(VID, 0x8042).interfaceNumber(2).manufacturer("Orvanta \u00e9")
                .product("Widget").add();
        EmulatedHid.Device bare = emulator.device(VID, 0x0043).add();
        long h = handle();   // no device open: the node is opened for the ioctls alone
        byte[] name = new byte[256];
        byte[] phys = new byte[256];
        assertArrayEquals(new int[] {3, VID, 0x8042}, HIDNatives._hid_get_raw_info(h, d.path(), name, phys));
        assertEquals("Orvanta \u00e9 Widget", text(name));
        assertTrue(text(phys).matches("usb-0000:00:14\\.0-[0-9]+/input2"), text(phys));
        assertEquals(0, HIDNatives._hid_errno(h));
        // cut to fit, the last byte 0; what the arrays hold beyond 256 bytes stays
        byte[] shortName = {9, 9, 9, 9, 9};
        byte[] longPhys = new byte[300];
        Arrays.fill(longPhys, (byte) 9);
        HIDNatives._hid_get_raw_info(h, d.path(), shortName, longPhys);
        assertArrayEquals(new byte[] {'O', 'r', 'v', 'a', 0}, shortName);
        assertEquals(text(phys), text(longPhys));
        assertEquals(9, longPhys[299]);
        HIDNatives._hid_get_raw_info(h, bare.path(), name, phys);
        assertEquals("", text(name));   // no names: the kernel's is empty

        String raw = "_1hid_1get_1raw_1info";
        assertRaisesIn("details.cpp", "Path is invalid.", raw, () -> HIDNatives._hid_get_raw_info(h, null, name, phys));
        assertRaisesIn("details.cpp", "Buffer is invalid.", raw,
                () -> HIDNatives._hid_get_raw_info(h, d.path(), null, phys));
        assertRaisesIn("details.cpp", "Buffer is invalid.", raw,
                () -> HIDNatives._hid_get_raw_info(h, d.path(), name, new byte[1]));
        // what the node is not, by the system's error number
        // (qemu-user answers an ioctl it does not know for any file with ENOSYS, the kernel ENOTTY)
        Object[][] failures = {{"/dev/hidraw-none", 2}, {"/dev/null", 25}, {"/", 25}};
        for (Object[] f : failures) {
            assertRaisesIn("details.cpp", "Raw device info is unavailable.", raw,
                    () -> HIDNatives._hid_get_raw_info(h, (String) f[0], name, phys));
            int errno = HIDNatives._hid_errno(h);
            assertTrue(errno == (int) f[1] || (int) f[1] == 25 && errno == 38, f[0] + ": errno " + errno);
        }
        d.unplug();
        assertRaisesIn("details.cpp", "Raw device info is unavailable.", raw,
                () -> HIDNatives._hid_get_raw_info(h, d.path(), name, phys));
        int gone = HIDNatives._hid_errno(h);
        assertTrue(gone == 2 || gone == 19, "ENOENT or ENODEV once unplugged: " + gone);
    }

    /** The bytes before the first 0, as UTF-8. */
    private static String text(byte[] bytes) {
        int end = 0;
        while (end < bytes.length && bytes[end] != 0) {
            end++;
        }
        return new String(bytes, 0, end, java.nio.charset.StandardCharsets.UTF_8);
    }
}
