package com.orvanta.hid.descriptor;

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
    // the fields' layout in flat arrays, for decoding
    final int idBytes;
    final ReportField[] fieldArray;
    final int[] firstSlots;
    final int slots;

    Report(ReportType type, int id, boolean numbered, int dataBits, List<ReportField> fields) {
        this.type = type;
        this.id = id;
        this.idBytes = numbered ? 1 : 0;
        this.length = idBytes + (dataBits + 7) / 8;
        this.fields = fields;
        fieldArray = fields.toArray(new ReportField[0]);
        firstSlots = new int[fieldArray.length];
        int slot = 0;
        for (int i = 0; i < fieldArray.length; i++) {
            firstSlots[i] = slot;
            slot += fieldArray[i].count();
        }
        slots = slot;
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
