package com.orvanta.jni;

import static com.orvanta.jni.HIDClassConnector._enumerateDevices;
import static com.orvanta.jni.HIDClassConnector._hid_close;
import static com.orvanta.jni.HIDClassConnector._hid_open;
import static com.orvanta.jni.HIDClassConnector._hid_read;
import static com.orvanta.jni.HIDClassConnector._hid_write;
import static com.orvanta.jni.HandleIoTest.OPEN_IDS;
import static com.orvanta.jni.HandleIoTest.OPEN_IDS_REPORTED;
import static com.orvanta.jni.HandleIoTest.OPEN_PATH;
import static com.orvanta.jni.NativeSource.assertRaises;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.orvanta.jni.exceptions.HIDException;
import com.orvanta.testbed.EmulatedHid;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;
import java.util.concurrent.atomic.AtomicReference;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

/**
 * Inputs and faults outside the ordinary path, each with its exact outcome;
 * docs/bad-inputs.md lists them with those that other classes cover.
 */
class BadInputsTest extends Emulation {
    static final String UNAVAILABLE = "requested device is unavailable.";
    static final String WRITE_FAILED = "Write to device failed.";
    static final String READ_FAILED = "Read from device failed.";
    EmulatedHid.Device echo;
    EmulatedHid.Device silent;
    EmulatedHid.Device numbered;
    EmulatedHid.Device allOnes;

    @BeforeEach
    void devices() {
        echo = emulator.add(VID, 0x0101, "Orvanta Labs", "Echo", "E-1", true, false);
        silent = emulator.add(VID, 0x0102, "Orvanta Labs", "Silent", "S-1", false, false);
        numbered = emulator.add(VID, 0x0103, "Orvanta Labs", "Numbered", "N-1", false, true);
        allOnes = emulator.add(0xFFFF, 0xFFFF, "All ones", "ffff:ffff", "F-1", false, false);
    }

    private static void assertOpenFails(long h, String path) {
        assertRaises(UNAVAILABLE, OPEN_PATH, () -> _hid_open(h, path));
        // a failed open leaves the handle closed, not broken
        assertRaises(WRITE_FAILED, "_1hid_1write", () -> _hid_write(h, bytes(0, 1)));
    }

    @Test
    void pathsThatAreNoHidrawNodeDoNotOpen() throws Exception {
        long h = handle();
        // these open, but answer no hidraw ioctl
        assertOpenFails(h, "/dev/null");
        assertOpenFails(h, "/etc/passwd");
        // these do not open at all
        assertOpenFails(h, System.getProperty("java.io.tmpdir"));
        assertOpenFails(h, "/dev/" + "x".repeat(10_000 - 5));
        assertEquals(10_000, ("/dev/" + "x".repeat(10_000 - 5)).length());
        // a file, not @TempDir: 32-bit VMs under qemu-user cannot list some directories
        Path plain = Files.writeString(Files.createTempFile("portula-", ".txt"), "not a device");
        plain.toFile().deleteOnExit();
        assertOpenFails(h, plain.toString());
        // the handle still opens a real device afterwards
        _hid_open(h, echo.path());
        _hid_write(h, bytes(0, 9));
        assertEquals(9, _hid_read(h, 1)[0]);
    }

    @Test
    void idsOutsideSixteenBitsOpenWhatTheirLowBitsName() throws Exception {
        long h = handle();
        // -1 is 0xFFFF in 16 bits: the all-ones device
        _hid_open(h, -1, -1);
        _hid_write(h, bytes(0, 0x11));
        assertArrayEquals(bytes(0, 0x11), allOnes.popOutput(2000));
        _hid_open(h, Integer.MAX_VALUE, Integer.MAX_VALUE);
        _hid_write(h, bytes(0, 0x12));
        assertArrayEquals(bytes(0, 0x12), allOnes.popOutput(2000));
        // whole multiples of 0x10000 are 0/0, which matches no device
        assertRaises(UNAVAILABLE, OPEN_IDS_REPORTED, OPEN_IDS, () -> _hid_open(h, Integer.MIN_VALUE, Integer.MIN_VALUE));
        assertRaises(UNAVAILABLE, OPEN_IDS_REPORTED, OPEN_IDS, () -> _hid_open(h, 0x10000, 0x10000));
        assertRaises(UNAVAILABLE, OPEN_IDS_REPORTED, OPEN_IDS, () -> _hid_open(h, -0x10000 + VID, -2));
        assertRaises(READ_FAILED, "_1hid_1read", () -> _hid_read(h, 8));
    }

    @Test
    void enumerationIdsOutsideSixteenBits() throws Exception {
        long h = handle();
        // cut to 0/0, which enumerates every device
        assertEquals(4, _enumerateDevices(h, 0x10000, 0x10000).length);
        assertEquals(4, _enumerateDevices(h, Integer.MIN_VALUE, Integer.MIN_VALUE).length);
        HIDDevice[] ones = _enumerateDevices(h, Integer.MAX_VALUE, -1);
        assertEquals(1, ones.length);
        assertEquals(allOnes.path(), ones[0].getPath());
        // a product ID alone, with vendor 0: hidapi takes 0 as "any vendor"
        HIDDevice[] byProduct = _enumerateDevices(h, 0, 0x0102);
        assertEquals(1, byProduct.length);
        assertEquals(silent.path(), byProduct[0].getPath());
    }

    @Test
    void writeSizesAtAndPastWhatHidrawTakes() throws Exception {
        long h = handle();
        _hid_open(h, silent.path());
        byte[] largest = new byte[16_384];
        Arrays.fill(largest, (byte) 0x5a);
        largest[0] = 0;
        _hid_write(h, largest);
        assertArrayEquals(largest, silent.popOutput(2000));
        assertRaises(WRITE_FAILED, "_1hid_1write", () -> _hid_write(h, new byte[16_385]));
        assertRaises(WRITE_FAILED, "_1hid_1write", () -> _hid_write(h, new byte[20_000]));
        assertRaises(WRITE_FAILED, "_1hid_1write", () -> _hid_write(h, new byte[1]));
        assertEquals(0, silent.pendingOutputs(), "a refused report reaches nothing");
        // still open: the next good report goes through
        _hid_write(h, bytes(0, 1, 2));
        assertArrayEquals(bytes(0, 1, 2), silent.popOutput(2000));
    }

    @Test
    void readOfZeroBytesConsumesOneReport() throws Exception {
        long h = handle();
        _hid_open(h, silent.path());
        assertEquals(0, silent.pushInput(bytes(1, 2, 3)));
        assertEquals(0, silent.pushInput(bytes(4, 5, 6)));
        byte[] none = _hid_read(h, 0);
        assertEquals(0, none.length);
        assertArrayEquals(bytes(4, 5, 6, 0), _hid_read(h, 4));
    }

    @Test
    void readOfOneByteKeepsOnlyTheReportId() throws Exception {
        long h = handle();
        _hid_open(h, numbered.path());
        assertEquals(0, numbered.pushInput(bytes(2, 0x20, 0x21)));
        assertArrayEquals(bytes(2), _hid_read(h, 1));
        // the rest of that report is gone, not left for the next read
        assertEquals(0, numbered.pushInput(bytes(1, 0x10)));
        assertArrayEquals(bytes(1, 0x10), _hid_read(h, 2));
    }

    @Test
    void readLengthMaxValueLeavesTheReportQueued() throws Exception {
        long h = handle();
        _hid_open(h, silent.path());
        long delivered = silent.reads();
        assertEquals(0, silent.pushInput(bytes(7, 7)));
        for (int i = 0; i < 3; i++) {
            assertRaises("Unable to allocate memory.", "_1hid_1read", () -> _hid_read(h, Integer.MAX_VALUE));
        }
        assertArrayEquals(bytes(7, 7), _hid_read(h, 2));
        assertEquals(delivered + 1, silent.reads());
    }

    @Test
    void readAfterAFailedOpenFails() throws Exception {
        long h = handle();
        _hid_open(h, echo.path());
        _hid_write(h, bytes(0, 3));
        assertRaises(UNAVAILABLE, OPEN_IDS_REPORTED, OPEN_IDS, () -> _hid_open(h, VID, 0x7777));
        assertRaises(READ_FAILED, "_1hid_1read", () -> _hid_read(h, 8));
        // the echoed report stays with the device for the next opener
        _hid_open(h, echo.path());
        assertArrayEquals(bytes(3, 0), _hid_read(h, 2));
    }

    @Test
    void closeOfAClosedOrFailedHandleIsHarmless() throws Exception {
        long h = handle();
        _hid_close(h);
        assertRaises(UNAVAILABLE, OPEN_PATH, () -> _hid_open(h, "/dev/null"));
        _hid_close(h);
        _hid_close(h);
        assertRaises(READ_FAILED, "_1hid_1read", () -> _hid_read(h, 1));
        free(h);
        // freeing the last handle shut hidapi down; a new handle works
        long again = handle();
        _hid_open(again, echo.path());
        _hid_write(again, bytes(0, 4));
        assertEquals(4, _hid_read(again, 1)[0]);
    }

    @Test
    void unpluggedBeforeOpenIsUnavailable() throws Exception {
        EmulatedHid.Device gone = emulator.add(VID, 0x01a1, "Orvanta Labs", "Gone", "G-1", true, false);
        String path = gone.path();
        gone.unplug();
        long h = handle();
        assertRaises(UNAVAILABLE, OPEN_IDS_REPORTED, OPEN_IDS, () -> _hid_open(h, VID, 0x01a1));
        assertOpenFails(h, path);
        assertEquals(0, _enumerateDevices(h, VID, 0x01a1).length);
    }

    @Test
    void unplugBetweenWriteAndReadKeepsTheQueuedReportThenFails() throws Exception {
        EmulatedHid.Device gone = emulator.add(VID, 0x01a2, "Orvanta Labs", "Gone", "G-2", true, false);
        long h = handle();
        _hid_open(h, gone.path());
        _hid_write(h, bytes(0, 1, 2));
        assertArrayEquals(bytes(0, 1, 2), gone.popOutput(2000));
        gone.unplug();
        assertArrayEquals(bytes(1, 2, 0), _hid_read(h, 3));   // as hidraw: the queue first
        assertRaises(READ_FAILED, "_1hid_1read", () -> _hid_read(h, 64));
        assertRaises(READ_FAILED, "_1hid_1read", () -> _hid_read(h, 64));
        assertRaises(WRITE_FAILED, "_1hid_1write", () -> _hid_write(h, bytes(0, 1)));
        assertEquals(-1, gone.pushInput(bytes(1)));
    }

    @Test
    void replugNeedsAReopen() throws Exception {
        EmulatedHid.Device flaky = emulator.add(VID, 0x01a3, "Orvanta Labs", "Flaky", "F-3", true, false);
        long before = handle();
        long reopened = handle();
        _hid_open(before, flaky.path());
        _hid_open(reopened, flaky.path());
        flaky.unplug();
        flaky.replug();
        assertTrue(flaky.plugged());
        // handles opened before the unplug stay dead
        assertRaises(WRITE_FAILED, "_1hid_1write", () -> _hid_write(before, bytes(0, 1)));
        assertRaises(READ_FAILED, "_1hid_1read", () -> _hid_read(before, 4));
        assertEquals(0, flaky.writes());
        // the same path opens again, on a handle that held the old device
        _hid_open(reopened, flaky.path());
        _hid_write(reopened, bytes(0, 0x42));
        assertArrayEquals(bytes(0x42, 0), _hid_read(reopened, 2));
        HIDDevice[] listed = _enumerateDevices(reopened, VID, 0x01a3);
        assertEquals(1, listed.length);
        assertEquals(flaky.path(), listed[0].getPath());
        // and by IDs
        _hid_open(before, VID, 0x01a3);
        _hid_write(before, bytes(0, 0x43));
        assertArrayEquals(bytes(0x43), _hid_read(before, 1));
    }

    @Test
    void unplugDuringAReadOnAnotherHandleLeavesThisOneDeadToo() throws Exception {
        EmulatedHid.Device gone = emulator.add(VID, 0x01a4, "Orvanta Labs", "Gone", "G-4", false, false);
        long h = handle();
        long idle = handle();
        _hid_open(h, gone.path());
        _hid_open(idle, gone.path());
        AtomicReference<Object> outcome = new AtomicReference<>();
        Thread reader = new Thread(() -> {
            try {
                outcome.set(_hid_read(h, 64));
            } catch (Throwable t) {
                outcome.set(t);
            }
        });
        reader.start();
        reader.join(300);
        assertTrue(reader.isAlive());
        gone.unplug();
        reader.join(10_000);
        assertFalse(reader.isAlive());
        assertEquals(READ_FAILED, ((HIDException) outcome.get()).getMessage());
        assertRaises(READ_FAILED, "_1hid_1read", () -> _hid_read(idle, 64));
        _hid_close(idle);
        _hid_close(h);
        assertNull(gone.popOutput(0));
    }
}
