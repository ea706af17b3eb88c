package com.orvanta.jni;

import com.orvanta.testbed.EmulatedHid;

/**
 * Child JVM with the counting HIDDevice and its JVMTI agent: enumerates many
 * devices and prints the most local references the entry point held at once.
 */
public final class LocalRefsProbe {
    private LocalRefsProbe() {
    }

    public static void main(String[] args) throws Exception {
        System.load(args[0]);   // the agent, which also binds HIDDevice's counting native
        try (EmulatedHid emulator = new EmulatedHid()) {
            for (int i = 0; i < 40; i++) {
                emulator.add(0x1209, 0x0100 + i, "Orvanta Labs", "Many " + i, "M-" + i, false, false);
            }
            long handle = HIDClassConnector._hid_init();
            try {
                System.out.println("LISTED " + HIDClassConnector._enumerateDevices(handle, 0, 0).length);
            } finally {
                HIDClassConnector._free(handle);
            }
        }
        System.out.println("MOST " + Class.forName("com.orvanta.jni.HIDDevice").getField("most").getInt(null));
        System.out.println("DONE");
    }
}
