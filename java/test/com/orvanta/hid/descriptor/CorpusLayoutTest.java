package com.orvanta.hid.descriptor;

import static org.junit.jupiter.api.Assertions.assertEquals;

import java.util.ArrayList;
import java.util.Comparator;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;
import java.util.stream.Collectors;
import org.junit.jupiter.api.Test;

/**
 * Every descriptor of the corpus parses, and its reports lay out as the independent parser says
 * (the .layout files), compared in the corpus's canonical form: one line per slot, constant slots
 * merged with their neighbours, and so are usage-less variable slots of one logical range.
 */
class CorpusLayoutTest {
    /**
     * Where the independent parser differs from the kernel: given Usage items beside a Usage
     * Minimum/Maximum pair, it drops the Usage items; the kernel keeps every usage in order (so
     * slot 0 of 3df530ae95f7's vendor report is usage 0xff000001, its Usage, not the range's first).
     */
    static final Map<String, String> DIFFER = new TreeMap<>();

    static {
        String dropsUsages = "the independent parser drops the Usage items beside a Usage Minimum/Maximum pair";
        for (String name : new String[] {"3df530ae95f7", "634a635321f4", "7e29486b35fa", "a9f73ede1439"}) {
            DIFFER.put(name, dropsUsages);
        }
    }

    @Test
    void everyDescriptorLaysOutAsTheIndependentParserSays() throws Exception {
        List<String> names = Corpus.names();
        assertEquals(176, names.size(), "descriptors in " + Corpus.directory());
        List<String> wrong = new ArrayList<>();
        for (String name : names) {
            ReportDescriptor descriptor = ReportDescriptor.parse(Corpus.descriptor(name));
            Map<String, List<String>> expected = fromLayoutFile(Corpus.lines(name + ".layout"));
            Map<String, List<String>> actual = canonical(descriptor, false);
            if (DIFFER.containsKey(name)) {
                // they differ, and only for the reason given
                if (expected.equals(actual)) {
                    wrong.add(name + ": listed as differing (" + DIFFER.get(name) + "), but matches");
                }
                actual = canonical(descriptor, true);
            }
            if (!expected.equals(actual)) {
                wrong.add(name + ":\n" + firstDifference(expected, actual));
            }
        }
        assertEquals("", String.join("\n", wrong), wrong.size() + " of " + names.size() + " differ");
        System.out.println("CorpusLayoutTest: " + names.size() + " descriptors, " + (names.size() - DIFFER.size())
                + " as laid out, " + DIFFER.size() + " differing only as listed: " + DIFFER);
    }

    /** Report header ("input 1 bytes=5") to its slot lines, reports sorted by type and ID. */
    static Map<String, List<String>> canonical(ReportDescriptor descriptor, boolean asTheIndependentParser) {
        Map<String, List<String>> reports = new LinkedHashMap<>();
        for (Report report : descriptor.reports()) {
            List<String[]> slots = new ArrayList<>();
            for (ReportField f : report.fields()) {
                List<ReportField.Range> given = f.usageRanges();
                if (asTheIndependentParser && given.stream().anyMatch(r -> r.size() > 1)) {
                    given = given.stream().filter(r -> r.size() > 1).collect(Collectors.toList());
                }
                int[] usages = usages(given, f.count());
                String range = " [" + f.logicalMinimum() + "," + f.logicalMaximum() + "]";
                String ranges = asSet(given);
                for (int slot = 0; slot < f.count(); slot++) {
                    String kind = f.is(ReportField.Flag.CONSTANT) ? "const"
                            : f.isArray() ? "array " + ranges + range
                            // the independent parser shows usage 0 as no usage
                            : "var " + (usages[slot] == 0 ? "none" : String.format("0x%08x", usages[slot])) + range;
                    slots.add(new String[] {Integer.toString(f.bitOffset() + slot * f.bitSize()),
                        Integer.toString(f.bitSize()), kind});
                }
            }
            reports.put(report.type() + " " + report.id() + " bytes=" + report.length(), merge(slots));
        }
        return sorted(reports);
    }

    /** Each slot's usage, counting through the ranges, the last for the slots beyond. */
    private static int[] usages(List<ReportField.Range> ranges, int count) {
        List<Long> all = new ArrayList<>();
        for (ReportField.Range r : ranges) {
            for (long u = r.first() & 0xFFFFFFFFL; u <= (r.last() & 0xFFFFFFFFL) && all.size() < count; u++) {
                all.add(u);
            }
        }
        int[] usages = new int[count];
        for (int i = 0; i < count; i++) {
            usages[i] = all.isEmpty() ? 0 : (int) (long) all.get(Math.min(i, all.size() - 1));
        }
        return usages;
    }

    /** An array's usages as the layouts write them: a set, as sorted ranges. */
    private static String asSet(List<ReportField.Range> ranges) {
        List<long[]> sorted = new ArrayList<>();
        for (ReportField.Range r : ranges) {
            sorted.add(new long[] {r.first() & 0xFFFFFFFFL, r.last() & 0xFFFFFFFFL});
        }
        sorted.sort(Comparator.comparingLong(r -> r[0]));
        List<long[]> merged = new ArrayList<>();
        for (long[] r : sorted) {
            long[] last = merged.isEmpty() ? null : merged.get(merged.size() - 1);
            if (last != null && r[0] <= last[1] + 1) {
                last[1] = Math.max(last[1], r[1]);
            } else {
                merged.add(r.clone());
            }
        }
        return merged.stream().map(r -> new ReportField.Range(r[0], r[1]).toString()).collect(Collectors.joining(","));
    }

    static Map<String, List<String>> fromLayoutFile(List<String> lines) {
        Map<String, List<String>> reports = new LinkedHashMap<>();
        String header = null;
        List<String[]> slots = new ArrayList<>();
        for (String line : lines) {
            if (line.isEmpty()) {
                continue;
            }
            if (line.startsWith(" ")) {
                String[] words = line.trim().split(" ", 2);
                String[] at = words[0].split("\\+");
                slots.add(new String[] {at[0], at[1], words[1]});
                continue;
            }
            if (header != null) {
                reports.put(header, merge(slots));
            }
            header = line.replaceFirst("^(\\w+) -1 ", "$1 0 ");   // the files write no ID as -1
            slots = new ArrayList<>();
        }
        if (header != null) {
            reports.put(header, merge(slots));
        }
        return sorted(reports);
    }

    /** Joins neighbouring constant slots, and neighbouring usage-less variable slots of one range. */
    static List<String> merge(List<String[]> slots) {
        List<String> lines = new ArrayList<>();
        long bit = -1;
        long size = 0;
        String kind = null;
        for (String[] slot : slots) {
            long at = Long.parseLong(slot[0]);
            long bits = Long.parseLong(slot[1]);
            boolean mergeable = slot[2].equals("const") || slot[2].startsWith("var none ");
            if (kind != null && mergeable && kind.equals(slot[2]) && bit + size == at) {
                size += bits;
                continue;
            }
            if (kind != null) {
                lines.add(bit + "+" + size + " " + kind);
            }
            bit = at;
            size = bits;
            kind = slot[2];
        }
        if (kind != null) {
            lines.add(bit + "+" + size + " " + kind);
        }
        lines.removeIf(line -> line.matches("\\d+\\+0 const"));   // no bits: written by one parser only
        return lines;
    }

    private static Map<String, List<String>> sorted(Map<String, List<String>> reports) {
        List<String> order = java.util.Arrays.asList("input", "output", "feature");
        Map<String, List<String>> sorted = new LinkedHashMap<>();
        reports.keySet().stream()
                .sorted(Comparator.comparing((String h) -> order.indexOf(h.split(" ")[0]))
                        .thenComparing(h -> Integer.parseInt(h.split(" ")[1])))
                .forEach(h -> sorted.put(h, reports.get(h)));
        return sorted;
    }

    private static String firstDifference(Map<String, List<String>> expected, Map<String, List<String>> actual) {
        if (!expected.keySet().equals(actual.keySet())) {
            return "  reports: expected " + expected.keySet() + "\n  actual   " + actual.keySet();
        }
        for (String header : expected.keySet()) {
            List<String> e = expected.get(header);
            List<String> a = actual.get(header);
            for (int i = 0; i < Math.max(e.size(), a.size()); i++) {
                String el = i < e.size() ? e.get(i) : "(none)";
                String al = i < a.size() ? a.get(i) : "(none)";
                if (!el.equals(al)) {
                    return "  " + header + ", line " + i + ": expected " + el + ", actual " + al;
                }
            }
        }
        return "";
    }
}
