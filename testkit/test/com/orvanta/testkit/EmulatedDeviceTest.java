package com.orvanta.testkit;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.orvanta.hid.Hid;
import com.orvanta.hid.HidDevice;
import com.orvanta.hid.HidDeviceInfo;
import com.orvanta.hid.HidDeviceInfo.BusType;
import com.orvanta.hid.HidException;
import com.orvanta.hid.HidWatch;
import com.orvanta.hid.HidWatchListener;
import java.nio.file.Files;
import java.nio.file.Paths;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.concurrent.BlockingQueue;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.Test;

/**
 * The kit's devices through portula's public API, as an application meets
 * them, in a JVM started as the kit's users start theirs.
 */
@WithHidEmulator
class EmulatedDeviceTest {
    /** Two top-level collections: hidapi lists the device once for each. */
    static final byte[] KEYBOARD_AND_CONSUMER = bytes(
            0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x85, 0x01, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02, 0xC0,
            0x05, 0x0C, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x02, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02, 0xC0);

    @Test
    void eachBusIsListedAsHidapiListsARealDevice(HidEmulator hid) throws Exception {
        EmulatedDevice usb = hid.plug(DeviceSpec.builder(0x1209, 0x0001).manufacturer("Orvanta Labs")
                .product("Keys \u00e9 \u4e2d").serialNumber("K-1").releaseNumber(0x0123).interfaceNumber(2)
                .reportDescriptor(KEYBOARD_AND_CONSUMER).nodePermissions(PosixFilePermissions.fromString("rw-------"))
                .build());
        List<EmulatedDevice> others = new ArrayList<>();
        for (BusType bus : new BusType[] {BusType.BLUETOOTH, BusType.I2C, BusType.SPI}) {
            others.add(hid.plug(DeviceSpec.builder(0x1209, 0x0010 + bus.ordinal()).busType(bus)
                    .product(bus + " pad").serialNumber("aa:bb:" + bus.ordinal()).build()));
        }
        Map<String, List<HidDeviceInfo>> listed = new HashMap<>();
        for (HidDeviceInfo info : Hid.devices(0x1209, 0)) {
            listed.computeIfAbsent(info.path(), path -> new ArrayList<>()).add(info);
        }
        assertEquals(4, listed.size(), listed.toString());
        List<HidDeviceInfo> twice = listed.get(usb.path());
        assertEquals(2, twice.size(), twice.toString());
        assertEquals(usb.path() + " 1209:0001 \"Orvanta Labs\" \"Keys \u00e9 \u4e2d\" serial \"K-1\" release 0x0123"
                + " usage 0001:0006 interface 2 USB", twice.get(0).toString());
        assertEquals("usage 000c:0001", twice.get(1).toString().replaceAll(".*(usage \\S+).*", "$1"));
        for (EmulatedDevice device : others) {
            assertEquals(1, listed.get(device.path()).size());
            HidDeviceInfo info = listed.get(device.path()).get(0);
            DeviceSpec spec = device.spec();
            assertEquals(spec.busType(), info.busType());
            assertEquals(spec.productId(), info.productId());
            assertEquals(spec.product(), info.product());
            assertEquals(spec.serialNumber(), info.serialNumber());
            assertNull(info.manufacturer());
            assertEquals(0, info.releaseNumber());
            assertEquals(-1, info.interfaceNumber());
            try (HidDevice open = Hid.open(device.path())) {
                assertEquals(info, open.info(), "the open device's own record");
            }
        }
        // the node as the spec says; this JVM, as root, opens it anyway
        assertEquals("rw-------", PosixFilePermissions.toString(Files.getPosixFilePermissions(Paths.get(usb.path()))));
        assertArrayEquals(KEYBOARD_AND_CONSUMER, Hid.reportDescriptor(twice.get(0)));
    }

    @Test
    void reportsGoBothWaysAsTheApplicationSeesThem(HidEmulator hid) throws Exception {
        EmulatedDevice echo = hid.plug(DeviceSpec.builder(0x1209, 0x0020).product("Plain").build());
        try (HidDevice device = Hid.open(echo.path())) {
            assertTrue(echo.pushInputReport(bytes(1, 2, 3)));
            assertArrayEquals(bytes(1, 2, 3), device.read(1000));
            device.write(bytes(0, 9, 8));
            device.write(bytes(0, 7));
            assertArrayEquals(bytes(0, 9, 8), echo.pollOutputReport(1, TimeUnit.SECONDS));
            assertArrayEquals(bytes(0, 7), echo.pollOutputReport(0, TimeUnit.SECONDS));
            long start = System.nanoTime();
            assertNull(echo.pollOutputReport(200, TimeUnit.MILLISECONDS));
            assertTrue(System.nanoTime() - start >= TimeUnit.MILLISECONDS.toNanos(190));
            // the kernel's 64 unread reports, and no more
            for (int i = 0; i < 64; i++) {
                assertTrue(echo.pushInputReport(bytes(i)), "report " + i);
            }
            assertFalse(echo.pushInputReport(bytes(64)));
            for (int i = 0; i < 64; i++) {
                assertArrayEquals(bytes(i), device.read(1000));
            }
            assertArrayEquals(new byte[0], device.read(0));
        }
        // a waiting poll ends when its thread is interrupted
        Thread waiter = Thread.currentThread();
        Thread interrupter = new Thread(() -> {
            sleep(100);
            waiter.interrupt();
        });
        interrupter.start();
        long start = System.nanoTime();
        assertThrows(InterruptedException.class, () -> echo.pollFeatureReport(10, TimeUnit.SECONDS));
        assertTrue(System.nanoTime() - start < TimeUnit.SECONDS.toNanos(2));
        interrupter.join();
        assertThrows(IllegalArgumentException.class, () -> echo.pushInputReport(new byte[16385]));
        assertThrows(NullPointerException.class, () -> echo.pushInputReport(null));
    }

    @Test
    void requestsAreAnsweredOnTheEmulatorsThreadWithinTheLimit(HidEmulator hid) throws Exception {
        EmulatedDevice device = hid.plug(DeviceSpec.builder(0x1209, 0x0030).numberedReports().build());
        BlockingQueue<String> asked = new LinkedBlockingQueue<>();
        CountDownLatch slowMayEnd = new CountDownLatch(1);
        device.answerFeatureRequests(id -> {
            asked.add(Thread.currentThread().getName() + " feature " + id);
            if (id == 4) {
                throw new IllegalStateException("no report 4");
            }
            if (id == 5) {
                await(slowMayEnd);
            }
            return id == 3 ? bytes(0xA, 0xB, 0xC) : id == 6 ? new byte[100] : null;
        });
        device.answerInputRequests(id -> bytes(id * 2));
        List<Throwable> uncaught = new ArrayList<>();
        Thread.UncaughtExceptionHandler before = Thread.getDefaultUncaughtExceptionHandler();
        Thread.setDefaultUncaughtExceptionHandler((thread, e) -> uncaught.add(e));
        try (HidDevice open = Hid.open(device.path())) {
            assertArrayEquals(bytes(3, 0xA, 0xB, 0xC), open.getFeatureReport(3, 16));
            assertArrayEquals(bytes(3, 0xA), open.getFeatureReport(3, 2), "cut to the length asked for");
            assertEquals(17, open.getFeatureReport(6, 17).length);
            assertArrayEquals(bytes(7, 14), open.getInputReport(7, 16));
            assertEquals("portula-emulator feature 3", asked.poll());
            for (int id : new int[] {9, 4}) {   // null, and an exception: the request stalls
                assertEquals(HidException.Reason.IO,
                        assertThrows(HidException.class, () -> open.getFeatureReport(id, 16)).reason());
            }
            assertEquals(1, uncaught.size(), uncaught.toString());
            assertEquals("no report 4", uncaught.get(0).getMessage());
            long start = System.nanoTime();
            assertThrows(HidException.class, () -> open.getFeatureReport(5, 16));
            long waited = TimeUnit.NANOSECONDS.toMillis(System.nanoTime() - start);
            assertTrue(waited >= EmulatedDevice.REQUEST_TIME_LIMIT_MILLIS - 50 && waited < 2500, waited + " ms");
            slowMayEnd.countDown();
            // the feature reports sent, in order; without a function, a request gets the last one
            open.sendFeatureReport(3, bytes(1, 1));
            open.sendFeatureReport(3, bytes(2, 2));
            assertArrayEquals(bytes(3, 1, 1), device.pollFeatureReport(1, TimeUnit.SECONDS));
            assertArrayEquals(bytes(3, 2, 2), device.pollFeatureReport(1, TimeUnit.SECONDS));
            assertNull(device.pollFeatureReport(0, TimeUnit.SECONDS));
            device.answerFeatureRequests(null);
            assertArrayEquals(bytes(3, 2, 2), open.getFeatureReport(3, 16));
            assertEquals(HidException.Reason.IO,
                    assertThrows(HidException.class, () -> open.getFeatureReport(8, 16)).reason());
        } finally {
            Thread.setDefaultUncaughtExceptionHandler(before);
        }
    }

    @Test
    void unplugAndReplugAreHotPlug(HidEmulator hid) throws Exception {
        BlockingQueue<String> heard = new LinkedBlockingQueue<>();
        HidWatchListener listener = new HidWatchListener() {
            @Override
            public void attached(HidDeviceInfo device) {
                heard.add("+" + device.product());
            }

            @Override
            public void detached(HidDeviceInfo device) {
                heard.add("-" + device.path());
            }
        };
        HidWatch watch = Hid.watch(listener, false, 0x1209, 0x0040);
        try {
            EmulatedDevice device = hid.plug(DeviceSpec.builder(0x1209, 0x0040).product("Hot").build());
            assertEquals("+Hot", heard.poll(10, TimeUnit.SECONDS));
            HidDevice open = Hid.open(0x1209, 0x0040);
            try {
                device.unplug();
                assertFalse(device.isPlugged());
                assertEquals("-" + device.path(), heard.poll(10, TimeUnit.SECONDS));
                assertEquals(HidException.Reason.DEVICE_GONE,
                        assertThrows(HidException.class, () -> open.read(1000)).reason());
                assertThrows(IllegalStateException.class, () -> device.pushInputReport(bytes(6)));
                assertEquals(0, Hid.devices(0x1209, 0x0040).size());
                device.replug();
                assertEquals("+Hot", heard.poll(10, TimeUnit.SECONDS));
            } finally {
                open.close();
            }
            try (HidDevice again = Hid.open(0x1209, 0x0040)) {
                device.pushInputReport(bytes(7));
                assertArrayEquals(bytes(7), again.read(1000));
            }
        } finally {
            watch.close();
        }
    }

    static byte[] bytes(int... values) {
        byte[] b = new byte[values.length];
        for (int i = 0; i < values.length; i++) {
            b[i] = (byte) values[i];
        }
        return b;
    }

    static void sleep(long millis) {
        try {
            Thread.sleep(millis);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    static void await(CountDownLatch latch) {
        try {
            latch.await(10, TimeUnit.SECONDS);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }
}
