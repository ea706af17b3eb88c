package com.orvanta.hid.descriptor;

import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import java.util.Objects;

/**
 * A parsed HID report descriptor: the collections it declares and the reports it lays out,
 * and the way to decode the reports a device sends and to build the ones it takes. Immutable
 * and safe to share between threads; equal to another parsed from the same bytes.
 *
 * <pre>{@code
 * ReportDescriptor descriptor = ReportDescriptor.parse(bytes);
 * ReportValues values = descriptor.decodeInput(device.read(1000));
 * long x = values.get(Usages.forName("Generic Desktop Controls / Direction-X"));
 * device.write(descriptor.builder(ReportType.OUTPUT, 0).set(Usages.of(0x08, 0x02), 1).toBytes());
 * }</pre>
 */
public final class ReportDescriptor {
    private final byte[] bytes;
    private final List<HidCollection> collections;
    private final List<Report> reports;
    private final Report[][] byId = new Report[3][];
    private final boolean[] numbered = new boolean[3];
    // what a holder needs to decode any report of this descriptor
    final int longestReport;
    final int mostSlots;

    ReportDescriptor(byte[] bytes, List<HidCollection> collections, List<Report> reports) {
        this.bytes = bytes;
        this.collections = collections;
        this.reports = reports;
        int longest = 0;
        int slots = 0;
        for (Report r : reports) {
            int type = r.type().ordinal();
            if (byId[type] == null) {
                byId[type] = new Report[256];
            }
            byId[type][r.id()] = r;
            numbered[type] |= r.id() != 0;
            longest = Math.max(longest, r.length());
            slots = Math.max(slots, r.slots);
        }
        longestReport = longest;
        mostSlots = slots;
    }

    /**
     * Parses a report descriptor as the Linux kernel does, but for long items, which it skips, and
     * usage ranges, which it keeps whole. Time and memory are bounded for any bytes.
     *
     * @param descriptor the descriptor's bytes, 1 to 4096 of them (the most the kernel takes)
     * @return the descriptor
     * @throws NullPointerException if descriptor is null
     * @throws ReportDescriptorException if the bytes break the HID rules as the kernel applies them:
     *     an item cut short, a Report Size over 256, a Report Count over 12288, a Report ID of 0 or
     *     over 255, a Push deeper than 4, a Pop without Push, an End Collection without Collection,
     *     a Logical Maximum below the Minimum, an unknown global item, a report longer than 16383
     *     bytes, Delimiters out of order, a collection left open
     */
    public static ReportDescriptor parse(byte[] descriptor) throws ReportDescriptorException {
        return Parser.parse(Objects.requireNonNull(descriptor, "descriptor").clone());
    }

    /** @return the descriptor's bytes (a copy) */
    public byte[] bytes() {
        return bytes.clone();
    }

    /** @return the top-level collections, in order, each with the ones nested in it */
    public List<HidCollection> collections() {
        return collections;
    }

    /** @return every report: the input reports, then output, then feature, each type by ID */
    public List<Report> reports() {
        return reports;
    }

    /**
     * @param type input, output or feature
     * @param id the report ID, 0 where the device numbers none
     * @return that report, or null where the descriptor lays out none
     * @throws NullPointerException if type is null
     * @throws IllegalArgumentException if id is not 0 to 255
     */
    public Report report(ReportType type, int id) {
        checkId(id);
        Report[] ofType = byId[Objects.requireNonNull(type, "type").ordinal()];
        return ofType == null ? null : ofType[id];
    }

    private static void checkId(int id) {
        if (id < 0 || id > 255) {
            throw new IllegalArgumentException("a report ID is 0 to 255: " + id);
        }
    }

    /**
     * Decodes an input report as {@code HidDevice.read} and input report listeners give it: the
     * report ID first only where the device numbers its reports.
     *
     * @param report the report
     * @return its values, new; empty (no {@link ReportValues#report()}) for a report ID the
     *     descriptor does not know
     * @throws NullPointerException if report is null
     */
    public ReportValues decodeInput(byte[] report) {
        ReportValues values = new ReportValues();
        decodeInput(report, 0, report.length, values);
        return values;
    }

    /**
     * As {@link #decodeInput(byte[])}, into a holder of the caller's, allocating nothing once the
     * holder has decoded a report of this descriptor.
     *
     * @param report holds the report
     * @param offset where it starts in report
     * @param length its length: what {@code read} returned
     * @param into the holder, its previous values replaced
     * @throws NullPointerException if report or into is null
     * @throws IndexOutOfBoundsException if offset and length are not within report
     */
    public void decodeInput(byte[] report, int offset, int length, ReportValues into) {
        checkRange(report, offset, length);
        Objects.requireNonNull(into, "into");
        int type = ReportType.INPUT.ordinal();
        int id = numbered[type] && length > 0 ? report[offset] & 0xFF : 0;
        into.fill(this, length == 0 || byId[type] == null ? null : byId[type][id], report, offset, length);
    }

    /**
     * Decodes a report as {@code getFeatureReport} and {@code getInputReport} give it (and
     * {@link ReportBuilder#toBytes()} builds it): the report ID first, 0 where the device numbers
     * none.
     *
     * @param type the type of the report: feature, input (or output)
     * @param report the report
     * @return its values, new; empty (no {@link ReportValues#report()}) for a report ID the
     *     descriptor does not know
     * @throws NullPointerException if type or report is null
     */
    public ReportValues decode(ReportType type, byte[] report) {
        ReportValues values = new ReportValues();
        decode(type, report, 0, report.length, values);
        return values;
    }

    /**
     * As {@link #decode(ReportType, byte[])}, into a holder of the caller's, allocating nothing
     * once the holder has decoded a report of this descriptor.
     *
     * @param type the type of the report
     * @param report holds the report, its ID first
     * @param offset where it starts in report
     * @param length its length, the ID byte included
     * @param into the holder, its previous values replaced
     * @throws NullPointerException if type, report or into is null
     * @throws IndexOutOfBoundsException if offset and length are not within report
     */
    public void decode(ReportType type, byte[] report, int offset, int length, ReportValues into) {
        Objects.requireNonNull(type, "type");
        checkRange(report, offset, length);
        Objects.requireNonNull(into, "into");
        Report[] ofType = byId[type.ordinal()];
        Report found = length == 0 || ofType == null ? null : ofType[report[offset] & 0xFF];
        if (found != null && !numbered[type.ordinal()]) {
            offset++;   // the 0 before a report the device does not number
            length--;
        }
        into.fill(this, found, report, offset, length);
    }

    private static void checkRange(byte[] report, int offset, int length) {
        Objects.requireNonNull(report, "report");
        if (offset < 0 || length < 0 || length > report.length - offset) {
            throw new IndexOutOfBoundsException("offset " + offset + ", length " + length + " of "
                    + report.length + " bytes");
        }
    }

    /**
     * @param type output or feature (or input)
     * @param id the report ID, 0 where the device numbers none
     * @return a builder of that report, its values all 0
     * @throws NullPointerException if type is null
     * @throws IllegalArgumentException if the descriptor lays out no such report
     */
    public ReportBuilder builder(ReportType type, int id) {
        Report report = report(type, id);
        if (report == null) {
            throw new IllegalArgumentException("the descriptor lays out no " + type + " report " + id);
        }
        return new ReportBuilder(report);
    }

    /**
     * @return each item of the descriptor, in order, with its offset, bytes, collection depth and
     *     meaning: what a dump prints
     */
    public List<Item> items() {
        List<Item> items = new ArrayList<>();
        Parser.walk(bytes, (offset, length, type, tag, size, data, depth, page, logicalMinimum, physicalMinimum) ->
                items.add(new Item(offset, Arrays.copyOfRange(bytes, offset, offset + length), depth,
                        Item.meaning(type, tag, size, data, page, logicalMinimum, physicalMinimum))));
        return Collections.unmodifiableList(items);
    }

    /** One item of a descriptor, for a dump. An immutable value. */
    public static final class Item {
        private static final String[] MAIN = {null, null, null, null, null, null, null, null, "Input", "Output",
            "Collection", "Feature", "End Collection"};
        private static final String[] GLOBAL = {"Usage Page", "Logical Minimum", "Logical Maximum",
            "Physical Minimum", "Physical Maximum", "Unit Exponent", "Unit", "Report Size", "Report ID",
            "Report Count", "Push", "Pop"};
        private static final String[] LOCAL = {"Usage", "Usage Minimum", "Usage Maximum", "Designator Index",
            "Designator Minimum", "Designator Maximum", null, "String Index", "String Minimum", "String Maximum",
            "Delimiter"};
        private static final String[] COLLECTIONS = {"Physical", "Application", "Logical", "Report",
            "Named Array", "Usage Switch", "Usage Modifier"};

        private final int offset;
        private final byte[] bytes;
        private final int depth;
        private final String meaning;

        Item(int offset, byte[] bytes, int depth, String meaning) {
            this.offset = offset;
            this.bytes = bytes;
            this.depth = depth;
            this.meaning = meaning;
        }

        /** @return its byte offset in the descriptor */
        public int offset() {
            return offset;
        }

        /** @return its bytes, prefix first (a copy) */
        public byte[] bytes() {
            return bytes.clone();
        }

        /** @return how many collections it is in: 0 outside any (an End Collection counts as outside its own) */
        public int depth() {
            return depth;
        }

        /** @return what it says: {@code Usage Page (Generic Desktop Controls)}, {@code Input (Data,Var,Abs)} */
        public String meaning() {
            return meaning;
        }

        static String meaning(int type, int tag, int size, long data, long page, long logicalMinimum,
                long physicalMinimum) {
            long signed = size == 0 ? 0 : data << (64 - 8 * size) >> (64 - 8 * size);
            if (type == Parser.LONG_ITEM) {
                return String.format("Long item (tag 0x%02x)", tag);
            }
            if (type == 0) {
                String name = tag < MAIN.length ? MAIN[tag] : null;
                if (name == null) {
                    return String.format("Main item, tag 0x%x (ignored)", tag);
                }
                if (tag == 0xA) {
                    int kind = (int) data & 0xFF;
                    return name + " (" + (kind < COLLECTIONS.length ? COLLECTIONS[kind] : String.format("0x%02x", kind))
                            + ")";
                }
                return tag == 0xC ? name : name + " (" + ReportField.flagsText((int) data) + ")";
            }
            if (type == 1) {
                String name = tag < GLOBAL.length ? GLOBAL[tag] : String.format("Global item, tag 0x%x", tag);
                switch (tag) {
                    case 0x0:
                        return name + " (" + (data <= 0xFFFF ? Usages.pageName((int) data) : String.format("0x%x", data))
                                + ")";
                    case 0x1:
                    case 0x3:
                        return name + " (" + signed + ")";
                    case 0x2:
                        return name + " (" + (logicalMinimum < 0 ? signed : data) + ")";
                    case 0x4:
                        return name + " (" + (physicalMinimum < 0 ? signed : data) + ")";
                    case 0x5:
                        return name + " (" + ((signed & ~0xF) == 0 ? (int) signed << 28 >> 28 : signed) + ")";
                    case 0x6:
                        return name + " (" + (data == 0 ? "none" : ReportField.unitText((int) data)) + ")";
                    case 0xA:
                    case 0xB:
                        return name;
                    default:
                        return name + " (" + data + ")";
                }
            }
            if (type == 2) {
                String name = tag < LOCAL.length ? LOCAL[tag] : null;
                if (name == null) {
                    return String.format("Local item, tag 0x%x (ignored)", tag);
                }
                if (tag <= 2) {
                    return name + " (" + Usages.name((int) (size <= 2 ? (page & 0xFFFF) << 16 | data : data)) + ")";
                }
                return tag == 0xA ? name + (data != 0 ? " (open)" : " (close)") : name + " (" + data + ")";
            }
            return String.format("Reserved item, tag 0x%x (ignored)", tag);
        }

        @Override
        public boolean equals(Object o) {
            if (!(o instanceof Item)) {
                return false;
            }
            Item i = (Item) o;
            return offset == i.offset && depth == i.depth && Arrays.equals(bytes, i.bytes) && meaning.equals(i.meaning);
        }

        @Override
        public int hashCode() {
            return Objects.hash(offset, depth, Arrays.hashCode(bytes), meaning);
        }

        /** @return {@code 12: 19 01  Usage Minimum (Buttons / Button 1 (Primary))} */
        @Override
        public String toString() {
            StringBuilder text = new StringBuilder().append(offset).append(':');
            for (byte b : bytes) {
                text.append(' ').append(Character.forDigit((b & 0xFF) >> 4, 16)).append(Character.forDigit(b & 0xF, 16));
            }
            return text.append("  ").append(meaning).toString();
        }
    }

    /** Equal to another descriptor of the same bytes, which lays out the same. */
    @Override
    public boolean equals(Object o) {
        return o instanceof ReportDescriptor && Arrays.equals(bytes, ((ReportDescriptor) o).bytes);
    }

    @Override
    public int hashCode() {
        return Arrays.hashCode(bytes);
    }

    /** @return {@code report descriptor of 67 bytes: input report 0: 8 bytes, 4 fields} and its other reports */
    @Override
    public String toString() {
        StringBuilder text = new StringBuilder("report descriptor of ").append(bytes.length).append(" bytes:");
        for (int i = 0; i < reports.size(); i++) {
            if (i == 8) {
                text.append(" and ").append(reports.size() - i).append(" more");
                break;
            }
            text.append(i == 0 ? " " : "; ").append(reports.get(i));
        }
        return reports.isEmpty() ? text.append(" no reports").toString() : text.toString();
    }
}
