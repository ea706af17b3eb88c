package com.orvanta.hid.descriptor;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assertions.fail;

import java.io.ByteArrayOutputStream;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.SplittableRandom;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.TimeoutException;
import org.junit.jupiter.api.Test;

/**
 * Descriptors made to break the parser: each breach of the kernel's rules is refused at its
 * offset; worst cases within the rules parse in bounded time and memory; and random inputs
 * (corpus descriptors mutated, cut short or spliced, items strung at random, bytes at random)
 * either parse, and then decode and build reports, or raise ReportDescriptorException, each
 * within a bound that catches a hang. The seed is printed: -Dportula.hostile.seed=N replays a
 * run, -Dportula.hostile.descriptors=N sets how many inputs (fewer under qemu).
 */
class HostileDescriptorTest {
    static final int INPUTS = Integer.getInteger("portula.hostile.descriptors", 20_000);
    static final long BOUND_SECONDS = 10;   // per input: a hang guard, far above any real parse

    static byte[] bytes(int... values) {
        return DecodeTest.bytes(values);
    }

    static ReportDescriptorException refused(byte[] descriptor) {
        return assertThrows(ReportDescriptorException.class, () -> ReportDescriptor.parse(descriptor));
    }

    @Test
    void eachBreachOfTheKernelsRulesIsRefusedAtItsOffset() {
        Object[][] cases = {
            // descriptor, offset, problem begins with
            {bytes(0x75, 0x08, 0x76, 0x01, 0x01), 2, "Report Size 257"},
            {bytes(0x96, 0x01, 0x30), 0, "Report Count 12289"},
            {bytes(0x95, 0x01, 0x85, 0x00), 2, "Report ID 0"},
            {bytes(0x86, 0x00, 0x01), 0, "Report ID 256"},
            {bytes(0xA4, 0xA4, 0xA4, 0xA4, 0xA4), 4, "Push deeper than 4"},
            {bytes(0xA4, 0xB4, 0xB4), 2, "Pop without Push"},
            {bytes(0xA1, 0x01, 0xC0, 0xC0), 3, "End Collection without Collection"},
            {bytes(0x15, 0x05, 0x25, 0x04, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02), 8, "Logical Maximum 4 is below"},
            {bytes(0x15, 0xFF, 0x25, 0xFE, 0x81, 0x02), 4, "Logical Maximum -2 is below Logical Minimum -1"},
            {bytes(0x05, 0x01, 0xC4), 2, "unknown global item tag 0xc"},
            {bytes(0xE5, 0x01), 0, "unknown global item tag 0xe"},
            // 12288 + 4096 bytes of one report: one more than 16383
            {bytes(0x75, 0x08, 0x96, 0x00, 0x30, 0x81, 0x02, 0x96, 0x00, 0x10, 0x81, 0x02), 10, "input report 0 is longer"},
            {bytes(0x05, 0x01, 0x26, 0xFF), 2, "an item of 2 data bytes runs past the end"},
            {bytes(0x09, 0x01, 0xFE, 0x05, 0x00, 0x01), 2, "a long item runs past the end"},
            {new byte[0], 0, "the descriptor is empty"},
            {new byte[4097], 4096, "the descriptor is 4097 bytes"},
            {bytes(0xA9, 0x01, 0xA9, 0x01), 2, "a Delimiter set opens within another"},
            {bytes(0xA9, 0x00), 0, "a Delimiter closes a set never opened"},
            {bytes(0xA1, 0x01, 0xA1, 0x00, 0xC0), 5, "the Collection at offset 0 never ends"},
            {bytes(0xA9, 0x01, 0x09, 0x01), 4, "the Delimiter set opened at offset 0 never closes"},
        };
        for (Object[] c : cases) {
            ReportDescriptorException e = refused((byte[]) c[0]);
            String what = Arrays.toString((byte[]) c[0]) + ": " + e.getMessage();
            assertEquals((int) c[1], e.offset(), what);
            assertTrue(e.problem().startsWith((String) c[2]), what);
            assertEquals(com.orvanta.hid.HidException.Reason.MALFORMED, e.reason());
            assertTrue(e.getMessage().contains("offset " + c[1]), what);
        }
        assertThrows(NullPointerException.class, () -> ReportDescriptor.parse(null));
    }

    @Test
    void worstCasesWithinTheRulesParseSmall() throws Exception {
        // an array over all 65536 usages of a page, and a variable field over 2^32 usages: ranges, not lists
        ReportDescriptor huge = ReportDescriptor.parse(bytes(0x05, 0x07, 0x19, 0x00, 0x2A, 0xFF, 0xFF, 0x15, 0x00,
                0x27, 0xFF, 0xFF, 0x00, 0x00, 0x75, 0x10, 0x95, 0x06, 0x81, 0x00, 0x1B, 0x00, 0x00, 0x00,
                0x00, 0x2B, 0xFF, 0xFF, 0xFF, 0xFF, 0x75, 0x01, 0x95, 0x10, 0x81, 0x02));
        ReportField array = huge.reports().get(0).fields().get(0);
        assertEquals(65536, array.usageRanges().get(0).size());
        assertEquals(Usages.of(0x07, 0xFFFF), array.usage(65535));
        ReportField all = huge.reports().get(0).fields().get(1);
        assertEquals(1L << 32, all.usageRanges().get(0).size());
        assertEquals(15, all.usages()[15]);
        byte[] report = new byte[huge.reports().get(0).length()];
        report[0] = 0x04;   // one slot selects usage 0x0004
        assertArrayEquals(new int[] {Usages.of(0x07, 0x04)}, huge.decodeInput(report).activeUsages(array));

        // collections nested 1364 deep (4094 bytes), each with a field: compared, hashed and printed without recursion
        ByteArrayOutputStream deep = new ByteArrayOutputStream();
        for (int i = 0; i < 1364; i++) {
            deep.write(0xA1);
            deep.write(0x02);
        }
        deep.write(0x81);   // an Input of 0 bits in the innermost
        deep.write(0x02);
        for (int i = 0; i < 1364; i++) {
            deep.write(0xC0);
        }
        byte[] nested = deep.toByteArray();
        ReportDescriptor a = ReportDescriptor.parse(nested);
        ReportDescriptor b = ReportDescriptor.parse(nested);
        assertEquals(a.collections(), b.collections());
        assertEquals(a.collections().hashCode(), b.collections().hashCode());
        HidCollection innermost = a.collections().get(0);
        while (!innermost.children().isEmpty()) {
            innermost = innermost.children().get(0);
        }
        assertEquals(1, innermost.fields().size());
        assertEquals(1364, a.items().get(1364).depth());

        // 255 reports of each type, each at 16383 bytes: the longest the kernel takes
        ByteArrayOutputStream many = new ByteArrayOutputStream();
        many.write(bytes(0x75, 0x08, 0x96, 0x00, 0x30, 0x09, 0x01), 0, 7);
        for (int id = 1; id < 256; id++) {
            many.write(bytes(0x85, id, 0x96, 0x00, 0x30, 0x81, 0x02, 0x91, 0x02, 0xB1, 0x02, 0x96, 0xFF, 0x0F,
                    0x81, 0x02), 0, 16);
        }
        ReportDescriptor longest = ReportDescriptor.parse(many.toByteArray());
        assertEquals(3 * 255, longest.reports().size());
        assertEquals(16384, longest.report(ReportType.INPUT, 255).length());

        // 4081 fields of 12288 slots of 0 bits: no bits, so the report's length bounds them not; they share slots
        ByteArrayOutputStream empty = new ByteArrayOutputStream();
        empty.write(bytes(0x85, 0x01, 0x75, 0x08, 0x95, 0x04, 0x81, 0x02, 0x85, 0x02, 0x75, 0x00, 0x96, 0x00, 0x30),
                0, 15);
        while (empty.size() < 4096) {
            empty.write(0x80);
        }
        ReportDescriptor zeros = ReportDescriptor.parse(empty.toByteArray());
        Report report2 = zeros.report(ReportType.INPUT, 2);
        assertEquals(4081, report2.fields().size());
        assertEquals(12288, zeros.mostSlots);
        ReportValues shared = zeros.decodeInput(bytes(1, 5, 6, 7, 8));
        zeros.decodeInput(bytes(2), 0, 1, shared);   // over report 1's values
        ReportField last = report2.fields().get(4080);
        assertEquals(0, shared.get(report2.fields().get(0), 0));
        assertEquals(0, shared.get(last, 12287));
    }

    @Test
    void randomInputsParseOrAreRefusedAndNothingElseEscapes() throws Exception {
        String property = System.getProperty("portula.hostile.seed");
        long seed = property != null ? Long.parseLong(property) : new SplittableRandom().nextLong();
        System.out.println("HostileDescriptorTest: seed " + seed + ", " + INPUTS + " inputs (-Dportula.hostile.seed="
                + seed + " repeats this run)");
        SplittableRandom random = new SplittableRandom(seed);
        List<byte[]> corpus = new ArrayList<>();
        for (String name : Corpus.namesIfPresent()) {   // without the corpus: the two made here
            corpus.add(Corpus.descriptor(name));
        }
        corpus.add(DecodeTest.MOUSE);
        corpus.add(DecodeTest.KEYBOARD);
        ExecutorService worker = Executors.newSingleThreadExecutor(r -> {
            Thread t = new Thread(r, "hostile descriptor");
            t.setDaemon(true);   // left behind, should one hang
            return t;
        });
        int parsed = 0;
        long slowest = 0;
        try {
            for (int i = 0; i < INPUTS; i++) {
                byte[] input = make(random, corpus);
                long inputSeed = random.nextLong();
                long start = System.nanoTime();
                Future<Boolean> run = worker.submit(() -> exercise(input, new SplittableRandom(inputSeed)));
                try {
                    parsed += run.get(BOUND_SECONDS, TimeUnit.SECONDS) ? 1 : 0;
                } catch (TimeoutException e) {
                    fail("input " + i + " of seed " + seed + " took over " + BOUND_SECONDS + " s: " + hex(input));
                } catch (java.util.concurrent.ExecutionException e) {
                    throw new AssertionError("input " + i + " of seed " + seed + ": " + hex(input), e.getCause());
                }
                slowest = Math.max(slowest, System.nanoTime() - start);
            }
        } finally {
            worker.shutdownNow();
        }
        System.out.printf("HostileDescriptorTest: %d inputs, %d parsed, %d refused; slowest %.1f ms%n", INPUTS, parsed,
                INPUTS - parsed, slowest / 1e6);
    }

    private static final int[] PREFIXES = {0x04, 0x08, 0x14, 0x18, 0x24, 0x28, 0x34, 0x44, 0x54, 0x64, 0x74, 0x84,
        0x94, 0xA4, 0xB4, 0x80, 0x90, 0xB0, 0xA0, 0xC0, 0x88, 0x98, 0x38, 0xA8, 0x48, 0x58, 0x78, 0xF0, 0xFC, 0xC4};

    static byte[] make(SplittableRandom random, List<byte[]> corpus) {
        byte[] base = corpus.get(random.nextInt(corpus.size()));
        switch (random.nextInt(6)) {
            case 0: {   // a few bytes changed
                byte[] b = base.clone();
                for (int n = 1 + random.nextInt(8); n > 0; n--) {
                    b[random.nextInt(b.length)] = (byte) random.nextInt(256);
                }
                return b;
            }
            case 1:   // cut short
                return Arrays.copyOf(base, random.nextInt(base.length + 1));
            case 2: {   // bytes inserted or taken out
                ByteArrayOutputStream b = new ByteArrayOutputStream();
                for (byte x : base) {
                    int r = random.nextInt(64);
                    if (r != 0) {
                        b.write(x);
                    }
                    if (r == 1) {
                        b.write(random.nextInt(256));
                    }
                }
                return b.toByteArray();
            }
            case 3: {   // the start of one, the end of another
                byte[] other = corpus.get(random.nextInt(corpus.size()));
                int cut = random.nextInt(base.length + 1);
                int from = random.nextInt(other.length + 1);
                byte[] b = Arrays.copyOf(base, cut + other.length - from);
                System.arraycopy(other, from, b, cut, other.length - from);
                return b;
            }
            case 4: {   // items strung at random, with data at the extremes
                ByteArrayOutputStream b = new ByteArrayOutputStream();
                for (int n = random.nextInt(200); n > 0; n--) {
                    int prefix = PREFIXES[random.nextInt(PREFIXES.length)] | random.nextInt(4);
                    b.write(prefix);
                    int size = prefix & 3;
                    for (int k = size == 3 ? 4 : size; k > 0; k--) {
                        int r = random.nextInt(4);
                        b.write(r == 0 ? 0 : r == 1 ? 0xFF : r == 2 ? 1 : random.nextInt(256));
                    }
                }
                return b.toByteArray();
            }
            default: {
                byte[] b = new byte[random.nextInt(300)];
                random.nextBytes(b);
                return b;
            }
        }
    }

    /** Parses input and, if it parses, uses all of it. @return whether it parsed */
    static boolean exercise(byte[] input, SplittableRandom random) throws ReportDescriptorException {
        ReportDescriptor d;
        try {
            d = ReportDescriptor.parse(input);
        } catch (ReportDescriptorException e) {
            assertTrue(e.offset() >= 0 && e.offset() <= input.length, e.getMessage());
            return false;
        }
        ReportDescriptor again = ReportDescriptor.parse(input);
        assertEquals(d, again);
        assertEquals(d.collections(), again.collections());
        assertEquals(d.reports(), again.reports());
        assertTrue(d.toString().length() > 0);
        for (ReportDescriptor.Item item : d.items()) {
            assertTrue(item.toString().length() > 0);
        }
        for (HidCollection c : d.collections()) {
            assertTrue(c.toString().startsWith(c.type() == HidCollection.Type.OTHER ? "collection" : ""));
        }
        ReportValues values = new ReportValues();
        for (Report r : d.reports()) {
            byte[] report = new byte[random.nextInt(r.length() + 2)];
            random.nextBytes(report);
            if (report.length > 0) {
                report[0] = (byte) r.id();
            }
            d.decode(r.type(), report, 0, report.length, values);
            assertTrue(values.toString().length() > 0);
            ReportBuilder builder = d.builder(r.type(), r.id());
            for (ReportField f : r.fields()) {
                assertTrue(f.toString().length() > 0);
                if (f.count() > 0 && f.bitSize() <= 64) {
                    builder.set(f, f.count() - 1, 0);
                }
                if (values.report() != null && f.count() > 0 && values.has(f, 0) && f.bitSize() <= 64) {
                    values.get(f, 0);
                }
                if (values.report() != null && f.isArray() && f.count() > 0 && values.has(f, f.count() - 1)
                        && f.bitSize() <= 64) {
                    values.activeUsages(f);
                }
            }
            boolean numbered = d.reports().stream().anyMatch(x -> x.type() == r.type() && x.id() != 0);
            assertEquals(r.length() + (numbered ? 0 : 1), builder.toBytes().length, r.toString());
        }
        return true;
    }

    static String hex(byte[] bytes) {
        StringBuilder text = new StringBuilder();
        for (byte b : bytes) {
            text.append(String.format("%02x", b & 0xFF));
        }
        return text.toString();
    }
}
