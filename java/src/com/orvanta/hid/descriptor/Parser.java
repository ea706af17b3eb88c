package com.orvanta.hid.descriptor;

import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;

/**
 * One walk over a descriptor's items, keeping the state the Linux kernel's parser keeps
 * (drivers/hid/hid-core.c): the global items and their Push stack, the local items since the last
 * main item, the open collections, and each report's size so far. The fields' offsets on the wire
 * are known only at the end, when it is known which report types are numbered.
 */
final class Parser {
    /** The kernel takes no longer descriptor from any transport (HID_MAX_DESCRIPTOR_SIZE). */
    static final int MAX_LENGTH = 4096;
    private static final int MAX_REPORT_SIZE = 256;
    private static final int MAX_REPORT_COUNT = 12288;
    private static final int MAX_PUSH = 4;
    private static final int MAX_REPORT_BYTES = 16383;

    /** The item type the listener hears for a long item. */
    static final int LONG_ITEM = 4;

    /** Where the walk is, for a caller that lists the items. */
    interface ItemListener {
        void item(int offset, int length, int type, int tag, int size, long data, int depth, long usagePage,
                long logicalMinimum, long physicalMinimum);
    }

    private static final class Globals {
        long usagePage;
        long logicalMinimum;
        long logicalMaximum;
        long physicalMinimum;
        long physicalMaximum;
        int unitExponent;
        int unit;
        int reportSize;
        int reportId;
        int reportCount;

        Globals copy() {
            Globals c = new Globals();
            c.usagePage = usagePage;
            c.logicalMinimum = logicalMinimum;
            c.logicalMaximum = logicalMaximum;
            c.physicalMinimum = physicalMinimum;
            c.physicalMaximum = physicalMaximum;
            c.unitExponent = unitExponent;
            c.unit = unit;
            c.reportSize = reportSize;
            c.reportId = reportId;
            c.reportCount = reportCount;
            return c;
        }
    }

    /** A field as its main item declares it; its offset counts from after the report ID byte. */
    private static final class FieldSpec {
        ReportType type;
        int reportId;
        int dataBit;
        int size;
        int count;
        int flags;
        long[] usages;
        int usageEntries;
        long logicalMinimum;
        long logicalMaximum;
        long physicalMinimum;
        long physicalMaximum;
        int unit;
        int unitExponent;
        List<ReportField.Range> designators;
        List<ReportField.Range> strings;
        ReportField made;
    }

    private static final class ReportSpec {
        final ReportType type;
        final int id;
        int bits;
        final List<FieldSpec> fields = new ArrayList<>();

        ReportSpec(ReportType type, int id) {
            this.type = type;
            this.id = id;
        }
    }

    private final byte[] d;
    private final ItemListener listener;
    private int itemOffset;

    private Globals globals = new Globals();
    private final Globals[] pushed = new Globals[MAX_PUSH];
    private int pushes;

    // local items: usages as pairs first, last; short ones (1 or 2 bytes) take the page at the main item
    private long[] usages = new long[32];
    private boolean[] shortUsages = new boolean[16];
    private int usageEntries;
    private long usageMinimum;
    private long designatorMinimum;
    private long stringMinimum;
    private List<ReportField.Range> designators = new ArrayList<>();
    private List<ReportField.Range> strings = new ArrayList<>();
    private boolean inDelimiter;
    private boolean delimiterHasUsage;
    private int delimiterOffset;

    // collections in the order they open
    private int collections;
    private int[] types = new int[8];
    private int[] collectionUsages = new int[8];
    private int[] depths = new int[8];
    private int[] ends = new int[8];
    private int[] offsets = new int[8];
    private final List<List<FieldSpec>> collectionFields = new ArrayList<>();
    private int[] open = new int[8];
    private int openCount;

    private final ReportSpec[][] reports = new ReportSpec[3][256];

    private Parser(byte[] descriptor, ItemListener listener) {
        this.d = descriptor;
        this.listener = listener;
    }

    static ReportDescriptor parse(byte[] descriptor) throws ReportDescriptorException {
        return new Parser(descriptor, null).run();
    }

    /** Walks a descriptor already parsed, telling listener of each item. */
    static void walk(byte[] descriptor, ItemListener listener) {
        try {
            new Parser(descriptor, listener).run();
        } catch (ReportDescriptorException e) {
            throw new IllegalStateException("parsed before, now malformed", e);
        }
    }

    private ReportDescriptorException malformed(String problem) {
        return new ReportDescriptorException(itemOffset, problem);
    }

    private ReportDescriptor run() throws ReportDescriptorException {
        if (d.length == 0) {
            throw malformed("the descriptor is empty");
        }
        if (d.length > MAX_LENGTH) {
            itemOffset = MAX_LENGTH;
            throw malformed("the descriptor is " + d.length + " bytes, more than the kernel takes ("
                    + MAX_LENGTH + ")");
        }
        int at = 0;
        while (at < d.length) {
            itemOffset = at;
            int prefix = d[at] & 0xFF;
            if (prefix >>> 4 == 0xF) {   // a long item, as the kernel tells one: skipped
                if (d.length - at < 3 || d.length - at - 3 < (d[at + 1] & 0xFF)) {
                    throw malformed("a long item runs past the end");
                }
                int length = 3 + (d[at + 1] & 0xFF);
                tell(length, LONG_ITEM, d[at + 2] & 0xFF, 0, 0);
                at += length;
                continue;
            }
            int size = prefix & 3;
            if (size == 3) {
                size = 4;
            }
            if (d.length - at - 1 < size) {
                throw malformed("an item of " + size + " data bytes runs past the end");
            }
            long data = 0;
            for (int i = size; i > 0; i--) {
                data = data << 8 | (d[at + i] & 0xFF);
            }
            int type = prefix >>> 2 & 3;
            int tag = prefix >>> 4;
            tell(1 + size, type, tag, size, data);
            switch (type) {
                case 0:
                    main(tag, data);
                    break;
                case 1:
                    global(tag, size, data);
                    break;
                case 2:
                    local(tag, size, data);
                    break;
                default:
                    break;   // reserved: ignored, as the kernel does
            }
            at += 1 + size;
        }
        itemOffset = d.length;
        if (openCount > 0) {
            throw malformed("the Collection at offset " + offsets[open[openCount - 1]] + " never ends");
        }
        if (inDelimiter) {
            throw malformed("the Delimiter set opened at offset " + delimiterOffset + " never closes");
        }
        return listener == null ? finish() : null;
    }

    private void tell(int length, int type, int tag, int size, long data) {
        if (listener != null) {
            int depth = type == 0 && tag == 0xC ? Math.max(openCount - 1, 0) : openCount;
            listener.item(itemOffset, length, type, tag, size, data, depth, globals.usagePage,
                    globals.logicalMinimum, globals.physicalMinimum);
        }
    }

    private static long signed(long data, int size) {
        return size == 0 ? 0 : data << (64 - 8 * size) >> (64 - 8 * size);
    }

    private void global(int tag, int size, long data) throws ReportDescriptorException {
        Globals g = globals;
        switch (tag) {
            case 0x0:
                g.usagePage = data;
                break;
            case 0x1:
                g.logicalMinimum = signed(data, size);
                break;
            case 0x2:
                g.logicalMaximum = g.logicalMinimum < 0 ? signed(data, size) : data;
                break;
            case 0x3:
                g.physicalMinimum = signed(data, size);
                break;
            case 0x4:
                g.physicalMaximum = g.physicalMinimum < 0 ? signed(data, size) : data;
                break;
            case 0x5: {
                // 0 to 15 is a 4-bit two's complement nibble, as most devices write it
                int raw = (int) signed(data, size);
                g.unitExponent = (raw & ~0xF) == 0 ? raw << 28 >> 28 : raw;
                break;
            }
            case 0x6:
                g.unit = (int) data;
                break;
            case 0x7:
                if (data > MAX_REPORT_SIZE) {
                    throw malformed("Report Size " + data + " is over " + MAX_REPORT_SIZE);
                }
                g.reportSize = (int) data;
                break;
            case 0x8:
                if (data == 0 || data > 255) {
                    throw malformed("Report ID " + data + " is not 1 to 255");
                }
                g.reportId = (int) data;
                break;
            case 0x9:
                if (data > MAX_REPORT_COUNT) {
                    throw malformed("Report Count " + data + " is over " + MAX_REPORT_COUNT);
                }
                g.reportCount = (int) data;
                break;
            case 0xA:
                if (pushes == MAX_PUSH) {
                    throw malformed("Push deeper than " + MAX_PUSH);
                }
                pushed[pushes++] = g.copy();
                break;
            case 0xB:
                if (pushes == 0) {
                    throw malformed("Pop without Push");
                }
                globals = pushed[--pushes];
                break;
            default:
                throw malformed(String.format("unknown global item tag 0x%x", tag));
        }
    }

    private void local(int tag, int size, long data) throws ReportDescriptorException {
        boolean ignored = inDelimiter && delimiterHasUsage;   // within a set only the first usage counts
        switch (tag) {
            case 0x0:
                if (!ignored) {
                    addUsage(size <= 2 ? page(data & 0xFFFF) : data, size <= 2 ? page(data & 0xFFFF) : data,
                            size <= 2);
                }
                break;
            case 0x1:
                if (!ignored) {
                    usageMinimum = data;
                }
                break;
            case 0x2:
                if (!ignored) {
                    long first = size <= 2 ? usageMinimum & 0xFFFF : usageMinimum;
                    if (data >= first) {   // kept as a range, however large
                        addUsage(size <= 2 ? page(first) : first, size <= 2 ? page(data) : data, size <= 2);
                    }
                }
                break;
            case 0x3:
                designators.add(new ReportField.Range(data, data));
                break;
            case 0x4:
                designatorMinimum = data;
                break;
            case 0x5:
                if (data >= designatorMinimum) {
                    designators.add(new ReportField.Range(designatorMinimum, data));
                }
                break;
            case 0x7:
                strings.add(new ReportField.Range(data, data));
                break;
            case 0x8:
                stringMinimum = data;
                break;
            case 0x9:
                if (data >= stringMinimum) {
                    strings.add(new ReportField.Range(stringMinimum, data));
                }
                break;
            case 0xA:
                if (data != 0) {
                    if (inDelimiter) {
                        throw malformed("a Delimiter set opens within another");
                    }
                    inDelimiter = true;
                    delimiterHasUsage = false;
                    delimiterOffset = itemOffset;
                } else {
                    if (!inDelimiter) {
                        throw malformed("a Delimiter closes a set never opened");
                    }
                    inDelimiter = false;
                }
                break;
            default:
                break;   // unknown local items are ignored, as the kernel does
        }
    }

    private long page(long id) {
        return (globals.usagePage & 0xFFFF) << 16 | id;
    }

    private void addUsage(long first, long last, boolean isShort) {
        if (2 * usageEntries == usages.length) {
            usages = Arrays.copyOf(usages, 2 * usages.length);
            shortUsages = Arrays.copyOf(shortUsages, 2 * shortUsages.length);
        }
        usages[2 * usageEntries] = first;
        usages[2 * usageEntries + 1] = last;
        shortUsages[usageEntries++] = isShort;
        delimiterHasUsage = inDelimiter;
    }

    private void main(int tag, long data) throws ReportDescriptorException {
        // the page in force at the main item goes to the short usages before it, from the last
        // back to one that has it already
        for (int i = usageEntries - 1; i >= 0; i--) {
            if (!shortUsages[i]) {
                continue;
            }
            if (usages[2 * i] >>> 16 == globals.usagePage) {
                break;
            }
            usages[2 * i] = page(usages[2 * i] & 0xFFFF);
            usages[2 * i + 1] = page(usages[2 * i + 1] & 0xFFFF);
        }
        switch (tag) {
            case 0x8:
                addField(ReportType.INPUT, (int) data);
                break;
            case 0x9:
                addField(ReportType.OUTPUT, (int) data);
                break;
            case 0xB:
                addField(ReportType.FEATURE, (int) data);
                break;
            case 0xA:
                openCollection((int) data & 0xFF);
                break;
            case 0xC:
                if (openCount == 0) {
                    throw malformed("End Collection without Collection");
                }
                int closed = open[--openCount];
                ends[closed] = collections;
                break;
            default:
                break;   // unknown main items are ignored, as the kernel does
        }
        usageEntries = 0;
        usageMinimum = 0;
        designatorMinimum = 0;
        stringMinimum = 0;
        if (!designators.isEmpty()) {
            designators = new ArrayList<>();
        }
        if (!strings.isEmpty()) {
            strings = new ArrayList<>();
        }
        inDelimiter = false;
    }

    private void openCollection(int type) {
        if (collections == types.length) {
            int n = 2 * collections;
            types = Arrays.copyOf(types, n);
            collectionUsages = Arrays.copyOf(collectionUsages, n);
            depths = Arrays.copyOf(depths, n);
            ends = Arrays.copyOf(ends, n);
            offsets = Arrays.copyOf(offsets, n);
        }
        if (openCount == open.length) {
            open = Arrays.copyOf(open, 2 * openCount);
        }
        types[collections] = type;
        collectionUsages[collections] = usageEntries == 0 ? 0 : (int) usages[0];
        depths[collections] = openCount;
        offsets[collections] = itemOffset;
        collectionFields.add(new ArrayList<>());
        open[openCount++] = collections++;
    }

    private void addField(ReportType type, int flags) throws ReportDescriptorException {
        Globals g = globals;
        ReportSpec report = reports[type.ordinal()][g.reportId];
        if (report == null) {
            report = reports[type.ordinal()][g.reportId] = new ReportSpec(type, g.reportId);
        }
        long min = g.logicalMinimum;
        // the maximum is unsigned where the minimum is not negative, as the kernel compares them
        long max = min < 0 ? (int) g.logicalMaximum : g.logicalMaximum & 0xFFFFFFFFL;
        if (max < min) {
            throw malformed("Logical Maximum " + max + " is below Logical Minimum " + min);
        }
        FieldSpec f = new FieldSpec();
        f.dataBit = report.bits;
        report.bits += g.reportSize * g.reportCount;
        if (report.bits > MAX_REPORT_BYTES * 8) {
            throw malformed(type + " report " + g.reportId + " is longer than " + MAX_REPORT_BYTES + " bytes");
        }
        if (listener != null) {
            return;
        }
        f.type = type;
        f.reportId = g.reportId;
        f.size = g.reportSize;
        f.count = g.reportCount;
        f.flags = flags;
        f.usages = Arrays.copyOf(usages, 2 * usageEntries);
        f.usageEntries = usageEntries;
        f.logicalMinimum = min;
        f.logicalMaximum = max;
        if (g.physicalMinimum == 0 && g.physicalMaximum == 0) {
            f.physicalMinimum = min;
            f.physicalMaximum = max;
        } else {
            f.physicalMinimum = g.physicalMinimum;
            f.physicalMaximum = g.physicalMinimum < 0 ? (int) g.physicalMaximum : g.physicalMaximum & 0xFFFFFFFFL;
        }
        f.unit = g.unit;
        f.unitExponent = g.unitExponent;
        f.designators = designators.isEmpty() ? Collections.<ReportField.Range>emptyList()
                : Collections.unmodifiableList(designators);
        f.strings = strings.isEmpty() ? Collections.<ReportField.Range>emptyList()
                : Collections.unmodifiableList(strings);
        report.fields.add(f);
        if (openCount > 0) {
            collectionFields.get(open[openCount - 1]).add(f);
        }
    }

    private ReportDescriptor finish() {
        List<Report> all = new ArrayList<>();
        for (ReportType type : ReportType.values()) {
            ReportSpec[] byId = reports[type.ordinal()];
            boolean numbered = false;
            for (int id = 1; id < 256; id++) {
                numbered |= byId[id] != null;
            }
            for (ReportSpec spec : byId) {
                if (spec == null) {
                    continue;
                }
                List<ReportField> fields = new ArrayList<>(spec.fields.size());
                for (FieldSpec f : spec.fields) {
                    f.made = new ReportField(fields.size(), f.type, f.reportId, f.dataBit + (numbered ? 8 : 0), f.size, f.count,
                            f.flags, f.usages, f.usageEntries, f.logicalMinimum, f.logicalMaximum,
                            f.physicalMinimum, f.physicalMaximum, f.unit, f.unitExponent, f.designators,
                            f.strings);
                    fields.add(f.made);
                }
                all.add(new Report(type, spec.id, numbered, spec.bits, Collections.unmodifiableList(fields)));
            }
        }
        List<List<ReportField>> fieldsWithin = new ArrayList<>(collections);
        for (List<FieldSpec> specs : collectionFields) {
            List<ReportField> fields = new ArrayList<>(specs.size());
            for (FieldSpec f : specs) {
                fields.add(f.made);
            }
            fieldsWithin.add(Collections.unmodifiableList(fields));
        }
        HidCollection.Tree tree = new HidCollection.Tree(Arrays.copyOf(types, collections),
                Arrays.copyOf(collectionUsages, collections), Arrays.copyOf(depths, collections),
                Arrays.copyOf(ends, collections), fieldsWithin);
        return new ReportDescriptor(d, tree.build(), Collections.unmodifiableList(all));
    }
}
