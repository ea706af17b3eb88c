package com.orvanta.bench;

import com.orvanta.hid.descriptor.ReportDescriptor;
import com.orvanta.hid.descriptor.ReportValues;
import com.orvanta.hid.descriptor.Usages;
import java.lang.management.ManagementFactory;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.Arrays;
import java.util.SplittableRandom;
import java.util.stream.Stream;

/**
 * Figures of com.orvanta.hid.descriptor, printed, not asserted: parsing the corpus's largest
 * descriptor (-Dbench.descriptors=DIR); decoding a mouse report and a 64-byte vendor report into
 * a reused holder, against a hand-written extraction of the same values (the floor); and the
 * bytes each decode allocates. Rounds interleave the candidates, as Bench does, but time the
 * thread's CPU time: these loops never wait, and the time other processes take the core from
 * them (a busy shared machine) then does not count.
 */
public final class DescriptorBench {
    /** Report 1: 16 buttons, X and Y of 16 bits, a wheel and AC Pan of 8: 9 bytes with the ID. */
    static final byte[] MOUSE = bytes(0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x85, 0x01, 0x09, 0x01, 0xA1, 0x00,
            0x05, 0x09, 0x19, 0x01, 0x29, 0x10, 0x15, 0x00, 0x25, 0x01, 0x95, 0x10, 0x75, 0x01, 0x81, 0x02,
            0x05, 0x01, 0x16, 0x01, 0x80, 0x26, 0xFF, 0x7F, 0x75, 0x10, 0x95, 0x02, 0x09, 0x30, 0x09, 0x31,
            0x81, 0x06, 0x15, 0x81, 0x25, 0x7F, 0x75, 0x08, 0x95, 0x01, 0x09, 0x38, 0x81, 0x06, 0x05, 0x0C,
            0x0A, 0x38, 0x02, 0x81, 0x06, 0xC0, 0xC0);
    /** Unnumbered: 64 vendor bytes, 0 to 255. */
    static final byte[] VENDOR = bytes(0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x09, 0x02, 0x15, 0x00, 0x26,
            0xFF, 0x00, 0x75, 0x08, 0x95, 0x40, 0x81, 0x02, 0xC0);
    static final int POOL = 64;   // reports decoded in turn, so none is a constant
    static volatile long sink;

    private DescriptorBench() {
    }

    static byte[] bytes(int... values) {
        byte[] bytes = new byte[values.length];
        for (int i = 0; i < values.length; i++) {
            bytes[i] = (byte) values[i];
        }
        return bytes;
    }

    static byte[][] reports(int length, int id) {
        SplittableRandom random = new SplittableRandom(1);
        byte[][] pool = new byte[POOL][length];
        for (byte[] report : pool) {
            random.nextBytes(report);
            if (id != 0) {
                report[0] = (byte) id;
            }
        }
        return pool;
    }

    /** The mouse's 20 values by hand, as one would write them for this one device. */
    static void mouseFloor(byte[] r, long[] v) {
        int buttons = r[1] & 0xFF | (r[2] & 0xFF) << 8;
        for (int i = 0; i < 16; i++) {
            v[i] = buttons >>> i & 1;
        }
        v[16] = (short) (r[3] & 0xFF | r[4] << 8);
        v[17] = (short) (r[5] & 0xFF | r[6] << 8);
        v[18] = r[7];
        v[19] = r[8];
    }

    static void vendorFloor(byte[] r, long[] v) {
        for (int i = 0; i < 64; i++) {
            v[i] = r[i] & 0xFF;
        }
    }

    public static void main(String[] args) throws Exception {
        ReportDescriptor mouse = ReportDescriptor.parse(MOUSE);
        ReportDescriptor vendor = ReportDescriptor.parse(VENDOR);
        byte[][] mouseReports = reports(9, 1);
        byte[][] vendorReports = reports(64, 0);
        ReportValues values = new ReportValues();
        long[] floorValues = new long[64];
        int x = Usages.of(0x01, 0x30);
        int y = Usages.of(0x01, 0x31);
        int wheel = Usages.of(0x01, 0x38);
        int button1 = Usages.of(0x09, 0x01);
        int calls = 1_000_000;

        Bench.Candidate mouseDecode = new Bench.Candidate("decodeInput into a holder", n -> {
            for (int i = 0; i < n; i++) {
                byte[] r = mouseReports[i & (POOL - 1)];
                mouse.decodeInput(r, 0, r.length, values);
            }
        });
        Bench.Candidate mouseFloor = new Bench.Candidate("floor", n -> {
            for (int i = 0; i < n; i++) {
                mouseFloor(mouseReports[i & (POOL - 1)], floorValues);
            }
            sink += floorValues[17];
        });
        Bench.Candidate mouseLookups = new Bench.Candidate("decodeInput, then 4 values by usage", n -> {
            long sum = 0;
            for (int i = 0; i < n; i++) {
                byte[] r = mouseReports[i & (POOL - 1)];
                mouse.decodeInput(r, 0, r.length, values);
                sum += values.get(x) + values.get(y) + values.get(wheel) + values.get(button1);
            }
            sink += sum;
        });
        Bench.Candidate vendorDecode = new Bench.Candidate("decodeInput into a holder", n -> {
            for (int i = 0; i < n; i++) {
                byte[] r = vendorReports[i & (POOL - 1)];
                vendor.decodeInput(r, 0, r.length, values);
            }
        });
        Bench.Candidate vendorFloor = new Bench.Candidate("floor", n -> {
            for (int i = 0; i < n; i++) {
                vendorFloor(vendorReports[i & (POOL - 1)], floorValues);
            }
            sink += floorValues[63];
        });
        interleave(calls, mouseDecode, mouseFloor, mouseLookups);
        interleave(calls, vendorDecode, vendorFloor);

        System.out.println("== decoding into a reused holder (" + Bench.ROUNDS + " rounds, each timing every candidate"
                + " once over " + calls + " reports; median CPU ns per report, min-max)");
        row("mouse, 9 bytes, 20 values", mouseDecode);
        row("  floor (by hand)", mouseFloor);
        row("  and 4 values by usage", mouseLookups);
        row("vendor, 64 bytes, 64 values", vendorDecode);
        row("  floor (by hand)", vendorFloor);
        System.out.printf("decode / floor: mouse %s, vendor %s   (target <= 2x)%n", Bench.ratio(mouseDecode, mouseFloor),
                Bench.ratio(vendorDecode, vendorFloor));
        System.out.printf("bytes allocated per decode, after warm-up: mouse %.3f, vendor %.3f   (target 0)%n",
                allocated(() -> mouseDecode.body.run(calls)) / (double) calls,
                allocated(() -> vendorDecode.body.run(calls)) / (double) calls);

        parseLargest();
    }

    /** Bench.interleave, timing the thread's CPU time. */
    static void interleave(int calls, Bench.Candidate... candidates) throws Exception {
        java.lang.management.ThreadMXBean threads = ManagementFactory.getThreadMXBean();
        for (int r = -2; r < Bench.ROUNDS; r++) {
            for (Bench.Candidate c : candidates) {
                long start = threads.getCurrentThreadCpuTime();
                c.body.run(calls);
                if (r >= 0) {
                    c.nsPerCall[r] = (threads.getCurrentThreadCpuTime() - start) / (double) calls;
                }
            }
        }
    }

    static void row(String name, Bench.Candidate c) {
        double[] sorted = c.nsPerCall.clone();
        Arrays.sort(sorted);
        System.out.printf("%-30s %8.1f ns  (%.1f-%.1f)%n", name, c.median(), sorted[0], sorted[sorted.length - 1]);
    }

    static long allocated(Bench.Setup body) throws Exception {
        com.sun.management.ThreadMXBean threads = (com.sun.management.ThreadMXBean) ManagementFactory.getThreadMXBean();
        long id = Thread.currentThread().getId();
        long before = threads.getThreadAllocatedBytes(id);
        body.run();
        return threads.getThreadAllocatedBytes(id) - before;
    }

    static void parseLargest() throws Exception {
        String dir = System.getProperty("bench.descriptors", "");
        Path corpus = Paths.get(dir);
        if (dir.isEmpty() || !Files.isDirectory(corpus)) {
            System.out.println("== parse: no descriptor corpus at '" + dir + "' (-Dbench.descriptors): skipped");
            return;
        }
        Path largest = null;
        byte[] bytes = new byte[0];
        try (Stream<Path> files = Files.list(corpus)) {
            for (Path file : (Iterable<Path>) files.filter(p -> p.toString().endsWith(".hid"))::iterator) {
                for (String line : Files.readAllLines(file)) {
                    if (line.startsWith("R:")) {
                        String[] words = line.substring(2).trim().split("\\s+");
                        if (words.length - 1 > bytes.length) {
                            bytes = new byte[words.length - 1];
                            for (int i = 0; i < bytes.length; i++) {
                                bytes[i] = (byte) Integer.parseInt(words[i + 1], 16);
                            }
                            largest = file;
                        }
                    }
                }
            }
        }
        byte[] descriptor = bytes;
        int calls = 20_000;
        Bench.Candidate parse = new Bench.Candidate("parse", n -> {
            for (int i = 0; i < n; i++) {
                sink += ReportDescriptor.parse(descriptor).reports().size();
            }
        });
        interleave(calls, parse);
        ReportDescriptor parsed = ReportDescriptor.parse(descriptor);
        long fields = parsed.reports().stream().mapToLong(r -> r.fields().size()).sum();
        System.out.println("== parse of the corpus's largest descriptor, " + largest.getFileName() + ": "
                + descriptor.length + " bytes, " + parsed.reports().size() + " reports, " + fields + " fields");
        double[] sorted = parse.nsPerCall.clone();
        Arrays.sort(sorted);
        System.out.printf("%-30s %8.1f us  (%.1f-%.1f)%n", "parse", parse.median() / 1000, sorted[0] / 1000,
                sorted[sorted.length - 1] / 1000);
    }
}
