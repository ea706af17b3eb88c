package com.example.scale;

import com.orvanta.hid.Hid;
import com.orvanta.hid.HidDevice;
import com.orvanta.hid.HidException;
import java.util.OptionalDouble;

/**
 * A USB scale, read through portula. Its reports, after the HID point-of-sale
 * scale's: input report 3 is a reading (status, unit, a power-of-ten
 * exponent, the weight as 16 bits, low byte first); output report 2 zeroes
 * the scale; feature report 1 holds its capacity in grams (16 bits).
 */
public final class Scale implements AutoCloseable {
    public static final int VENDOR_ID = 0x1209;
    public static final int PRODUCT_ID = 0x5CA1;

    static final int STABLE_AT_ZERO = 2;
    static final int IN_MOTION = 3;
    static final int STABLE = 4;
    static final int UNDER_ZERO = 5;
    static final int GRAMS = 2;
    static final int KILOGRAMS = 3;
    static final int OUNCES = 11;
    static final int POUNDS = 12;

    private final HidDevice device;

    private Scale(HidDevice device) {
        this.device = device;
    }

    /** Opens the first scale plugged in. */
    public static Scale open() throws HidException {
        return new Scale(Hid.open(VENDOR_ID, PRODUCT_ID));
    }

    /** The most the scale weighs, in grams, as it says itself. */
    public int capacityGrams() throws HidException {
        byte[] report = device.getFeatureReport(1, 3);
        return (report[1] & 0xFF) | (report[2] & 0xFF) << 8;
    }

    /**
     * The weight in grams once the scale settles, skipping readings in motion;
     * empty if it does not settle within timeoutMillis.
     */
    public OptionalDouble stableGrams(int timeoutMillis) throws HidException {
        long deadline = System.nanoTime() + timeoutMillis * 1_000_000L;
        for (long left = timeoutMillis; left > 0; left = (deadline - System.nanoTime()) / 1_000_000) {
            byte[] report = device.read((int) left);
            if (report.length < 6 || report[0] != 3) {
                continue;
            }
            int status = report[1];
            if (status == STABLE || status == STABLE_AT_ZERO || status == UNDER_ZERO) {
                double grams = ((report[4] & 0xFF) | (report[5] & 0xFF) << 8) * Math.pow(10, report[3])
                        * gramsPer(report[2]);
                return OptionalDouble.of(status == UNDER_ZERO ? -grams : grams);
            }
        }
        return OptionalDouble.empty();
    }

    /** Sets the scale's zero to what lies on it now. */
    public void zero() throws HidException {
        device.write(new byte[] {2, 1});
    }

    @Override
    public void close() {
        device.close();
    }

    private static double gramsPer(int unit) {
        switch (unit) {
            case GRAMS:
                return 1;
            case KILOGRAMS:
                return 1000;
            case OUNCES:
                return 28.349523125;
            case POUNDS:
                return 453.59237;
            default:
                throw new IllegalStateException("the scale weighs in unit " + unit + ", which this program does not know");
        }
    }
}
