package com.orvanta.testkit;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;

import com.orvanta.hid.HidDeviceInfo.BusType;
import java.nio.file.attribute.PosixFilePermissions;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.function.Executable;

/** What a spec takes and refuses, before any device exists. */
class DeviceSpecTest {
    @Test
    void defaultsFollowTheBus() {
        DeviceSpec usb = DeviceSpec.builder(0x1209, 0xffff).build();
        assertEquals(BusType.USB, usb.busType());
        assertEquals(0x0100, usb.releaseNumber());
        assertEquals(0, usb.interfaceNumber());
        assertNull(usb.reportDescriptor());
        assertNull(usb.manufacturer());
        assertEquals(PosixFilePermissions.fromString("rw-rw-rw-"), usb.nodePermissions());
        DeviceSpec i2c = DeviceSpec.builder(0, 1).busType(BusType.I2C).manufacturer("").releaseNumber(0)
                .interfaceNumber(-1).build();
        assertEquals(0, i2c.releaseNumber());
        assertEquals(-1, i2c.interfaceNumber());
        // the spec keeps its own copy of the descriptor, and hands out copies
        byte[] descriptor = {0x06, 0x00, (byte) 0xff};
        DeviceSpec own = DeviceSpec.builder(1, 2).reportDescriptor(descriptor).build();
        descriptor[0] = 0;
        own.reportDescriptor()[1] = 9;
        assertArrayEquals(new byte[] {0x06, 0x00, (byte) 0xff}, own.reportDescriptor());
    }

    @Test
    void callerMistakesAreRefusedByKind() {
        DeviceSpec.Builder builder = DeviceSpec.builder(1, 2);
        refused(NullPointerException.class, "busType", () -> builder.busType(null));
        refused(NullPointerException.class, "reportDescriptor", () -> builder.reportDescriptor(null));
        refused(NullPointerException.class, "permissions", () -> builder.nodePermissions(null));
        refused(IllegalArgumentException.class, "vendor ID 65536", () -> DeviceSpec.builder(0x10000, 1));
        refused(IllegalArgumentException.class, "product ID -1", () -> DeviceSpec.builder(1, -1));
        refused(IllegalArgumentException.class, "not 65536", () -> builder.releaseNumber(0x10000));
        refused(IllegalArgumentException.class, "0 to 255", () -> builder.interfaceNumber(256));
        refused(IllegalArgumentException.class, "unknown bus", () -> builder.busType(BusType.UNKNOWN));
        refused(IllegalArgumentException.class, "1 to 4096 bytes, not 0", () -> builder.reportDescriptor(new byte[0]));
        refused(IllegalArgumentException.class, "not 4097", () -> builder.reportDescriptor(new byte[4097]));
        builder.reportDescriptor(new byte[4096]);
        // fields that contradict each other, once built
        refused(IllegalArgumentException.class, "numbers its reports itself", () -> builder.numberedReports().build());
        refused(IllegalArgumentException.class, "has no manufacturer", () -> DeviceSpec.builder(1, 2)
                .busType(BusType.BLUETOOTH).manufacturer("Acme").build());
        refused(IllegalArgumentException.class, "has no release", () -> DeviceSpec.builder(1, 2)
                .busType(BusType.SPI).releaseNumber(0x0100).build());
        refused(IllegalArgumentException.class, "has no interface", () -> DeviceSpec.builder(1, 2)
                .busType(BusType.I2C).interfaceNumber(0).build());
        refused(IllegalArgumentException.class, "USB device's interface", () -> DeviceSpec.builder(1, 2)
                .interfaceNumber(-1).build());
    }

    private static void refused(Class<? extends RuntimeException> type, String words, Executable call) {
        RuntimeException e = assertThrows(type, call);
        assertEquals(true, String.valueOf(e.getMessage()).contains(words), e.toString());
    }
}
