package com.orvanta.hid.descriptor;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.List;
import org.junit.jupiter.api.Test;

/** The parsing rules the corpus does not exercise, each on a descriptor made for it. */
class ParseRulesTest {
    /** A descriptor from hex, items separated by '|' for reading. */
    static ReportDescriptor parse(String hex) throws ReportDescriptorException {
        String[] words = hex.replace("|", " ").trim().split("\\s+");
        byte[] bytes = new byte[words.length];
        for (int i = 0; i < bytes.length; i++) {
            bytes[i] = (byte) Integer.parseInt(words[i], 16);
        }
        return ReportDescriptor.parse(bytes);
    }

    static ReportField field(ReportDescriptor d, int index) {
        return d.reports().get(0).fields().get(index);
    }

    @Test
    void shortUsagesTakeThePageInForceAtTheMainItemBackToOneThatHasIt() throws Exception {
        // Usage Page A, Usage x, Usage Page B, Usage y: A:x and B:y
        ReportDescriptor d = parse("05 01 | 09 30 | 05 09 | 09 02 | 75 08 95 02 | 81 02");
        assertArrayEquals(new int[] {0x00010030, 0x00090002}, field(d, 0).usages());
        // a page after all the usages pages them all
        d = parse("09 30 | 09 31 | 05 01 | 75 08 95 02 | 81 02");
        assertArrayEquals(new int[] {0x00010030, 0x00010031}, field(d, 0).usages());
        // a 4-byte usage keeps its page and does not stop the walk
        d = parse("05 0c | 09 30 | 0b 31 00 01 00 | 09 32 | 05 01 | 75 08 95 03 | 81 02");
        assertArrayEquals(new int[] {0x00010030, 0x00010031, 0x00010032}, field(d, 0).usages());
        d = parse("05 0c | 09 30 | 0b 31 00 09 00 | 75 08 95 02 | 81 02");
        assertArrayEquals(new int[] {0x000c0030, 0x00090031}, field(d, 0).usages());
    }

    @Test
    void unitExponentsOfOneNibbleAreSigned() throws Exception {
        int[][] cases = {{0x05, 5}, {0x07, 7}, {0x08, -8}, {0x0E, -2}, {0x0F, -1}, {0x10, 16}, {0xFE, -2}};
        for (int[] c : cases) {
            ReportDescriptor d = parse(String.format("55 %02x | 75 08 95 01 | 81 02", c[0]));
            assertEquals(c[1], field(d, 0).unitExponent(), "Unit Exponent " + c[0]);
        }
        assertEquals(-3, field(parse("56 fd ff | 75 08 95 01 | 81 02"), 0).unitExponent());
    }

    @Test
    void withinADelimiterSetOnlyTheFirstUsageCounts() throws Exception {
        ReportDescriptor d = parse("05 09 | a9 01 | 09 01 | 09 02 | 19 05 29 07 | a9 00 | 09 03 | a9 01 | 19 08 29 09 "
                + "| 09 04 | a9 00 | 75 01 95 04 | 81 02");
        assertEquals("[0x00090001, 0x00090003, 0x00090008-0x00090009]", field(d, 0).usageRanges().toString());
        // the next main item starts afresh
        d = parse("05 09 | a9 01 | 09 01 | 81 02 | 09 02 | 09 03 | 75 01 95 02 | 81 02");
        assertArrayEquals(new int[] {0x00090002, 0x00090003}, d.reports().get(0).fields().get(1).usages());
    }

    @Test
    void pushAndPopKeepTheGlobalsAndLongItemsAreSkipped() throws Exception {
        ReportDescriptor d = parse("05 01 | 75 08 | 95 01 | a4 | 05 09 | 75 01 | 85 02 | b4 | 09 30 | 81 02 "
                + "| fe 03 10 aa bb cc | 09 31 | 81 02");
        Report report = d.reports().get(0);
        assertEquals(0, report.id());   // the ID set within Push went with Pop
        assertEquals(2, report.length());
        assertEquals(0x00010031, report.fields().get(1).usage(0));
        assertEquals(8, report.fields().get(1).bitSize());
        assertEquals("Long item (tag 0x10)", d.items().get(10).meaning());
    }

    @Test
    void numberedReportsStartAfterTheirIdByte() throws Exception {
        ReportDescriptor d = parse("05 01 09 02 a1 01 | 85 01 | 09 30 75 08 95 01 81 02 | 85 02 | 09 31 75 10 81 02 "
                + "| 09 32 91 02 | c0");
        assertEquals(2, d.report(ReportType.INPUT, 1).length());
        assertEquals(8, d.report(ReportType.INPUT, 1).fields().get(0).bitOffset());
        assertEquals(3, d.report(ReportType.INPUT, 2).length());
        assertEquals(3, d.report(ReportType.OUTPUT, 2).length());
        assertNull(d.report(ReportType.FEATURE, 1));
        assertNull(d.report(ReportType.INPUT, 0));
        assertThrows(IllegalArgumentException.class, () -> d.report(ReportType.INPUT, 256));
        assertEquals("[input report 1: 2 bytes, 1 field, input report 2: 3 bytes, 1 field, "
                + "output report 2: 3 bytes, 1 field]", d.reports().toString());
    }

    @Test
    void collectionsFormATreeEqualByValue() throws Exception {
        // the same layout written twice, once with wider data: equal collections and reports, not equal bytes
        String narrow = "05 01 09 02 a1 01 | 09 01 a1 00 | 05 09 19 01 29 03 15 00 25 01 75 01 95 03 81 02 | c0 "
                + "| 05 01 09 38 a1 80 | 09 38 15 81 25 7f 75 08 95 01 81 06 | c0 | c0";
        String wide = narrow.replace("05 09 19 01", "06 09 00 19 01").replace("95 03 81 02", "95 03 82 02 00");
        ReportDescriptor a = parse(narrow);
        ReportDescriptor b = parse(wide);
        assertEquals(a.collections(), b.collections());
        assertEquals(a.collections().hashCode(), b.collections().hashCode());
        assertEquals(a.reports(), b.reports());
        assertNotEquals(a, b);
        assertEquals(a, parse(narrow));
        assertEquals(a.hashCode(), parse(narrow).hashCode());

        HidCollection mouse = a.collections().get(0);
        assertEquals(HidCollection.Type.APPLICATION, mouse.type());
        assertEquals(Usages.of(0x01, 0x02), mouse.usage());
        List<HidCollection> inner = mouse.children();
        assertEquals(HidCollection.Type.PHYSICAL, inner.get(0).type());
        assertEquals(HidCollection.Type.OTHER, inner.get(1).type());
        assertEquals(0x80, inner.get(1).rawType());
        assertEquals(Usages.of(0x01, 0x38), inner.get(1).usage());
        assertEquals(a.reports().get(0).fields().subList(0, 1), inner.get(0).fields());
        assertEquals(a.reports().get(0).fields().subList(1, 2), inner.get(1).fields());
        assertNotEquals(inner.get(0), inner.get(1));
        assertEquals("application Generic Desktop Controls / Mouse: 2 collections, 0 fields", mouse.toString());
    }

    @Test
    void itemsSayWhatTheyMeanAtTheirDepth() throws Exception {
        ReportDescriptor d = ReportDescriptor.parse(DecodeTest.MOUSE);
        List<ReportDescriptor.Item> items = d.items();
        assertEquals("0: 05 01  Usage Page (Generic Desktop Controls)", items.get(0).toString());
        assertEquals("Collection (Application)", items.get(2).meaning());
        assertEquals("Report ID (1)", items.get(3).meaning());
        assertEquals("Usage Minimum (Buttons / Button 1 (Primary))", items.get(7).meaning());
        assertEquals(2, items.get(7).depth());
        assertEquals("Input (Data,Var,Abs)", items.get(13).meaning());
        assertEquals("Input (Const,Var,Abs)", items.get(15).meaning());
        assertEquals("Logical Minimum (-127)", items.get(19).meaning());
        assertEquals("Input (Data,Var,Rel,Null)", items.get(28).meaning());
        ReportDescriptor.Item last = items.get(items.size() - 1);
        assertEquals("End Collection", last.meaning());
        assertEquals(0, last.depth());
        assertEquals(DecodeTest.MOUSE.length - 1, last.offset());
        assertEquals("Unit (cm/s^2)", parse("66 11 e0").items().get(0).meaning());
    }
}
