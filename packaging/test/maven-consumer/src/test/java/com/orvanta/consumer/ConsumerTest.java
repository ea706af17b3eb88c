package com.orvanta.consumer;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertNotNull;

import com.orvanta.jni.HIDClassConnector;
import java.lang.management.ManagementFactory;
import org.junit.Test;

public class ConsumerTest {
    /** The test JVM has the grant exactly where Java restricts native access, and loads the library. */
    @Test
    public void enumeratesWithNativeAccessFromJava24On() throws Exception {
        boolean restricted = Runtime.version().feature() >= 24;
        assertEquals(restricted, ManagementFactory.getRuntimeMXBean().getInputArguments()
                .contains("--enable-native-access=ALL-UNNAMED"));
        long handle = HIDClassConnector._hid_init();
        try {
            assertNotNull(HIDClassConnector._enumerateDevices(handle, 0, 0));
        } finally {
            HIDClassConnector._free(handle);
        }
    }
}
