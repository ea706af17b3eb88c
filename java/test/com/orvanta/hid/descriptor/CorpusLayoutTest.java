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
        for (String name : names) {
            ReportDescriptor.parse(Corpus.descriptor(name));
        }
        List<String> compared = Corpus.sample();
        List<String> wrong = new ArrayList<>();
        for (String name : compared) {
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
        assertEquals("", String.join("\n", wrong), wrong.size() + " of " + compared.size() + " differ");
        long listed = compared.stream().filter(DIFFER::containsKey).count();
        System.out.println("CorpusLayoutTest: " + names.size() + " descriptors parsed, " + compared.size()
                + " compared: " + (compared.size() - listed) + " as laid out, " + listed
                + " differing only as listed: " + DIFFER);
    }

    /** Report header ("input 1 bytes=5") to its slot lines, reports sorted by type and ID. */
    static Map<String, List<String>> canonical(ReportDescriptor descriptor, boolean asTheIndependentParser) {
        Map<String, List<String>> reports = new LinkedHashMap<>();
        for (Report report : descriptor.reports()) {
            List<Slot> slots = new ArrayList<>();
            for (ReportField f : report.fields()) {
                List<ReportField.Range> given = f.usageRanges();
                if (asTheIndependentParser && given.stream().anyMatch(r -> r.size() > 1)) {
                    given = given.stream().filter(r -> r.size() > 1).collect(Collectors.toList());
                }
                int[] usages = usages(given, f.count());
                String range = " [" + f.logicalMinimum() + "," + f.logicalMaximum() + "]";
                String array = f.isArray() ? "array " + asSet(given) + range : null;
                for (int slot = 0; slot < f.count(); slot++) {
                    String kind = f.is(ReportField.Flag.CONSTANT) ? "const"
                            : array != null ? array
                            // the independent parser shows usage 0 as no usage
                            : "var " + (usages[slot] == 0 ? "none" : hex(usages[slot])) + range;
                    slots.add(new Slot(f.bitOffset() + slot * f.bitSize(), f.bitSize(), kind));
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
        List<Slot> slots = new ArrayList<>();
        for (String line : lines) {
            if (line.isEmpty()) {
                continue;
            }
            if (line.startsWith(" ")) {
                int plus = line.indexOf('+');
                int space = line.indexOf(' ', plus);
                slots.add(new Slot(Integer.parseInt(line.substring(2, plus)),
                        Integer.parseInt(line.substring(plus + 1, space)), line.substring(space + 1)));
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

    /** One slot of a layout: its bits and what it is, as a .layout line writes it after the offset. */
    static final class Slot {
        final long bit;
        final long size;
        final String kind;

        Slot(long bit, long size, String kind) {
            this.bit = bit;
            this.size = size;
            this.kind = kind;
        }
    }

    static String hex(int usage) {
        String digits = Integer.toHexString(usage);
        return "0x00000000".substring(0, 10 - digits.length()) + digits;
    }

    /**
     * Joins neighbouring constant slots, and neighbouring usage-less variable slots of one range;
     * drops constant runs of no bits, which only one of the parsers writes.
     */
    static List<String> merge(List<Slot> slots) {
        List<String> lines = new ArrayList<>();
        Slot run = null;
        for (Slot slot : slots) {
            boolean mergeable = slot.kind.equals("const") || slot.kind.startsWith("var none ");
            if (run != null && mergeable && run.kind.equals(slot.kind) && run.bit + run.size == slot.bit) {
                run = new Slot(run.bit, run.size + slot.size, run.kind);
                continue;
            }
            add(lines, run);
            run = slot;
        }
        add(lines, run);
        return lines;
    }

    private static void add(List<String> lines, Slot run) {
        if (run != null && !(run.size == 0 && run.kind.equals("const"))) {
            lines.add(run.bit + "+" + run.size + " " + run.kind);
        }
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
