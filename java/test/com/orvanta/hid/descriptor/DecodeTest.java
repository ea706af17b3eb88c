package com.orvanta.hid.descriptor;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.Arrays;
import java.util.NoSuchElementException;
import java.util.SplittableRandom;
import org.junit.jupiter.api.Test;

/** Reports decoded into values and built from them, on the corpus and on descriptors made here. */
class DecodeTest {
    /** A mouse: report 1, 3 buttons and 5 bits of padding, X and Y (-127..127), a wheel with a null value. */
    static final byte[] MOUSE = bytes(0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x85, 0x01, 0x09, 0x01, 0xA1, 0x00,
            0x05, 0x09, 0x19, 0x01, 0x29, 0x03, 0x15, 0x00, 0x25, 0x01, 0x95, 0x03, 0x75, 0x01, 0x81, 0x02,
            0x95, 0x05, 0x81, 0x03, 0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x15, 0x81, 0x25, 0x7F, 0x75, 0x08,
            0x95, 0x02, 0x81, 0x06, 0x09, 0x38, 0x15, 0x81, 0x25, 0x7F, 0x95, 0x01, 0x81, 0x46, 0xC0, 0xC0);
    /** A keyboard, unnumbered: 8 modifier bits, a constant byte, 6 keys; 5 LEDs and padding out. */
    static final byte[] KEYBOARD = bytes(0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7,
            0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0x95, 0x01, 0x75, 0x08, 0x81, 0x01,
            0x95, 0x05, 0x75, 0x01, 0x05, 0x08, 0x19, 0x01, 0x29, 0x05, 0x91, 0x02, 0x95, 0x01, 0x75, 0x03,
            0x91, 0x01, 0x95, 0x06, 0x75, 0x08, 0x15, 0x00, 0x25, 0x65, 0x05, 0x07, 0x19, 0x00, 0x29, 0x65,
            0x81, 0x00, 0xC0);
    static final int X = Usages.of(0x01, 0x30);
    static final int Y = Usages.of(0x01, 0x31);
    static final int WHEEL = Usages.of(0x01, 0x38);
    static final int BUTTON_1 = Usages.of(0x09, 1);
    static final int KEY_A = Usages.of(0x07, 0x04);
    static final int KEY_B = Usages.of(0x07, 0x05);
    static final int CAPS_LOCK_LED = Usages.of(0x08, 0x02);

    static byte[] bytes(int... values) {
        byte[] bytes = new byte[values.length];
        for (int i = 0; i < values.length; i++) {
            bytes[i] = (byte) values[i];
        }
        return bytes;
    }

    /** The bits at bit, one at a time: an extraction independent of the one under test. */
    static long bits(byte[] report, int bit, int size, boolean signed) {
        long value = 0;
        for (int i = size - 1; i >= 0; i--) {
            value = value << 1 | (report[(bit + i) / 8] >> ((bit + i) % 8) & 1);
        }
        return signed && size > 0 && size < 64 ? value << (64 - size) >> (64 - size) : value;
    }

    /**
     * For every report of every corpus descriptor: random bytes decode to the values the fields'
     * offsets give, sign-extended where the minimum is negative, absent only where the null state
     * says so; set back into a builder, they give the same bytes, constant bits aside.
     */
    @Test
    void randomReportsOfTheCorpusDecodeToTheirBitsAndBuildBackToThem() throws Exception {
        SplittableRandom random = new SplittableRandom(42);
        ReportValues values = new ReportValues();
        int reports = 0;
        long slots = 0;
        for (String name : Corpus.sample()) {
            ReportDescriptor descriptor = ReportDescriptor.parse(Corpus.descriptor(name));
            for (Report report : descriptor.reports()) {
                for (int round = 0; round < 2; round++) {
                    byte[] wire = new byte[report.length()];
                    random.nextBytes(wire);
                    // a type's reports carry an ID byte where any of them has an ID
                    boolean numbered = descriptor.reports().stream()
                            .anyMatch(r -> r.type() == report.type() && r.id() != 0);
                    if (numbered) {
                        wire[0] = (byte) report.id();
                    }
                    // as get*Report gives it: the ID first, 0 where unnumbered
                    byte[] idFirst = numbered ? wire : concat(new byte[1], wire);
                    descriptor.decode(report.type(), idFirst, 0, idFirst.length, values);
                    assertEquals(report, values.report(), name);
                    ReportBuilder builder = descriptor.builder(report.type(), report.id());
                    byte[] dataBits = new byte[wire.length];
                    for (ReportField f : report.fields()) {
                        boolean signed = f.logicalMinimum() < 0;
                        for (int slot = 0; slot < f.count(); slot++) {
                            int bit = f.bitOffset() + slot * f.bitSize();
                            long expected = bits(wire, bit, f.bitSize(), signed);
                            boolean isNull = f.is(ReportField.Flag.NULL_STATE)
                                    && (expected < f.logicalMinimum() || expected > f.logicalMaximum());
                            int at = slot;
                            assertEquals(!isNull, values.has(f, slot), () -> name + " " + f + " slot " + at);
                            if (!isNull) {
                                assertEquals(expected, values.get(f, slot), () -> name + " " + f + " slot " + at);
                            }
                            if (!f.is(ReportField.Flag.CONSTANT)) {
                                builder.set(f, slot, expected);
                                for (int i = bit; i < bit + f.bitSize(); i++) {
                                    dataBits[i / 8] |= (byte) (1 << (i % 8));
                                }
                            }
                            slots++;
                        }
                    }
                    byte[] built = builder.toBytes();
                    byte[] builtWire = numbered ? built : Arrays.copyOfRange(built, 1, built.length);
                    for (int i = numbered ? 1 : 0; i < wire.length; i++) {
                        int at = i;
                        assertEquals(wire[i] & dataBits[i], builtWire[i], () -> name + " " + report + " byte " + at);
                    }
                    if (report.type() == ReportType.INPUT) {
                        // as read gives it: the same values
                        assertSameValues(values, descriptor.decodeInput(wire), name);
                    }
                }
                reports++;
            }
        }
        System.out.println("DecodeTest: " + reports + " reports, " + slots + " slots decoded and built back");
    }

    static void assertSameValues(ReportValues expected, ReportValues actual, String what) {
        assertEquals(expected.report(), actual.report(), what);
        for (ReportField f : expected.report().fields()) {
            for (int slot = 0; slot < f.count(); slot++) {
                if (expected.has(f, slot) != actual.has(f, slot)
                        || expected.has(f, slot) && f.bitSize() <= 64 && expected.get(f, slot) != actual.get(f, slot)) {
                    assertEquals(expected.toString(), actual.toString(), what + ": " + f + " slot " + slot);
                }
            }
        }
    }

    private static byte[] concat(byte[] a, byte[] b) {
        byte[] all = Arrays.copyOf(a, a.length + b.length);
        System.arraycopy(b, 0, all, a.length, b.length);
        return all;
    }

    @Test
    void valuesOutsideTheLogicalRangeAreAbsentOnlyWithTheNullState() throws Exception {
        ReportDescriptor mouse = ReportDescriptor.parse(MOUSE);
        // buttons 1 and 3, X -128 (out of range, no null state), Y 127, wheel -128 (null state)
        ReportValues values = mouse.decodeInput(bytes(0x01, 0x05, 0x80, 0x7F, 0x80));
        assertEquals(1, values.get(BUTTON_1));
        assertEquals(0, values.get(Usages.of(0x09, 2)));
        assertEquals(-128, values.get(X));
        assertEquals(127, values.get(Y));
        assertFalse(values.has(WHEEL));
        assertThrows(NoSuchElementException.class, () -> values.get(WHEEL));
        // in range at both ends
        for (int wheel : new int[] {0x81, 0x7F, 0x00}) {
            ReportValues inRange = mouse.decodeInput(bytes(0x01, 0, 0, 0, wheel));
            assertEquals((byte) wheel, inRange.get(WHEEL));
        }
        // an unsigned maximum: 32 bits of 0 to 4294967295, never negative
        ReportDescriptor wide = ReportDescriptor.parse(bytes(0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x09, 0x02,
                0x15, 0x00, 0x27, 0xFF, 0xFF, 0xFF, 0xFF, 0x75, 0x20, 0x95, 0x01, 0x81, 0x42, 0xC0));
        assertEquals(4294967295L, wide.reports().get(0).fields().get(0).logicalMaximum());
        assertEquals(4294967295L, wide.decodeInput(bytes(0xFF, 0xFF, 0xFF, 0xFF)).get(Usages.of(0xFF00, 2)));
    }

    @Test
    void aShortReportLacksWhatWasCutOffAndAnUnknownIdGivesNothing() throws Exception {
        ReportDescriptor mouse = ReportDescriptor.parse(MOUSE);
        ReportValues values = mouse.decodeInput(bytes(0x01, 0x02, 0x05));
        assertEquals(1, values.get(Usages.of(0x09, 2)));
        assertEquals(5, values.get(X));
        assertFalse(values.has(Y));
        assertFalse(values.has(WHEEL));
        assertThrows(NoSuchElementException.class, () -> values.get(Y));
        // the same holder, refilled whole: nothing of the last report stays
        mouse.decodeInput(bytes(0x01, 0x00, 0x01, 0x02, 0x03, 0x99), 0, 6, values);
        assertEquals(3, values.get(WHEEL));
        for (byte[] unknown : new byte[][] {bytes(0x02, 1, 2, 3, 4), bytes(0x00, 1, 2, 3, 4), new byte[0]}) {
            ReportValues none = mouse.decodeInput(unknown);
            assertNull(none.report());
            assertFalse(none.has(X));
            assertThrows(NoSuchElementException.class, () -> none.get(X));
        }
        assertNull(mouse.decode(ReportType.FEATURE, bytes(0x01, 0)).report());
        assertThrows(IndexOutOfBoundsException.class, () -> mouse.decodeInput(new byte[4], 2, 3, values));
    }

    @Test
    void keysHeldDownAreTheArraysActiveUsages() throws Exception {
        ReportDescriptor keyboard = ReportDescriptor.parse(KEYBOARD);
        // left shift; keys a and b, a twice; an out-of-range 0x70 and "no event" 0 select nothing
        ReportValues values = keyboard.decodeInput(bytes(0x02, 0x00, 0x04, 0x05, 0x04, 0x70, 0x00, 0x00));
        ReportField keys = values.report().fields().get(2);
        assertArrayEquals(new int[] {KEY_A, KEY_B}, keys.isArray() ? values.activeUsages(keys) : null);
        assertEquals(1, values.get(KEY_A));
        assertEquals(0, values.get(Usages.of(0x07, 0x06)));
        assertEquals(1, values.get(Usages.of(0x07, 0xE1)));
        // the report as getInputReport gives it, 0 first
        assertSameValues(values,
                keyboard.decode(ReportType.INPUT, bytes(0, 0x02, 0x00, 0x04, 0x05, 0x04, 0x70, 0x00, 0x00)), "keyboard");
        // an output report: a leading 0, the LED bits
        assertArrayEquals(bytes(0x00, 0x02), keyboard.builder(ReportType.OUTPUT, 0).set(CAPS_LOCK_LED, 1).toBytes());
    }

    @Test
    void buildersSetUsagesAndRefuseWhatDoesNotFit() throws Exception {
        ReportDescriptor mouse = ReportDescriptor.parse(MOUSE);
        ReportBuilder builder = mouse.builder(ReportType.INPUT, 1).set(X, -127).set(Y, 100).set(BUTTON_1, 1);
        assertArrayEquals(bytes(0x01, 0x01, 0x81, 0x64, 0x00), builder.toBytes());
        assertEquals(-127, mouse.decodeInput(builder.toBytes()).get(X));
        assertThrows(IllegalArgumentException.class, () -> builder.set(X, 128));
        assertThrows(IllegalArgumentException.class, () -> builder.set(X, -129));
        assertThrows(IllegalArgumentException.class, () -> builder.set(BUTTON_1, 2));
        assertThrows(IllegalArgumentException.class, () -> builder.set(KEY_A, 1));
        assertThrows(IllegalArgumentException.class, () -> mouse.builder(ReportType.OUTPUT, 1));
        // the wheel's null value fits its bits, so it is set
        builder.set(WHEEL, -128);
        assertFalse(mouse.decodeInput(builder.toBytes()).has(WHEEL));

        ReportDescriptor keyboard = ReportDescriptor.parse(KEYBOARD);
        ReportBuilder keys = keyboard.builder(ReportType.INPUT, 0);
        for (int key = 0x04; key < 0x0A; key++) {
            keys.set(Usages.of(0x07, key), 1);
        }
        assertArrayEquals(bytes(0, 0, 0, 4, 5, 6, 7, 8, 9), keys.toBytes());
        assertThrows(IllegalStateException.class, () -> keys.set(Usages.of(0x07, 0x0A), 1));
        keys.set(Usages.of(0x07, 0x05), 0).set(Usages.of(0x07, 0x0A), 1).set(KEY_A, 1);
        assertArrayEquals(bytes(0, 0, 0, 4, 0x0A, 6, 7, 8, 9), keys.toBytes());
        assertThrows(IllegalArgumentException.class, () -> keys.set(KEY_A, 2));
        assertThrows(IllegalArgumentException.class, () -> keys.set(Usages.of(0x07, 0x66), 1));
    }

    @Test
    void physicalValuesScaleByRangeAndExponent() throws Exception {
        // 12 bits 0..4095 over 0..1000 at 10^-2 cm; a second field with no physical range of its own
        ReportDescriptor d = ReportDescriptor.parse(bytes(0x05, 0x0D, 0x09, 0x04, 0xA1, 0x01, 0x05, 0x01, 0x09,
                0x30, 0x15, 0x00, 0x26, 0xFF, 0x0F, 0x35, 0x00, 0x46, 0xE8, 0x03, 0x55, 0x0E, 0x65, 0x11, 0x75,
                0x0C, 0x95, 0x01, 0x81, 0x02, 0x09, 0x31, 0x45, 0x00, 0x65, 0x00, 0x55, 0x00, 0x75, 0x04, 0x81,
                0x02, 0xC0));
        ReportField x = d.reports().get(0).fields().get(0);
        assertEquals("cm", x.unitText());
        assertEquals(-2, x.unitExponent());
        ReportValues values = d.decodeInput(bytes(0xFF, 0xAF));
        assertEquals(10.0, values.physical(X), 1e-9);
        assertEquals(10.0, values.physical(Y), 1e-9);   // physical 0..0: the logical range
        ReportField y = d.reports().get(0).fields().get(1);
        assertEquals(4095, y.physicalMaximum());
        assertEquals("", y.unitText());
        assertEquals("cm^2*g/s^2", ReportField.unitText(0xE121));
        assertEquals("deg", ReportField.unitText(0x14));
    }

    @Test
    void slotsWiderThan64BitsComeAsBytes() throws Exception {
        // one 72-bit slot and one 4-bit slot, unnumbered
        ReportDescriptor d = ReportDescriptor.parse(bytes(0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x09, 0x01,
                0x75, 0x48, 0x95, 0x01, 0x81, 0x02, 0x09, 0x02, 0x75, 0x04, 0x81, 0x02, 0xC0));
        byte[] report = bytes(1, 2, 3, 4, 5, 6, 7, 8, 9, 0xFA);
        ReportValues values = d.decodeInput(report);
        ReportField wide = values.report().fields().get(0);
        assertArrayEquals(Arrays.copyOf(report, 9), values.bytes(wide, 0));
        assertThrows(IllegalArgumentException.class, () -> values.get(wide, 0));
        assertEquals(0xA, values.get(Usages.of(0xFF00, 2)));
        byte[] built = d.builder(ReportType.INPUT, 0).set(wide, 0, Arrays.copyOf(report, 9)).set(Usages.of(0xFF00, 2), 0xA)
                .toBytes();
        assertArrayEquals(concat(new byte[1], bytes(1, 2, 3, 4, 5, 6, 7, 8, 9, 0x0A)), built);

        // an array of one 72-bit slot selecting Buttons 1 to 4: its selectors only as bytes
        ReportDescriptor a = ReportDescriptor.parse(bytes(0x05, 0x09, 0x19, 0x01, 0x29, 0x04, 0x15, 0x01, 0x25, 0x04,
                0x75, 0x48, 0x95, 0x01, 0x81, 0x00));
        ReportValues selected = a.decodeInput(bytes(2, 0, 0, 0, 0, 0, 0, 0, 0));
        ReportField array = selected.report().fields().get(0);
        int button2 = Usages.of(0x09, 2);
        assertArrayEquals(bytes(2, 0, 0, 0, 0, 0, 0, 0, 0), selected.bytes(array, 0));
        assertThrows(IllegalArgumentException.class, () -> selected.activeUsages(array));
        assertThrows(IllegalArgumentException.class, () -> selected.get(button2));
        assertThrows(IllegalArgumentException.class, () -> selected.has(button2));
        assertThrows(IllegalArgumentException.class, () -> a.builder(ReportType.INPUT, 0).set(button2, 1));
    }
}
