package com.orvanta.jni;

import com.orvanta.testbed.EmulatedHid;

/**
 * Run in a child JVM with a class path that lacks or alters a class the
 * library needs; prints what reached Java. Types the class path may lack are
 * not named here.
 */
public final class ChildProbe {
    private ChildProbe() {
    }

    public static void main(String[] args) throws Exception {
        try (EmulatedHid emulator = new EmulatedHid()) {
            emulator.add(0x1209, 0x0001, "Orvanta Labs", "Probe", "P-1", false, false);
            long handle = HIDClassConnector._hid_init();
            try {
                Object result = args[0].equals("enumerate")
                        ? HIDClassConnector._enumerateDevices(handle, 0, 0)
                        : callClose();
                System.out.println("OUTCOME returned " + (result == null ? "null" : "array"));
            } catch (Throwable t) {
                System.out.println("OUTCOME " + t.getClass().getName() + ": " + t.getMessage());
            } finally {
                HIDClassConnector._free(handle);
            }
            // the handle must still be usable after the failure
            long again = HIDClassConnector._hid_init();
            HIDClassConnector._free(again);
            System.out.println("DONE");
        }
    }

    private static Object callClose() throws Exception {
        HIDClassConnector._hid_close(0);
        return null;
    }
}
