package com.orvanta.jni;

import static com.orvanta.jni.HIDClassConnector._enumerateDevices;
import static com.orvanta.jni.HIDClassConnector._free;
import static com.orvanta.jni.HIDClassConnector._hid_close;
import static com.orvanta.jni.HIDClassConnector._hid_open;
import static com.orvanta.jni.HIDClassConnector._hid_read;
import static com.orvanta.jni.HIDClassConnector._hid_write;
import static com.orvanta.jni.NativeSource.assertRaises;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.orvanta.jni.exceptions.HIDException;
import com.orvanta.testbed.EmulatedHid;
import java.util.Arrays;
import java.util.concurrent.atomic.AtomicReference;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

/** Handles, open, close, write and read through the real library and hidapi. */
class HandleIoTest extends Emulation {
    static final String OPEN_PATH = "_1hid_1open__JLjava_lang_String_2";
    static final String OPEN_IDS = "_1hid_1open__JII";
    static final String OPEN_IDS_REPORTED = "_1hid_1open";
    EmulatedHid.Device echo;
    EmulatedHid.Device silent;
    EmulatedHid.Device numbered;

    @BeforeEach
    void devices() {
        echo = emulator.add(VID, 0x0001, "Orvanta Labs", "Echo", "E-1", true, false);
        silent = emulator.add(VID, 0x0002, "Orvanta Labs", "Silent", "S-1", false, false);
        numbered = emulator.add(VID, 0x0003, "Orvanta Labs", "Numbered", "N-1", false, true);
    }

    @Test
    void handleZeroIsRejectedByEveryEntryPointButFree() {
        String invalid = "Invalid handle passed.";
        assertRaises(invalid, OPEN_PATH, () -> _hid_open(0, echo.path()));
        assertRaises(invalid, OPEN_IDS_REPORTED, OPEN_IDS, () -> _hid_open(0, VID, 1));
        assertRaises(invalid, "_1hid_1close", () -> _hid_close(0));
        assertRaises(invalid, "_1hid_1write", () -> _hid_write(0, bytes(0, 1)));
        assertRaises(invalid, "_1hid_1read", () -> _hid_read(0, 64));
        assertRaises(invalid, "_1enumerateDevices", () -> _enumerateDevices(0, 0, 0));
        _free(0);
    }

    @Test
    void openFailuresSayWhy() throws Exception {
        long h = handle();
        assertRaises("Path is invalid.", OPEN_PATH, () -> _hid_open(h, null));
        String unavailable = "requested device is unavailable.";
        assertRaises(unavailable, OPEN_PATH, () -> _hid_open(h, "/dev/hidraw-none"));
        assertRaises(unavailable, OPEN_PATH, () -> _hid_open(h, ""));
        assertRaises(unavailable, OPEN_IDS_REPORTED, OPEN_IDS, () -> _hid_open(h, VID, 0x7777));
        // 0/0 matches no device, though it enumerates all of them
        assertRaises(unavailable, OPEN_IDS_REPORTED, OPEN_IDS, () -> _hid_open(h, 0, 0));
    }

    @Test
    void writeNeedsDataAndAnOpenDevice() throws Exception {
        long h = handle();
        assertRaises("No data to write.", "_1hid_1write", () -> _hid_write(h, new byte[0]));
        assertRaises("No data to write.", "_1hid_1write", () -> _hid_write(h, null));
        assertRaises("Write to device failed.", "_1hid_1write", () -> _hid_write(h, bytes(0, 1)));
        assertRaises("Read from device failed.", "_1hid_1read", () -> _hid_read(h, 8));
        _hid_open(h, echo.path());
        _hid_close(h);
        _hid_close(h);
        assertRaises("Write to device failed.", "_1hid_1write", () -> _hid_write(h, bytes(0, 1)));
        assertRaises("Read from device failed.", "_1hid_1read", () -> _hid_read(h, 8));
        assertEquals(0, echo.pendingOutputs());
    }

    @Test
    void readLengthMustFitTheVm() throws Exception {
        long h = handle();
        _hid_open(h, echo.path());
        assertRaises("Read length is invalid.", "_1hid_1read", () -> _hid_read(h, -1));
        assertRaises("Read length is invalid.", "_1hid_1read", () -> _hid_read(h, Integer.MIN_VALUE));
        // no VM holds such an array: our own failure, and no report is consumed
        assertRaises("Unable to allocate memory.", "_1hid_1read", () -> _hid_read(h, Integer.MAX_VALUE));
        _hid_write(h, bytes(0, 42, 43));
        assertArrayEquals(bytes(42, 43, 0), _hid_read(h, 3));
    }

    @Test
    void bytesReachTheDeviceUnchanged() throws Exception {
        long h = handle();
        _hid_open(h, silent.path());
        byte[] report = new byte[65];
        for (int i = 1; i < report.length; i++) {
            report[i] = (byte) (i * 7);
        }
        _hid_write(h, report);
        assertArrayEquals(report, silent.popOutput(2000));
        byte[] all = new byte[256];
        for (int i = 0; i < all.length; i++) {
            all[i] = (byte) i;
        }
        _hid_write(h, all);
        assertArrayEquals(all, silent.popOutput(2000));

        _hid_open(h, numbered.path());
        _hid_write(h, bytes(5, 0xff, 0x80, 0x00));
        assertArrayEquals(bytes(5, 0xff, 0x80, 0x00), numbered.popOutput(2000));
    }

    @Test
    void readReturnsTheReportThenZeros() throws Exception {
        long h = handle();
        _hid_open(h, silent.path());
        assertEquals(0, silent.pushInput(bytes(9, 8, 7, 6)));
        byte[] in = _hid_read(h, 64);
        assertEquals(64, in.length);
        assertArrayEquals(bytes(9, 8, 7, 6), Arrays.copyOf(in, 4));
        assertArrayEquals(new byte[60], Arrays.copyOfRange(in, 4, 64));
        // a shorter buffer truncates; the next read gets the next report
        assertEquals(0, silent.pushInput(bytes(1, 2, 3, 4)));
        assertEquals(0, silent.pushInput(bytes(5)));
        assertArrayEquals(bytes(1, 2), _hid_read(h, 2));
        assertArrayEquals(bytes(5, 0), _hid_read(h, 2));

        _hid_open(h, numbered.path());
        assertEquals(0, numbered.pushInput(bytes(3, 0x10, 0x20)));
        assertArrayEquals(bytes(3, 0x10, 0x20, 0), _hid_read(h, 4));
    }

    @Test
    void echoRoundTripDropsReportIdZero() throws Exception {
        long h = handle();
        _hid_open(h, echo.path());
        for (int i = 0; i < 50; i++) {
            _hid_write(h, bytes(0, i, 255 - i));
            byte[] in = _hid_read(h, 64);
            assertEquals((byte) i, in[0]);
            assertEquals((byte) (255 - i), in[1]);
            assertEquals(0, in[2]);
        }
    }

    @Test
    void failedWriteLeavesTheHandleUsable() throws Exception {
        long h = handle();
        _hid_open(h, echo.path());
        // hidraw refuses reports shorter than 2 bytes
        assertRaises("Write to device failed.", "_1hid_1write", () -> _hid_write(h, bytes(0)));
        _hid_write(h, bytes(0, 77));
        assertEquals(77, _hid_read(h, 1)[0]);
    }

    @Test
    void openingClosesTheCurrentDeviceEvenWhenItFails() throws Exception {
        long h = handle();
        _hid_open(h, echo.path());
        assertRaises("requested device is unavailable.", OPEN_PATH, () -> _hid_open(h, "/dev/nothing"));
        assertRaises("Write to device failed.", "_1hid_1write", () -> _hid_write(h, bytes(0, 1)));
        // reopen without closing, and by IDs that differ above bit 15
        _hid_open(h, VID | 0x7fff0000, 0x0002 | 0x10000);
        _hid_open(h, echo.path());
        _hid_write(h, bytes(0, 5));
        assertEquals(5, _hid_read(h, 1)[0]);
    }

    @Test
    void idsAreCutToSixteenBits() throws Exception {
        long h = handle();
        _hid_open(h, VID - 0x10000, 0x0002 + 0x50000);
        _hid_write(h, bytes(0, 1, 2));
        assertArrayEquals(bytes(0, 1, 2), silent.popOutput(2000));
    }

    @Test
    void unplugEndsABlockingRead() throws Exception {
        EmulatedHid.Device gone = emulator.add(VID, 0x00aa, "Orvanta Labs", "Unplugged", "U-1", false, false);
        long h = handle();
        _hid_open(h, gone.path());
        AtomicReference<Throwable> outcome = new AtomicReference<>();
        Thread reader = new Thread(() -> {
            try {
                _hid_read(h, 64);
            } catch (Throwable t) {
                outcome.set(t);
            }
        });
        reader.start();
        reader.join(300);
        assertTrue(reader.isAlive(), "a read waits for a report");
        gone.unplug();
        reader.join(10_000);
        assertFalse(reader.isAlive(), "unplug must end the read");
        HIDException e = (HIDException) outcome.get();
        assertEquals("Read from device failed.", e.getMessage());
        assertRaises("Write to device failed.", "_1hid_1write", () -> _hid_write(h, bytes(0, 1)));
        _hid_close(h);
        assertRaises("requested device is unavailable.", OPEN_PATH, () -> _hid_open(h, gone.path()));
    }

    @Test
    void hidapiStaysInitialisedWhileAnyHandleLives() throws Exception {
        long first = handle();
        long second = handle();
        free(first);
        _hid_open(second, echo.path());
        _hid_write(second, bytes(0, 3));
        assertEquals(3, _hid_read(second, 1)[0]);
        free(second);
        // the last handle finalised hidapi; a new one starts it again
        long third = handle();
        _hid_open(third, echo.path());
        _hid_write(third, bytes(0, 4));
        assertEquals(4, _hid_read(third, 1)[0]);
    }

    @Test
    void exceptionShowsItsNativeLocation() {
        HIDException e = assertThrows(HIDException.class, () -> _hid_close(0));
        String text = e.toString();
        assertTrue(text.contains("Invalid handle passed."), text);
        assertTrue(text.contains("Java_com_orvanta_jni_HIDClassConnector__1hid_1close (portula.cpp:"), text);
        StackTraceElement top = e.getStackTrace()[0];
        assertEquals("portula.cpp", top.getFileName());
        assertEquals(e.getLine(), top.getLineNumber());
        assertNull(new HIDException("plain").getFunction());
    }
}
