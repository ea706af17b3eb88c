package com.orvanta.jni;

import com.orvanta.jni.exceptions.HIDException;
import com.orvanta.testbed.EmulatedHid;

/**
 * Child JVM of HighHandleTest, with the preload that places the next handle's
 * object at or above 0x80000000: every entry point with that handle, and with
 * its upper 32 bits changed.
 */
public final class HighHandleProbe {
    static native void placeNextAllocationHigh(int size);

    private HighHandleProbe() {
    }

    public static void main(String[] args) throws Exception {
        System.load(args[0]);   // the preload itself, which binds the native above
        try (EmulatedHid emulator = new EmulatedHid()) {
            EmulatedHid.Device echo = emulator.add(0x1209, 0x0001, "Orvanta Labs", "Echo", "E-1", true, false);
            // bound and warmed first, so that the object's is the next such allocation
            HIDClassConnector._free(HIDClassConnector._hid_init());
            placeNextAllocationHigh(16);   // sizeof(CHIDDevice) in a 32-bit build: a pointer and three ints
            long h = HIDClassConnector._hid_init();
            long other = h ^ (0x5a5a5a5aL << 32);   // the same low 32 bits
            System.out.printf("HANDLE %x%n", h);
            HIDClassConnector._hid_open(h, echo.path());
            HIDClassConnector._hid_write(other, new byte[] {0, 0x31, 0x32});
            byte[] in = HIDClassConnector._hid_read(h, 2);
            System.out.printf("ECHO %02x %02x%n", in[0], in[1]);
            System.out.println("LISTED " + HIDClassConnector._enumerateDevices(other, 0x1209, 0).length);
            HIDClassConnector._hid_open(other, 0x1209, 0x0001);
            HIDClassConnector._hid_write(h, new byte[] {0, 0x33});
            System.out.printf("ECHO %02x%n", HIDClassConnector._hid_read(other, 1)[0]);
            HIDClassConnector._hid_close(other);
            try {
                HIDClassConnector._hid_close(0x5a5a5a5aL << 32);   // low 32 bits 0: handle 0
            } catch (HIDException e) {
                System.out.println("ZERO " + e.getMessage());
            }
            HIDClassConnector._free(other);
        }
        System.out.println("DONE");
    }
}
