package com.orvanta.hid.descriptor;

import java.util.Arrays;
import java.util.NoSuchElementException;
import java.util.Objects;

/**
 * The values of one decoded report, filled by {@link ReportDescriptor#decodeInput} or
 * {@link ReportDescriptor#decode}, and refilled by each later decode: a listener keeps one and
 * decodes every report into it without allocating. Not safe for use by two threads at once.
 *
 * <p>A variable field's slot holds a logical value, sign-extended where the logical minimum is
 * negative; an array field's slots select the usages that are active (keys held down). A value is
 * absent where the report was cut short before it, or where it is outside the logical range of a
 * field with the null state flag.
 */
public final class ReportValues {
    private Report report;
    private byte[] wire = new byte[0];   // a copy of a report cut short, or with slots over 64 bits
    private int receivedBits;
    private long[] values = new long[0];   // every slot of every field up to 64 bits, in order
    // where the last lookup by usage found it
    private int foundField;
    private long foundPosition;

    /** An empty holder, to decode into. */
    public ReportValues() {
    }

    void fill(ReportDescriptor descriptor, Report found, byte[] source, int offset, int length) {
        if (report != found) {   // a listener's reports are mostly one: no store, no GC barrier
            report = found;
        }
        if (found == null) {
            return;
        }
        if (values.length < descriptor.mostSlots) {
            values = new long[descriptor.mostSlots];
        }
        int kept = Math.min(length, found.length());
        receivedBits = 8 * kept;
        byte[] b = source;
        int base = offset;
        // a copy only where it is needed: zeros after a short report, and slots read later as bytes
        if (kept < found.length() || found.wide) {
            if (wire.length < descriptor.longestReport) {
                wire = new byte[descriptor.longestReport];
            }
            System.arraycopy(source, offset, wire, 0, kept);
            Arrays.fill(wire, kept, found.length(), (byte) 0);
            b = wire;
            base = 0;
        }
        long[] v = values;
        int slot = 0;
        int[] ops = found.decoding;
        for (int op = 0; op < ops.length; op += 4) {
            int at = ops[op + 1];
            int count = ops[op + 2];
            int size = ops[op + 3];
            // each shape its own loop, which then does what a hand-written one would
            switch (ops[op]) {
                case Report.UNSIGNED_BYTES:
                    at += base;
                    for (int i = 0; i < count; i++) {
                        v[slot + i] = b[at + i] & 0xFF;
                    }
                    break;
                case Report.SIGNED_BYTES:
                    at += base;
                    for (int i = 0; i < count; i++) {
                        v[slot + i] = b[at + i];
                    }
                    break;
                case Report.UNSIGNED_SHORTS:
                    at += base;
                    for (int i = 0; i < count; i++) {
                        v[slot + i] = b[at + 2 * i] & 0xFF | (b[at + 2 * i + 1] & 0xFF) << 8;
                    }
                    break;
                case Report.SIGNED_SHORTS:
                    at += base;
                    for (int i = 0; i < count; i++) {
                        v[slot + i] = (short) (b[at + 2 * i] & 0xFF | b[at + 2 * i + 1] << 8);
                    }
                    break;
                case Report.BITS: {   // one read for up to 57 of them
                    long word = extract(b, base, at, count);
                    for (int i = 0; i < count; i++, word >>>= 1) {
                        v[slot + i] = word & 1;
                    }
                    break;
                }
                case Report.UNSIGNED:
                    for (int i = 0; i < count; i++) {
                        v[slot + i] = extract(b, base, at + i * size, size);
                    }
                    break;
                case Report.SIGNED:
                    for (int i = 0, unused = 64 - size; i < count; i++) {
                        v[slot + i] = extract(b, base, at + i * size, size) << unused >> unused;
                    }
                    break;
                default:   // zero-size fields, 0; slots over 64 bits are read as bytes
                    for (int i = 0; i < count; i++) {
                        v[slot + i] = 0;
                    }
            }
            slot += count;
        }
    }

    /** The size bits (1 to 64) from bit of the report at b[base], little-endian as HID reports are. */
    static long extract(byte[] b, int base, int bit, int size) {
        // small, so that the JIT puts it inline: up to four bytes here, more out of line
        int first = base + (bit >>> 3);
        int shift = bit & 7;
        int span = shift + size;
        if (span > 32) {
            return extractLong(b, first, shift, size);
        }
        int raw = b[first] & 0xFF;
        if (span > 8) {
            raw |= (b[first + 1] & 0xFF) << 8;
        }
        if (span > 16) {
            raw |= (b[first + 2] & 0xFF) << 16;
        }
        if (span > 24) {
            raw |= (b[first + 3] & 0xFF) << 24;
        }
        return (raw & 0xFFFFFFFFL) >>> shift & (1L << size) - 1;
    }

    private static long extractLong(byte[] b, int first, int shift, int size) {
        int last = first + (shift + size - 1) / 8;
        long raw = 0;
        for (int i = Math.min(last, first + 7); i >= first; i--) {
            raw = raw << 8 | (b[i] & 0xFF);
        }
        raw >>>= shift;
        if (last > first + 7) {   // a ninth byte, where the bits start within the first
            raw |= (long) (b[last] & 0xFF) << (64 - shift);
        }
        return size == 64 ? raw : raw & (1L << size) - 1;
    }

    /** @return the report decoded last, or null where its ID was one the descriptor does not know */
    public Report report() {
        return report;
    }

    private boolean locate(int usage) {
        if (report == null) {
            return false;
        }
        long unsigned = usage & 0xFFFFFFFFL;
        ReportField[] fields = report.fieldArray;
        for (int k = 0; k < fields.length; k++) {
            long position = fields[k].position(unsigned);
            if (position >= 0 && (fields[k].isArray() || position < fields[k].count())) {
                foundField = k;
                foundPosition = position;
                return true;
            }
        }
        return false;
    }

    /**
     * @param usage a usage, {@code page << 16 | id}
     * @return whether the report has a value of that usage: its first slot of that usage (variable
     *     fields) or its array field with that usage, received, and not a null value
     * @throws IllegalArgumentException if the usage's array field is wider than 64 bits: see {@link #bytes}
     */
    public boolean has(int usage) {
        if (!locate(usage)) {
            return false;
        }
        ReportField f = report.fieldArray[foundField];
        return f.isArray() ? received(narrow(f), f.count()) : present(f, (int) foundPosition);
    }

    /**
     * @param usage a usage, {@code page << 16 | id}
     * @return the logical value of the first slot of that usage; for a usage of an array field, 1
     *     where a slot selects it (a key held down), else 0
     * @throws NoSuchElementException if the report has no such value ({@link #has(int)} is false)
     * @throws IllegalArgumentException if the slot, or the usage's array field, is wider than 64 bits:
     *     see {@link #bytes}
     */
    public long get(int usage) {
        if (!locate(usage)) {
            throw new NoSuchElementException("no " + Usages.name(usage) + " in " + report);
        }
        ReportField f = report.fieldArray[foundField];
        if (!f.isArray()) {
            return get(f, (int) foundPosition);
        }
        if (!received(narrow(f), f.count())) {
            throw new NoSuchElementException(Usages.name(usage) + " was cut off");
        }
        long selector = f.logicalMinimum() + foundPosition;
        int slot = report.firstSlots[foundField];
        for (int i = 0; i < f.count(); i++) {
            if (values[slot + i] == selector) {
                return 1;
            }
        }
        return 0;
    }

    /**
     * @param usage a usage of a variable field, {@code page << 16 | id}
     * @return the physical value of its first slot: its logical value scaled to the physical range
     *     and by ten to the unit exponent, in {@link ReportField#unitText()}
     * @throws NoSuchElementException if the report has no such value ({@link #has(int)} is false)
     * @throws IllegalArgumentException if the usage is of an array field
     */
    public double physical(int usage) {
        if (!locate(usage)) {
            throw new NoSuchElementException("no " + Usages.name(usage) + " in " + report);
        }
        return physical(report.fieldArray[foundField], (int) foundPosition);
    }

    private int indexOf(ReportField field, int slot) {
        Objects.requireNonNull(field, "field");
        if (report == null) {
            throw new IllegalArgumentException("no report decoded, so it has no field " + field);
        }
        ReportField[] fields = report.fieldArray;
        int k = field.index;
        if (k >= fields.length || fields[k] != field && !fields[k].equals(field)) {
            throw new IllegalArgumentException("not a field of " + report + ": " + field);
        }
        if (slot < 0 || slot >= field.count()) {
            throw new IndexOutOfBoundsException("slot " + slot + " of " + field.count());
        }
        return k;
    }

    /** Slots over 64 bits are not in values: their bits are read with bytes(). */
    private static ReportField narrow(ReportField f) {
        if (f.bitSize() > 64) {
            throw new IllegalArgumentException("slots of " + f.bitSize() + " bits: read them with bytes()");
        }
        return f;
    }

    private boolean received(ReportField f, int slots) {
        return f.bitOffset() + (long) slots * f.bitSize() <= receivedBits;
    }

    private boolean present(ReportField f, int slot) {
        if (!received(f, slot + 1)) {
            return false;
        }
        if (f.is(ReportField.Flag.NULL_STATE) && f.bitSize() <= 64) {
            long v = values[report.firstSlots[f.index] + slot];
            return v >= f.logicalMinimum() && v <= f.logicalMaximum();
        }
        return true;
    }

    /**
     * @param field a field of {@link #report()}
     * @param slot one of its slots
     * @return whether that slot has a value: received, and not a null value
     * @throws NullPointerException if field is null
     * @throws IllegalArgumentException if field is not one of the report's
     * @throws IndexOutOfBoundsException if slot is not 0 to {@code field.count() - 1}
     */
    public boolean has(ReportField field, int slot) {
        indexOf(field, slot);
        return present(field, slot);
    }

    /**
     * @param field a field of {@link #report()}
     * @param slot one of its slots
     * @return the slot's logical value, sign-extended where the logical minimum is negative; for an
     *     array, the value that selects a usage (see {@link ReportField#usage(long)})
     * @throws NullPointerException if field is null
     * @throws IllegalArgumentException if field is not one of the report's, or is wider than 64 bits
     * @throws IndexOutOfBoundsException if slot is not 0 to {@code field.count() - 1}
     * @throws NoSuchElementException if the slot has no value ({@link #has(ReportField, int)} is false)
     */
    public long get(ReportField field, int slot) {
        int k = indexOf(field, slot);
        narrow(field);
        if (!present(field, slot)) {
            throw new NoSuchElementException("slot " + slot + " of " + field + " has no value");
        }
        return values[report.firstSlots[k] + slot];
    }

    /**
     * @param field a variable field of {@link #report()}
     * @param slot one of its slots
     * @return the slot's physical value: its logical value scaled to the physical range and by ten
     *     to the unit exponent, in {@link ReportField#unitText()}
     * @throws NullPointerException if field is null
     * @throws IllegalArgumentException if field is not one of the report's, is an array or is wider than 64 bits
     * @throws IndexOutOfBoundsException if slot is not 0 to {@code field.count() - 1}
     * @throws NoSuchElementException if the slot has no value
     */
    public double physical(ReportField field, int slot) {
        if (Objects.requireNonNull(field, "field").isArray()) {
            throw new IllegalArgumentException("an array's values select usages: no physical value");
        }
        long value = get(field, slot);
        double logicalSpan = field.logicalMaximum() - field.logicalMinimum();
        double scaled = logicalSpan == 0 ? field.physicalMinimum() : field.physicalMinimum()
                + (value - field.logicalMinimum()) * ((field.physicalMaximum() - field.physicalMinimum()) / logicalSpan);
        return field.unitExponent() == 0 ? scaled : scaled * Math.pow(10, field.unitExponent());
    }

    /**
     * @param field a field of {@link #report()}
     * @param slot one of its slots
     * @return the slot's bits, little-endian, in {@code (field.bitSize() + 7) / 8} bytes: the value
     *     of a slot of any width
     * @throws NullPointerException if field is null
     * @throws IllegalArgumentException if field is not one of the report's
     * @throws IndexOutOfBoundsException if slot is not 0 to {@code field.count() - 1}
     * @throws NoSuchElementException if the report was cut short before the slot's end
     */
    public byte[] bytes(ReportField field, int slot) {
        indexOf(field, slot);
        if (!received(field, slot + 1)) {
            throw new NoSuchElementException("slot " + slot + " of " + field + " was cut off");
        }
        int size = field.bitSize();
        byte[] out = new byte[(size + 7) / 8];
        if (size <= 64) {
            long raw = values[report.firstSlots[field.index] + slot];
            for (int i = 0; i < out.length; i++) {
                out[i] = (byte) (raw >>> 8 * i);
            }
            if (size % 8 != 0) {
                out[out.length - 1] &= (byte) ((1 << size % 8) - 1);
            }
            return out;
        }
        int bit = field.bitOffset() + slot * size;   // a wide slot: its report was copied
        for (int i = 0; i < out.length; i++) {
            out[i] = (byte) extract(wire, 0, bit + 8 * i, Math.min(8, size - 8 * i));
        }
        return out;
    }

    /**
     * @param field an array field of {@link #report()}
     * @return the usages its slots select (the keys held down), in slot order, each once; none with
     *     usage ID 0 (no control)
     * @throws NullPointerException if field is null
     * @throws IllegalArgumentException if field is not one of the report's, is not an array, or is
     *     wider than 64 bits (see {@link #bytes})
     * @throws NoSuchElementException if the report was cut short before the field's end
     */
    public int[] activeUsages(ReportField field) {
        if (Objects.requireNonNull(field, "field").count() == 0) {
            return new int[0];
        }
        int k = indexOf(field, 0);
        if (!field.isArray()) {
            throw new IllegalArgumentException("not an array: " + field);
        }
        narrow(field);
        if (!received(field, field.count())) {
            throw new NoSuchElementException(field + " was cut off");
        }
        int[] active = new int[field.count()];
        int n = 0;
        for (int i = 0; i < field.count(); i++) {
            long value = values[report.firstSlots[k] + i];
            long index = value - field.logicalMinimum();
            if (value < field.logicalMinimum() || value > field.logicalMaximum() || index >= field.usageCount) {
                continue;
            }
            int usage = field.usage(index);
            boolean seen = (usage & 0xFFFF) == 0;
            for (int j = 0; j < n && !seen; j++) {
                seen = active[j] == usage;
            }
            if (!seen) {
                active[n++] = usage;
            }
        }
        return Arrays.copyOf(active, n);
    }

    /** @return {@code input report 1: Buttons / Button 1 (Primary) = 1, ...}: every value, the first 32 of a long report */
    @Override
    public String toString() {
        if (report == null) {
            return "no report";
        }
        StringBuilder text = new StringBuilder().append(report.type()).append(" report ").append(report.id())
                .append(':');
        int shown = 0;
        for (ReportField f : report.fieldArray) {
            if (f.is(ReportField.Flag.CONSTANT) || f.usageRanges().isEmpty() || f.bitSize() > 64) {
                continue;
            }
            for (int slot = 0; slot < (f.isArray() ? 1 : f.count()); slot++) {
                if (shown++ == 32) {
                    return text.append(" ...").toString();
                }
                text.append(shown == 1 ? " " : ", ");
                if (f.isArray()) {
                    text.append('[');
                    if (received(f, f.count())) {
                        int[] active = activeUsages(f);
                        for (int i = 0; i < active.length; i++) {
                            text.append(i == 0 ? "" : ", ").append(Usages.name(active[i]));
                        }
                    } else {
                        text.append("absent");
                    }
                    text.append(']');
                } else {
                    text.append(Usages.name(f.usage(slot))).append(" = ")
                            .append(present(f, slot) ? Long.toString(values[report.firstSlots[f.index] + slot])
                                    : "absent");
                }
            }
        }
        return text.toString();
    }
}
