package com.orvanta.hid.descriptor;

/**
 * Builds one report to send, value by value, from {@link ReportDescriptor#builder}: every slot
 * starts at 0. {@link #toBytes()} gives what {@code HidDevice.write} takes, the report ID first (0
 * where the device numbers none); for {@code sendFeatureReport(id, payload)} the payload is the
 * bytes after the first. Not safe for use by two threads at once.
 */
public final class ReportBuilder {
    private final Report report;
    private final byte[] bytes;
    private final int shift;   // from a bit on the wire to the same bit in bytes

    ReportBuilder(Report report) {
        this.report = report;
        shift = report.idBytes == 0 ? 8 : 0;
        bytes = new byte[report.length() + 1 - report.idBytes];
        bytes[0] = (byte) report.id();
    }

    /** @return the report being built */
    public Report report() {
        return report;
    }

    /**
     * Sets the first slot of a usage, in the first field that has it. For a usage of an array field,
     * 1 puts it in a free slot (one that selects no usage, or a usage with ID 0) and 0 clears the
     * slots that select it to 0.
     *
     * @param usage a usage, {@code page << 16 | id}
     * @param value its logical value; for an array's usage 1 (active) or 0
     * @return this builder
     * @throws IllegalArgumentException if the report has no such usage, or the value does not fit
     *     the slot (see {@link #set(ReportField, int, long)}; for an array, is not 0 or 1), or the
     *     usage's array field is wider than 64 bits
     * @throws IllegalStateException if every slot of the usage's array selects another usage
     */
    public ReportBuilder set(int usage, long value) {
        long unsigned = usage & 0xFFFFFFFFL;
        for (ReportField f : report.fieldArray) {
            long position = f.position(unsigned);
            if (position < 0 || !f.isArray() && position >= f.count()) {
                continue;
            }
            if (!f.isArray()) {
                return set(f, (int) position, value);
            }
            if (f.bitSize() > 64) {
                throw new IllegalArgumentException("slots of " + f.bitSize() + " bits: set them as bytes");
            }
            if (value != 0 && value != 1) {
                throw new IllegalArgumentException("an array's usage is set to 1 (active) or 0, not " + value);
            }
            long selector = f.logicalMinimum() + position;
            if (selector > f.logicalMaximum() || !fits(f, selector)) {
                throw new IllegalArgumentException(Usages.name(usage) + " is beyond what " + f + " can select");
            }
            int free = -1;
            for (int slot = f.count() - 1; slot >= 0; slot--) {
                long current = read(f, slot);
                if (current == selector) {
                    if (value == 1) {
                        return this;
                    }
                    write(f, slot, 0);
                } else if (selectsNothing(f, current)) {
                    free = slot;
                }
            }
            if (value == 1) {
                if (free < 0) {
                    throw new IllegalStateException("every slot of " + f + " selects a usage already");
                }
                write(f, free, selector);
            }
            return this;
        }
        throw new IllegalArgumentException("no " + Usages.name(usage) + " in " + report);
    }

    private static boolean selectsNothing(ReportField f, long value) {
        long index = value - f.logicalMinimum();
        return value < f.logicalMinimum() || value > f.logicalMaximum() || index >= f.usageCount
                || (f.usage(index) & 0xFFFF) == 0;
    }

    /**
     * Sets one slot's raw value, within or outside the logical range (a null value, say).
     *
     * @param field a field of {@link #report()}
     * @param slot one of its slots
     * @param value the value: it fits the slot's bits as a two's complement number where the logical
     *     minimum is negative, else as an unsigned one (64 bits take any)
     * @return this builder
     * @throws NullPointerException if field is null
     * @throws IllegalArgumentException if field is not one of the report's, is wider than 64 bits,
     *     or value does not fit
     * @throws IndexOutOfBoundsException if slot is not 0 to {@code field.count() - 1}
     */
    public ReportBuilder set(ReportField field, int slot, long value) {
        check(field, slot);
        if (field.bitSize() > 64) {
            throw new IllegalArgumentException("slots of " + field.bitSize() + " bits: set them as bytes");
        }
        if (!fits(field, value)) {
            throw new IllegalArgumentException(value + " does not fit " + field.bitSize()
                    + (field.logicalMinimum() < 0 ? " signed bits" : " unsigned bits"));
        }
        write(field, slot, value);
        return this;
    }

    /**
     * Sets one slot's bits, of a slot of any width.
     *
     * @param field a field of {@link #report()}
     * @param slot one of its slots
     * @param value the bits, little-endian: {@code (field.bitSize() + 7) / 8} bytes, none set beyond the slot's
     * @return this builder
     * @throws NullPointerException if field or value is null
     * @throws IllegalArgumentException if field is not one of the report's, or value's length or bits do not fit
     * @throws IndexOutOfBoundsException if slot is not 0 to {@code field.count() - 1}
     */
    public ReportBuilder set(ReportField field, int slot, byte[] value) {
        check(field, slot);
        int size = field.bitSize();
        int spare = 8 * java.util.Objects.requireNonNull(value, "value").length - size;
        if (value.length != (size + 7) / 8 || spare > 0 && (value[value.length - 1] & 0xFF) >>> (8 - spare) != 0) {
            throw new IllegalArgumentException(value.length + " bytes do not fit a slot of " + size + " bits");
        }
        int bit = field.bitOffset() + slot * size + shift;
        for (int i = 0; i < value.length; i++) {
            implement(bytes, bit + 8 * i, Math.min(8, size - 8 * i), value[i]);
        }
        return this;
    }

    /** @return the report: its ID first (0 where the device numbers none), then its bytes; a new array */
    public byte[] toBytes() {
        return bytes.clone();
    }

    private void check(ReportField field, int slot) {
        ReportField[] fields = report.fieldArray;
        int k = java.util.Objects.requireNonNull(field, "field").index;
        if (k >= fields.length || fields[k] != field && !fields[k].equals(field)) {
            throw new IllegalArgumentException("not a field of " + report + ": " + field);
        }
        if (slot < 0 || slot >= field.count()) {
            throw new IndexOutOfBoundsException("slot " + slot + " of " + field.count());
        }
    }

    private static boolean fits(ReportField field, long value) {
        int size = field.bitSize();
        if (size >= 64 || size == 0) {
            return size > 0 || value == 0;
        }
        if (field.logicalMinimum() < 0) {
            long high = value >> (size - 1);   // all sign: 0 or -1
            return high == 0 || high == -1;
        }
        return value >>> size == 0;
    }

    private long read(ReportField field, int slot) {
        int size = field.bitSize();
        if (size == 0) {
            return 0;
        }
        long raw = ReportValues.extract(bytes, 0, field.bitOffset() + slot * size + shift, size);
        return field.logicalMinimum() < 0 ? raw << (64 - size) >> (64 - size) : raw;
    }

    private void write(ReportField field, int slot, long value) {
        implement(bytes, field.bitOffset() + slot * field.bitSize() + shift, field.bitSize(), value);
    }

    /** Puts the low size bits of value at bit, little-endian. */
    private static void implement(byte[] b, int bit, int size, long value) {
        while (size > 0) {
            int i = bit >>> 3;
            int at = bit & 7;
            int n = Math.min(8 - at, size);
            int mask = (1 << n) - 1 << at;
            b[i] = (byte) (b[i] & ~mask | (int) value << at & mask);
            value >>>= n;
            bit += n;
            size -= n;
        }
    }
}
