package com.orvanta.hid.descriptor;

import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;

/**
 * One Input, Output or Feature item of a report: {@link #count()} slots of {@link #bitSize()}
 * bits each, from {@link #bitOffset()}. A variable field gives each slot a value of the usage
 * {@link #usage(int) usage(slot)}; an array field's slots each hold the index of a usage from
 * {@link #usageRanges()} that is active (a key held down), counted from the logical minimum. An
 * immutable value, equal to another with the same attributes.
 */
public final class ReportField {
    /** The bits of the main item's data value. */
    public enum Flag {
        /** Constant (padding), not data. */
        CONSTANT(0x001),
        /** Variable: one value per slot; without it, an array of active usages. */
        VARIABLE(0x002),
        /** Relative to the last report, not absolute. */
        RELATIVE(0x004),
        /** Wraps around at its extremes. */
        WRAP(0x008),
        /** Nonlinear in what it measures. */
        NONLINEAR(0x010),
        /** No preferred state to return to. */
        NO_PREFERRED_STATE(0x020),
        /** Has a null state: a value outside the logical range means no value. */
        NULL_STATE(0x040),
        /** Volatile (Output and Feature items): may change without the host's doing. */
        VOLATILE(0x080),
        /** Buffered bytes rather than a bit field. */
        BUFFERED_BYTES(0x100);

        private final int bit;

        Flag(int bit) {
            this.bit = bit;
        }

        /** @return this flag's bit in {@link ReportField#flags()} */
        public int bit() {
            return bit;
        }
    }

    /**
     * A range of usages (or of designator or string indexes), first to last inclusive, as
     * unsigned 32-bit numbers. An immutable value.
     */
    public static final class Range {
        private final int first;
        private final int last;

        Range(long first, long last) {
            this.first = (int) first;
            this.last = (int) last;
        }

        /** @return the first, as an unsigned 32-bit number */
        public int first() {
            return first;
        }

        /** @return the last, as an unsigned 32-bit number, never below {@link #first()} */
        public int last() {
            return last;
        }

        /** @return how many it holds, 1 to 2^32 */
        public long size() {
            return (last & 0xFFFFFFFFL) - (first & 0xFFFFFFFFL) + 1;
        }

        /** @return whether value, as an unsigned 32-bit number, is within */
        public boolean contains(int value) {
            return Integer.compareUnsigned(value, first) >= 0 && Integer.compareUnsigned(value, last) <= 0;
        }

        @Override
        public boolean equals(Object o) {
            return o instanceof Range && ((Range) o).first == first && ((Range) o).last == last;
        }

        @Override
        public int hashCode() {
            return 31 * first + last;
        }

        /** @return {@code 0x00090001-0x00090010}, or one number where first is last */
        @Override
        public String toString() {
            return first == last ? String.format("0x%08x", first) : String.format("0x%08x-0x%08x", first, last);
        }
    }

    private final ReportType reportType;
    private final int reportId;
    private final int bitOffset;
    private final int bitSize;
    private final int count;
    private final int flags;
    private final List<Range> usageRanges;
    private final long logicalMinimum;
    private final long logicalMaximum;
    private final long physicalMinimum;
    private final long physicalMaximum;
    private final int unit;
    private final int unitExponent;
    private final List<Range> designators;
    private final List<Range> strings;
    // usageRanges as unsigned numbers, and the index of each range's first usage
    final long[] firsts;
    final long[] lasts;
    final long[] bases;
    final long usageCount;
    final int index;   // in its report's fields

    ReportField(int index, ReportType reportType, int reportId, int bitOffset, int bitSize, int count, int flags,
            long[] usages, int usageEntries, long logicalMinimum, long logicalMaximum, long physicalMinimum,
            long physicalMaximum, int unit, int unitExponent, List<Range> designators, List<Range> strings) {
        this.index = index;
        this.reportType = reportType;
        this.reportId = reportId;
        this.bitOffset = bitOffset;
        this.bitSize = bitSize;
        this.count = count;
        this.flags = flags;
        this.logicalMinimum = logicalMinimum;
        this.logicalMaximum = logicalMaximum;
        this.physicalMinimum = physicalMinimum;
        this.physicalMaximum = physicalMaximum;
        this.unit = unit;
        this.unitExponent = unitExponent;
        this.designators = designators;
        this.strings = strings;
        firsts = new long[usageEntries];
        lasts = new long[usageEntries];
        bases = new long[usageEntries];
        List<Range> ranges = new ArrayList<>(usageEntries);
        long total = 0;
        for (int i = 0; i < usageEntries; i++) {
            firsts[i] = usages[2 * i];
            lasts[i] = usages[2 * i + 1];
            bases[i] = total;
            total += lasts[i] - firsts[i] + 1;
            ranges.add(new Range(firsts[i], lasts[i]));
        }
        usageCount = total;
        usageRanges = Collections.unmodifiableList(ranges);
    }

    /** @return the type of the report this field is in */
    public ReportType reportType() {
        return reportType;
    }

    /** @return the ID of the report this field is in, 0 where the device numbers none */
    public int reportId() {
        return reportId;
    }

    /** @return where the first slot starts, in bits from the start of the report on the wire (its ID byte included) */
    public int bitOffset() {
        return bitOffset;
    }

    /** @return the bits of each slot, 0 to 256 (Report Size) */
    public int bitSize() {
        return bitSize;
    }

    /** @return how many slots, 0 to 12288 (Report Count) */
    public int count() {
        return count;
    }

    /** @return the main item's data value, whose low bits are the {@link Flag}s */
    public int flags() {
        return flags;
    }

    /** @return whether the main item has that flag */
    public boolean is(Flag flag) {
        return (flags & flag.bit) != 0;
    }

    /** @return whether this is an array (of active usages), not a variable field */
    public boolean isArray() {
        return !is(Flag.VARIABLE);
    }

    /**
     * @return the usages given to this field, in order, each Usage a range of one and each Usage
     *     Minimum and Maximum pair one range; empty for a field without usages (padding)
     */
    public List<Range> usageRanges() {
        return usageRanges;
    }

    /**
     * The index-th of this field's usages, counting through {@link #usageRanges()}: for a variable
     * field the usage of slot index (the last usage for the slots beyond them all), for an array the
     * usage that the value {@code logicalMinimum() + index} selects.
     *
     * @param index 0 or more
     * @return the usage, {@code page << 16 | id}; 0 for a field without usages
     * @throws IndexOutOfBoundsException if index is negative
     */
    public int usage(long index) {
        if (index < 0) {
            throw new IndexOutOfBoundsException("usage index " + index);
        }
        for (int i = 0; i < firsts.length; i++) {
            if (index < lasts[i] - firsts[i] + 1) {
                return (int) (firsts[i] + index);
            }
            index -= lasts[i] - firsts[i] + 1;
        }
        return firsts.length == 0 ? 0 : (int) lasts[firsts.length - 1];
    }

    /** @return where usage (unsigned) is in this field's usages, or -1 */
    long position(long usage) {
        for (int i = 0; i < firsts.length; i++) {
            if (usage >= firsts[i] && usage <= lasts[i]) {
                return bases[i] + usage - firsts[i];
            }
        }
        return -1;
    }

    /** @return for each slot, {@link #usage(long) usage(slot)} */
    public int[] usages() {
        int[] usages = new int[count];
        int range = 0;
        long next = firsts.length == 0 ? 0 : firsts[0];
        for (int slot = 0; slot < count; slot++) {
            usages[slot] = (int) next;
            if (range < firsts.length && next < lasts[range]) {
                next++;
            } else if (range + 1 < firsts.length) {
                next = firsts[++range];
            }
        }
        return usages;
    }

    /** @return the logical minimum (signed) */
    public long logicalMinimum() {
        return logicalMinimum;
    }

    /**
     * @return the logical maximum: sign-extended where the logical minimum is negative, else
     *     unsigned, up to 2^32 - 1
     */
    public long logicalMaximum() {
        return logicalMaximum;
    }

    /** @return the physical minimum; the logical one where the descriptor gives both physical ones as 0 */
    public long physicalMinimum() {
        return physicalMinimum;
    }

    /** @return the physical maximum; the logical one where the descriptor gives both physical ones as 0 */
    public long physicalMaximum() {
        return physicalMaximum;
    }

    /** @return the Unit item's value: a system and exponents of length, mass, time, ... in nibbles; 0 for none */
    public int unit() {
        return unit;
    }

    /** @return the power of ten that physical values are in, -8 to 7 where the item gives a nibble */
    public int unitExponent() {
        return unitExponent;
    }

    /**
     * @return the unit as text: {@code "cm"}, {@code "g"}, {@code "s"}, {@code "cm/s^2"} ...; "" for
     *     none; {@code "unit 0x..."} for a system the HID rules do not define
     */
    public String unitText() {
        return unitText(unit);
    }

    /** @return the Designator Index and Minimum/Maximum items given to this field, in order; mostly empty */
    public List<Range> designatorIndexes() {
        return designators;
    }

    /** @return the String Index and Minimum/Maximum items given to this field, in order; mostly empty */
    public List<Range> stringIndexes() {
        return strings;
    }

    private static final String[][] UNITS = {
        {"cm", "g", "s", "K", "A", "cd"},
        {"rad", "g", "s", "K", "A", "cd"},
        {"in", "slug", "s", "\u00b0F", "A", "cd"},
        {"deg", "slug", "s", "\u00b0F", "A", "cd"},
    };

    static String unitText(int unit) {
        int system = unit & 0xF;
        if (unit == 0 || system == 0 && (unit & 0xF0000000) == 0) {
            return unit == 0 ? "" : String.format("unit 0x%x", unit);
        }
        if (system > 4 || (unit & 0xF0000000) != 0) {
            return String.format("unit 0x%x", unit);
        }
        StringBuilder up = new StringBuilder();
        StringBuilder down = new StringBuilder();
        for (int i = 0; i < 6; i++) {
            int exponent = (unit >>> (4 * (i + 1))) << 28 >> 28;   // a signed nibble
            if (exponent == 0) {
                continue;
            }
            StringBuilder side = exponent > 0 ? up : down;
            side.append(side.length() > 0 ? "*" : "").append(UNITS[system - 1][i]);
            if (Math.abs(exponent) != 1) {
                side.append('^').append(Math.abs(exponent));
            }
        }
        if (down.length() == 0) {
            return up.toString();
        }
        return (up.length() == 0 ? "1" : up) + "/" + down;
    }

    @Override
    public boolean equals(Object o) {
        if (!(o instanceof ReportField)) {
            return false;
        }
        ReportField f = (ReportField) o;
        return reportType == f.reportType && reportId == f.reportId && bitOffset == f.bitOffset
                && bitSize == f.bitSize && count == f.count && flags == f.flags
                && logicalMinimum == f.logicalMinimum && logicalMaximum == f.logicalMaximum
                && physicalMinimum == f.physicalMinimum && physicalMaximum == f.physicalMaximum
                && unit == f.unit && unitExponent == f.unitExponent && usageRanges.equals(f.usageRanges)
                && designators.equals(f.designators) && strings.equals(f.strings);
    }

    @Override
    public int hashCode() {
        return Arrays.hashCode(new Object[] {reportType, reportId, bitOffset, bitSize, count, flags,
            logicalMinimum, logicalMaximum, physicalMinimum, physicalMaximum, unit, unitExponent, usageRanges,
            designators, strings});
    }

    /**
     * @return one line: {@code bit 8: 16 x 1, Data,Var,Abs, Buttons / Button 1 (Primary) .. Buttons /
     *     Button 16, logical 0 to 1}, then the physical range and unit where they say more
     */
    @Override
    public String toString() {
        StringBuilder text = new StringBuilder();
        text.append("bit ").append(bitOffset).append(": ").append(count).append(" x ").append(bitSize).append(", ")
                .append(flagsText(flags));
        for (int i = 0; i < Math.min(firsts.length, 4); i++) {
            text.append(i == 0 ? ", " : "; ").append(Usages.name((int) firsts[i]));
            if (lasts[i] != firsts[i]) {
                text.append(" .. ").append(Usages.name((int) lasts[i]));
            }
        }
        if (firsts.length > 4) {
            text.append("; and ").append(firsts.length - 4).append(" more");
        }
        text.append(", logical ").append(logicalMinimum).append(" to ").append(logicalMaximum);
        if (physicalMinimum != logicalMinimum || physicalMaximum != logicalMaximum || unit != 0
                || unitExponent != 0) {
            text.append(", physical ").append(physicalMinimum).append(" to ").append(physicalMaximum);
            if (unitExponent != 0) {
                text.append(" x 10^").append(unitExponent);
            }
            if (unit != 0) {
                text.append(' ').append(unitText());
            }
        }
        return text.toString();
    }

    static String flagsText(int flags) {
        StringBuilder text = new StringBuilder();
        text.append((flags & 1) != 0 ? "Const" : "Data").append((flags & 2) != 0 ? ",Var" : ",Array")
                .append((flags & 4) != 0 ? ",Rel" : ",Abs");
        String[] others = {"Wrap", "Nonlinear", "NoPreferred", "Null", "Volatile", "Buffered"};
        for (int i = 0; i < others.length; i++) {
            if ((flags & (8 << i)) != 0) {
                text.append(',').append(others[i]);
            }
        }
        return text.toString();
    }
}
