package com.orvanta.hid.descriptor;

import java.util.Arrays;
import java.util.List;
import java.util.Objects;

/**
 * One report of a descriptor: its type, its ID and the fields it carries, in the order of their
 * bits. An immutable value, equal to another report with the same type, ID, length and fields.
 */
public final class Report {
    private final ReportType type;
    private final int id;
    private final int length;
    private final List<ReportField> fields;
    // how the fields decode, in runs of one shape: the shape, where (a byte, or a bit), how many slots, their size
    static final int UNSIGNED_BYTES = 0;
    static final int SIGNED_BYTES = 1;
    static final int UNSIGNED_SHORTS = 2;
    static final int SIGNED_SHORTS = 3;
    static final int BITS = 4;
    static final int UNSIGNED = 5;
    static final int SIGNED = 6;
    static final int NONE = 7;
    final int[] decoding;
    final int idBytes;
    final ReportField[] fieldArray;
    final int[] firstSlots;
    final int slots;
    final boolean wide;   // has slots over 64 bits, read as bytes

    Report(ReportType type, int id, boolean numbered, int dataBits, List<ReportField> fields) {
        this.type = type;
        this.id = id;
        this.idBytes = numbered ? 1 : 0;
        this.length = idBytes + (dataBits + 7) / 8;
        this.fields = fields;
        fieldArray = fields.toArray(new ReportField[0]);
        firstSlots = new int[fieldArray.length];
        int[] ops = new int[4 * fieldArray.length];
        int n = 0;
        int slot = 0;
        int mostZeroSized = 0;
        boolean anyWide = false;
        for (int i = 0; i < fieldArray.length; i++) {
            ReportField f = fieldArray[i];
            int size = f.bitSize();
            if (size == 0) {
                // takes no bits, so the report's length never bounds it: all such fields share one block
                firstSlots[i] = -1;
                mostZeroSized = Math.max(mostZeroSized, f.count());
                continue;
            }
            firstSlots[i] = slot;
            slot += f.count();
            anyWide |= size > 64;
            int bit = f.bitOffset();
            boolean signed = f.logicalMinimum() < 0;
            boolean aligned = bit % 8 == 0;
            int shape = size > 64 ? NONE
                    : size == 8 && aligned ? (signed ? SIGNED_BYTES : UNSIGNED_BYTES)
                    : size == 16 && aligned ? (signed ? SIGNED_SHORTS : UNSIGNED_SHORTS)
                    : size == 1 && !signed && f.count() > 0 && f.count() <= 57 ? BITS
                    : signed ? SIGNED : UNSIGNED;
            // a field that goes on where the last left off, in the same shape, joins it
            if (n > 0 && ops[n - 4] == shape && ops[n - 1] == size
                    && ops[n - 3] + ops[n - 2] * size == bit && (shape != BITS || ops[n - 2] + f.count() <= 57)) {
                ops[n - 2] += f.count();
                continue;
            }
            ops[n] = shape;
            ops[n + 1] = bit;
            ops[n + 2] = f.count();
            ops[n + 3] = size;
            n += 4;
        }
        for (int op = 0; op < n; op += 4) {
            if (ops[op] <= SIGNED_SHORTS) {
                ops[op + 1] /= 8;   // these read whole bytes
            }
        }
        for (int i = 0; i < fieldArray.length; i++) {
            if (firstSlots[i] < 0) {
                firstSlots[i] = slot;
            }
        }
        if (mostZeroSized > 0) {   // one run of zeros after the others' slots
            ops[n] = NONE;
            ops[n + 1] = 0;
            ops[n + 2] = mostZeroSized;
            ops[n + 3] = 0;
            n += 4;
        }
        decoding = Arrays.copyOf(ops, n);
        slots = slot + mostZeroSized;
        wide = anyWide;
    }

    /** @return input, output or feature */
    public ReportType type() {
        return type;
    }

    /** @return the report ID, 1 to 255; 0 where the device numbers none of this type */
    public int id() {
        return id;
    }

    /** @return its length on the wire in bytes, the report ID byte included where the device numbers its reports */
    public int length() {
        return length;
    }

    /** @return the fields, in the order of their bits, padding included */
    public List<ReportField> fields() {
        return fields;
    }

    @Override
    public boolean equals(Object o) {
        if (!(o instanceof Report)) {
            return false;
        }
        Report r = (Report) o;
        return type == r.type && id == r.id && length == r.length && fields.equals(r.fields);
    }

    @Override
    public int hashCode() {
        return Objects.hash(type, id, length, fields);
    }

    /** @return {@code input report 1: 5 bytes, 4 fields} */
    @Override
    public String toString() {
        return type + " report " + id + ": " + length + (length == 1 ? " byte, " : " bytes, ") + fields.size()
                + (fields.size() == 1 ? " field" : " fields");
    }
}
