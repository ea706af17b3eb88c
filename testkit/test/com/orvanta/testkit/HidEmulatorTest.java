package com.orvanta.testkit;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.orvanta.hid.Hid;
import com.orvanta.hid.HidDevice;
import java.util.List;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.parallel.ResourceLock;

/** The emulator's life without the extension: one at a time, and what a removed device or a closed emulator refuses. */
@ResourceLock(HidEmulatorExtension.RESOURCE_LOCK)
class HidEmulatorTest {
    @Test
    void oneAtATimeAndNothingAfterClose() throws Exception {
        EmulatedDevice kept;
        EmulatedDevice removed;
        HidDevice leftOpen;
        try (HidEmulator hid = HidEmulator.start()) {
            IllegalStateException second = assertThrows(IllegalStateException.class, HidEmulator::start);
            assertTrue(second.getMessage().contains("another HidEmulator is open"), second.getMessage());
            removed = hid.plug(DeviceSpec.builder(0x1209, 0x0050).build());
            kept = hid.plug(DeviceSpec.builder(0x1209, 0x0051).build());
            // removing a device closes what the application left open on it
            HidDevice open = Hid.open(removed.path());
            removed.remove();
            removed.remove();
            assertFalse(open.isOpen());
            assertFalse(removed.isPlugged());
            assertEquals(List.of(kept), hid.devices());
            IllegalStateException gone = assertThrows(IllegalStateException.class, () -> removed.pushInputReport(new byte[1]));
            assertTrue(gone.getMessage().contains("removed"), gone.getMessage());
            assertThrows(IllegalStateException.class, removed::unplug);
            assertThrows(NullPointerException.class, () -> hid.plug(null));
            leftOpen = Hid.open(kept.path());
        }
        // close removed every device, and closed what was open on them
        assertFalse(leftOpen.isOpen());
        assertFalse(kept.isPlugged());
        assertThrows(IllegalStateException.class, () -> kept.pollOutputReport(0, TimeUnit.SECONDS));
        assertEquals(0, Hid.devices(0x1209, 0).size());
        HidEmulator again = HidEmulator.start();
        again.close();
        again.close();
        assertThrows(IllegalStateException.class, () -> again.plug(DeviceSpec.builder(1, 2).build()));
    }
}
