package com.example.scale;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.orvanta.hid.HidException;
import com.orvanta.testkit.DeviceSpec;
import com.orvanta.testkit.EmulatedDevice;
import com.orvanta.testkit.HidEmulator;
import com.orvanta.testkit.WithHidEmulator;
import java.util.concurrent.Executors;
import java.util.concurrent.ScheduledExecutorService;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

/** Scale against an emulated scale: each test gets its own, removed after it. */
@WithHidEmulator
class ScaleTest {
    /** Scale page, one application collection: feature 1 (2 bytes), output 2 (1 byte), input 3 (5 bytes). */
    static final byte[] DESCRIPTOR = {
        0x05, (byte) 0x8D, 0x09, 0x20, (byte) 0xA1, 0x01, 0x15, 0x00, 0x26, (byte) 0xFF, 0x00, 0x75, 0x08,
        (byte) 0x85, 0x01, 0x09, 0x10, (byte) 0x95, 0x02, (byte) 0xB1, 0x02,
        (byte) 0x85, 0x02, 0x09, 0x50, (byte) 0x95, 0x01, (byte) 0x91, 0x02,
        (byte) 0x85, 0x03, 0x09, 0x30, (byte) 0x95, 0x05, (byte) 0x81, 0x02,
        (byte) 0xC0};

    EmulatedDevice scale;

    @BeforeEach
    void plugInAScale(HidEmulator hid) {
        scale = hid.plug(DeviceSpec.builder(Scale.VENDOR_ID, Scale.PRODUCT_ID).manufacturer("Example")
                .product("Kitchen scale").reportDescriptor(DESCRIPTOR).build());
    }

    /** A reading as the scale sends it. */
    static byte[] reading(int status, int unit, int exponent, int weight) {
        return new byte[] {3, (byte) status, (byte) unit, (byte) exponent, (byte) weight, (byte) (weight >> 8)};
    }

    @Test
    void waitsForTheScaleToSettle() throws Exception {
        try (Scale under = Scale.open()) {
            scale.pushInputReport(reading(Scale.IN_MOTION, Scale.GRAMS, 0, 480));
            scale.pushInputReport(reading(Scale.IN_MOTION, Scale.GRAMS, 0, 505));
            scale.pushInputReport(reading(Scale.STABLE, Scale.GRAMS, 0, 500));
            assertEquals(500.0, under.stableGrams(1000).getAsDouble());
            // in motion all along: nothing to report
            scale.pushInputReport(reading(Scale.IN_MOTION, Scale.GRAMS, 0, 7));
            assertTrue(under.stableGrams(200).isEmpty());
        }
    }

    @Test
    void convertsEachUnitToGrams() throws Exception {
        try (Scale under = Scale.open()) {
            scale.pushInputReport(reading(Scale.STABLE, Scale.KILOGRAMS, -2, 1234));
            assertEquals(12340.0, under.stableGrams(1000).getAsDouble(), 1e-9);
            scale.pushInputReport(reading(Scale.STABLE, Scale.OUNCES, -1, 160));
            assertEquals(453.59237, under.stableGrams(1000).getAsDouble(), 1e-9);
            scale.pushInputReport(reading(Scale.UNDER_ZERO, Scale.GRAMS, 0, 3));
            assertEquals(-3.0, under.stableGrams(1000).getAsDouble());
            scale.pushInputReport(reading(Scale.STABLE, 7, 0, 1));
            assertThrows(IllegalStateException.class, () -> under.stableGrams(1000));
        }
    }

    @Test
    void readsItsCapacityAndZeroesIt() throws Exception {
        scale.answerFeatureRequests(id -> id == 1 ? new byte[] {0x10, 0x27} : null);   // 10,000 g
        try (Scale under = Scale.open()) {
            assertEquals(10_000, under.capacityGrams());
            under.zero();
            assertArrayEquals(new byte[] {2, 1}, scale.pollOutputReport(1, TimeUnit.SECONDS));
        }
    }

    @Test
    void aScaleUnpluggedWhileWeighingIsAnError() throws Exception {
        ScheduledExecutorService later = Executors.newSingleThreadScheduledExecutor();
        try (Scale under = Scale.open()) {
            later.schedule(scale::unplug, 100, TimeUnit.MILLISECONDS);
            HidException e = assertThrows(HidException.class, () -> under.stableGrams(5000));
            assertEquals(HidException.Reason.DEVICE_GONE, e.reason());
        } finally {
            later.shutdown();
        }
    }

    @Test
    void noScaleNoOpen() {
        scale.remove();
        assertEquals(HidException.Reason.NOT_FOUND, assertThrows(HidException.class, Scale::open).reason());
    }
}
