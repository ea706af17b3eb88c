package com.orvanta.bench;

import com.orvanta.hid.Hid;
import com.orvanta.hid.HidDevice;
import com.orvanta.hid.HidDeviceInfo;
import com.orvanta.hid.HidException;
import com.orvanta.hid.HidWatch;
import com.orvanta.hid.HidWatchListener;
import com.orvanta.jni.HIDClassConnector;
import com.orvanta.testbed.EmulatedHid;
import com.sun.jna.Library;
import com.sun.jna.Memory;
import com.sun.jna.Native;
import com.sun.jna.NativeLibrary;
import com.sun.jna.Pointer;
import java.io.IOException;
import java.lang.management.ManagementFactory;
import java.lang.management.MemoryUsage;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.BlockingQueue;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.stream.Stream;

/**
 * Figures, printed, not asserted. Two runs, in two JVMs:
 * "bridge" with the no-op build of libportula64.so (hidapi's hid_write and
 * hid_read do nothing) on java.library.path: the bridge against a bare JNI
 * floor and against JNA; "device" with the real library: round trips on the
 * emulated echo device, and enumeration of 1,000 emulated devices.
 */
public final class Bench {
    static final int VID = 0x1209;
    static volatile Object sink;

    private Bench() {
    }

    /** The same no-op functions, through JNA's interface mapping. */
    public interface JnaHid extends Library {
        int hid_write(Pointer device, byte[] data, long length);

        int hid_read(Pointer device, byte[] data, long length);
    }

    /** The same no-op functions, through JNA's direct mapping. */
    static final class Direct {
        static native int hid_write(Pointer device, byte[] data, long length);

        static native int hid_read(Pointer device, byte[] data, long length);

        static native int hid_read_timeout(Pointer device, byte[] data, long length, int milliseconds);
    }

    interface Body {
        void run(int calls) throws Exception;
    }

    interface Setup {
        void run() throws Exception;
    }

    /** One candidate of an interleaved comparison. */
    static final class Candidate {
        final String name;
        final Body body;
        final double[] nsPerCall = new double[ROUNDS];

        Candidate(String name, Body body) {
            this.name = name;
            this.body = body;
        }

        double median() {
            return Bench.median(nsPerCall);
        }
    }

    static final int ROUNDS = 11;

    /**
     * Times every candidate once per round, in turn, after two warm-up
     * rounds: a busy machine then slows all of them alike within a round,
     * and each round gives its own ratios.
     */
    static void interleave(int calls, Candidate... candidates) throws Exception {
        interleave(calls, () -> { }, candidates);
    }

    /** As above, with setUp run before each round. */
    static void interleave(int calls, Setup setUp, Candidate... candidates) throws Exception {
        for (int r = -2; r < ROUNDS; r++) {
            setUp.run();
            for (Candidate c : candidates) {
                long start = System.nanoTime();
                c.body.run(calls);
                if (r >= 0) {
                    c.nsPerCall[r] = (System.nanoTime() - start) / (double) calls;
                }
            }
        }
    }

    /** "median (min-max)" of a/b, taken round by round. */
    static String ratio(Candidate a, Candidate b) {
        double[] ratios = new double[ROUNDS];
        for (int r = 0; r < ROUNDS; r++) {
            ratios[r] = a.nsPerCall[r] / b.nsPerCall[r];
        }
        double[] sorted = ratios.clone();
        Arrays.sort(sorted);
        return String.format("%.2fx (%.2f-%.2f)", median(ratios), sorted[0], sorted[ROUNDS - 1]);
    }

    static double median(double[] values) {
        double[] sorted = values.clone();
        Arrays.sort(sorted);
        return sorted[sorted.length / 2];
    }

    public static void main(String[] args) throws Exception {
        try (EmulatedHid emulator = new EmulatedHid()) {
            EmulatedHid.Device echo = emulator.add(VID, 0x0001, "Orvanta Labs", "Echo", "B-1", true, false);
            if (args[0].equals("bridge")) {
                bridge(echo, args[1]);
            } else {
                device(emulator, echo);
            }
        }
    }

    static void bridge(EmulatedHid.Device echo, String library) throws Exception {
        System.loadLibrary("portula_floor64");
        long h = HIDClassConnector._hid_init();
        HIDClassConnector._hid_open(h, echo.path());
        byte[] report = new byte[64];
        int calls = 200_000;

        JnaHid jna = Native.load(library, JnaHid.class);
        Native.register(Direct.class, NativeLibrary.getInstance(library));
        Pointer device = new Memory(64);
        Candidate bridgeWrite = new Candidate("bridge (_hid_write)", n -> {
            for (int i = 0; i < n; i++) {
                HIDClassConnector._hid_write(h, report);
            }
        });
        Candidate floorWrite = new Candidate("floor (bare JNI array work)", n -> {
            for (int i = 0; i < n; i++) {
                Floor.write(h, report);
            }
        });
        Candidate jnaWrite = new Candidate("JNA, interface mapping", n -> {
            for (int i = 0; i < n; i++) {
                jna.hid_write(device, report, report.length);
            }
        });
        Candidate directWrite = new Candidate("JNA, direct mapping", n -> {
            for (int i = 0; i < n; i++) {
                Direct.hid_write(device, report, report.length);
            }
        });
        Candidate bridgeRead = new Candidate("bridge (_hid_read)", n -> {
            for (int i = 0; i < n; i++) {
                sink = HIDClassConnector._hid_read(h, 64);
            }
        });
        Candidate floorRead = new Candidate("floor (bare JNI array work)", n -> {
            for (int i = 0; i < n; i++) {
                sink = Floor.read(h, 64);
            }
        });
        Candidate jnaRead = new Candidate("JNA, interface mapping", n -> {
            for (int i = 0; i < n; i++) {
                byte[] in = new byte[64];
                jna.hid_read(device, in, in.length);
                sink = in;
            }
        });
        Candidate directRead = new Candidate("JNA, direct mapping", n -> {
            for (int i = 0; i < n; i++) {
                byte[] in = new byte[64];
                Direct.hid_read(device, in, in.length);
                sink = in;
            }
        });
        interleave(calls, bridgeWrite, floorWrite, jnaWrite, directWrite);
        interleave(calls, bridgeRead, floorRead, jnaRead, directRead);

        System.out.println("== the bridge's own cost, 64-byte reports, hidapi's hid_write/hid_read as no-ops");
        System.out.println("   (" + ROUNDS + " rounds, each timing every candidate once over " + calls
                + " calls; median ns per call)");
        System.out.printf("%-28s %10s %10s%n", "", "write", "read");
        row("bridge (_hid_write/_hid_read)", bridgeWrite, bridgeRead);
        row("floor (bare JNI array work)", floorWrite, floorRead);
        row("JNA, interface mapping", jnaWrite, jnaRead);
        row("JNA, direct mapping", directWrite, directRead);
        System.out.println("ratios, median of the rounds' own (min-max):");
        System.out.printf("bridge / floor          write %s  read %s   (target <= 2x)%n",
                ratio(bridgeWrite, floorWrite), ratio(bridgeRead, floorRead));
        System.out.printf("JNA interface / bridge  write %s  read %s   (target >= 5x)%n",
                ratio(jnaWrite, bridgeWrite), ratio(jnaRead, bridgeRead));
        System.out.printf("JNA direct / bridge     write %s  read %s%n",
                ratio(directWrite, bridgeWrite), ratio(directRead, bridgeRead));

        readInto(echo, device, calls);

        // resources around 10^6 more calls, twice: the first batch may still
        // size the heap; the second shows the steady state
        System.out.println("== 10^6 calls (500,000 _hid_write + 500,000 _hid_read, no-op build), twice");
        for (int batch = 1; batch <= 2; batch++) {
            java.util.Set<String> before = fdTargets();
            long rss = residentKib();
            for (int i = 0; i < 500_000; i++) {
                HIDClassConnector._hid_write(h, report);
                sink = HIDClassConnector._hid_read(h, 64);
            }
            java.util.Set<String> after = fdTargets();
            long rssAfter = residentKib();
            java.util.Set<String> opened = new java.util.TreeSet<>(after);
            opened.removeAll(before);
            System.out.printf("batch %d: open descriptors %d -> %d%s; VmRSS %d -> %d KiB (%+d KiB)%n", batch,
                    before.size(), after.size(), opened.isEmpty() ? "" : " (new: " + opened + ")", rss,
                    rssAfter, rssAfter - rss);
        }
        HIDClassConnector._free(h);
    }

    /**
     * The application API's read into a caller's array, which allocates
     * nothing, against a bare C++ loop of the same no-op hid_read_timeout and
     * against JNA's direct mapping of it.
     */
    static void readInto(EmulatedHid.Device echo, Pointer device, int calls) throws Exception {
        byte[] into = new byte[64];
        try (HidDevice api = Hid.open(echo.path())) {
            Candidate apiRead = new Candidate("HidDevice.read(buffer, 0)", n -> {
                for (int i = 0; i < n; i++) {
                    api.read(into, 0);
                }
            });
            Candidate bareRead = new Candidate("bare hid_read_timeout loop, C++", n -> {
                if (Floor.bareReads(n) != n) {
                    throw new AssertionError("the no-op hid_read_timeout is not there");
                }
            });
            Candidate directRead = new Candidate("JNA direct, hid_read_timeout", n -> {
                for (int i = 0; i < n; i++) {
                    Direct.hid_read_timeout(device, into, into.length, 0);
                }
            });
            interleave(calls, apiRead, bareRead, directRead);
            com.sun.management.ThreadMXBean threads =
                    (com.sun.management.ThreadMXBean) ManagementFactory.getThreadMXBean();
            long id = Thread.currentThread().getId();
            long before = threads.getThreadAllocatedBytes(id);
            apiRead.body.run(1_000_000);
            long allocated = threads.getThreadAllocatedBytes(id) - before;
            System.out.println("== reading into the caller's array, 64 bytes, the same no-op hid_read_timeout");
            for (Candidate c : new Candidate[] {apiRead, bareRead, directRead}) {
                System.out.printf("%-34s %8.1f ns%n", c.name, c.median());
            }
            System.out.printf("API - bare loop                    %s ns   (target <= 1000 ns)%n",
                    difference(apiRead, bareRead));
            System.out.printf("JNA direct / API                   %s%n", ratio(directRead, apiRead));
            System.out.printf("allocated by 10^6 API reads        %d bytes, %.3f per call   (target 0)%n", allocated,
                    allocated / 1e6);
        }
    }

    /** "median (min-max)" of a - b in ns per call, taken round by round. */
    static String difference(Candidate a, Candidate b) {
        double[] differences = new double[ROUNDS];
        for (int r = 0; r < ROUNDS; r++) {
            differences[r] = a.nsPerCall[r] - b.nsPerCall[r];
        }
        double[] sorted = differences.clone();
        Arrays.sort(sorted);
        return String.format("%.1f (%.1f to %.1f)", median(differences), sorted[0], sorted[ROUNDS - 1]);
    }

    /**
     * Reading a report that waits in the emulated device's queue, with
     * timeout 0: the API against CHIDDevice in C++, 64 reports a batch, the
     * two alternating batch by batch. The emulator's read is a round trip to
     * its thread, whose time varies far more than what either side adds:
     * the differences of paired batches, their median and quartiles, show
     * what the API adds.
     */
    static void queuedReads(EmulatedHid emulator) throws Exception {
        EmulatedHid.Device queue = emulator.add(VID, 0x0005, "Orvanta Labs", "Queue", "B-5", false, false);
        int perBatch = 64;   // hidraw's queue
        int batches = 201;
        double[] api = new double[batches];
        double[] bare = new double[batches];
        double[] differences = new double[batches];
        byte[] into = new byte[64];
        try (HidDevice d = Hid.open(queue.path())) {
            for (int b = -10; b < batches; b++) {
                push(queue, perBatch);
                long start = System.nanoTime();
                for (int i = 0; i < perBatch; i++) {
                    if (d.read(into, 0) != 4) {
                        throw new AssertionError("a queued report did not come");
                    }
                }
                long apiNs = System.nanoTime() - start;
                push(queue, perBatch);
                long bareNs = NativeBench.queuedReads(queue.path(), perBatch);
                if (bareNs < 0) {
                    throw new AssertionError("CHIDDevice missed a queued report");
                }
                if (b >= 0) {
                    api[b] = apiNs / (double) perBatch;
                    bare[b] = bareNs / (double) perBatch;
                    differences[b] = api[b] - bare[b];
                }
            }
        }
        double[] sorted = differences.clone();
        Arrays.sort(sorted);
        System.out.println("== a queued report on an emulated device, read(buffer, 0) (" + batches
                + " paired batches of " + perBatch + "; microseconds per read)");
        System.out.printf("HidDevice.read(buffer, 0)             %7.2f%n", median(api) / 1e3);
        System.out.printf("CHIDDevice::read_timeout(0), C++      %7.2f%n", median(bare) / 1e3);
        System.out.printf("API - C++, median (quartiles)         %7.2f (%.2f to %.2f)   (target <= 1)%n",
                median(differences) / 1e3, sorted[batches / 4] / 1e3, sorted[3 * batches / 4] / 1e3);
    }

    private static void push(EmulatedHid.Device device, int count) {
        for (int i = 0; i < count; i++) {
            if (device.pushInput(new byte[] {(byte) i, 1, 2, 3}) != 0) {
                throw new AssertionError("the emulator's queue is full");
            }
        }
    }

    /**
     * Context switches of the whole JVM (emulator included) per second, over
     * 5 s after 2 s of rest: at rest, and with 1 or 10 emulated devices that
     * send nothing, each listened to or waited on in read(buffer, -1), in
     * interleaved rounds.
     */
    static void idle(EmulatedHid emulator) throws Exception {
        List<EmulatedHid.Device> quiet = new ArrayList<>();
        for (int i = 0; i < 10; i++) {
            quiet.add(emulator.add(VID, 0x0100 + i, "Orvanta Labs", "Idle", "I-" + i, false, false));
        }
        String[] modes = {"at rest", "listening", "listening", "waiting in read(buffer, -1)",
            "waiting in read(buffer, -1)"};
        int[] devices = {0, 1, 10, 1, 10};
        int rounds = 3;
        double[][] perSecond = new double[modes.length][rounds];
        for (int r = 0; r < rounds; r++) {
            for (int m = 0; m < modes.length; m++) {
                List<HidDevice> open = new ArrayList<>();
                List<Thread> readers = new ArrayList<>();
                for (int i = 0; i < devices[m]; i++) {
                    HidDevice d = Hid.open(quiet.get(i).path());
                    open.add(d);
                    if (m < 3) {
                        d.setInputReportListener((device, report) -> { });
                    } else {
                        Thread t = new Thread(() -> {
                            try {
                                d.read(new byte[64], -1);
                            } catch (HidException closed) {
                                // the end of the measurement
                            }
                        });
                        t.start();
                        readers.add(t);
                    }
                }
                Thread.sleep(2000);
                long before = NativeBench.contextSwitches();
                long start = System.nanoTime();
                Thread.sleep(5000);
                long switches = NativeBench.contextSwitches() - before;
                perSecond[m][r] = switches / ((System.nanoTime() - start) / 1e9);
                for (HidDevice d : open) {
                    d.close();
                }
                for (Thread t : readers) {
                    t.join();
                }
            }
        }
        System.out.println("== idle: context switches of the whole JVM per second, over 5 s after 2 s of rest ("
                + rounds + " interleaved rounds; median, min-max)");
        double rest = median(perSecond[0]);
        for (int m = 0; m < modes.length; m++) {
            double[] sorted = perSecond[m].clone();
            Arrays.sort(sorted);
            String perDevice = devices[m] == 0 ? ""
                    : String.format("   %+.1f per device   (target <= 1)", (median(perSecond[m]) - rest) / devices[m]);
            System.out.printf("%2d %-30s %7.1f /s (%.1f-%.1f)%s%n", devices[m], modes[m], median(perSecond[m]),
                    sorted[0], sorted[rounds - 1], perDevice);
        }
    }

    /** close() while another thread waits in read(buffer, -1), 1,000 times. */
    static void closeDuringRead(EmulatedHid emulator) throws Exception {
        EmulatedHid.Device quiet = emulator.add(VID, 0x0006, "Orvanta Labs", "Closing", "C-1", false, false);
        int tries = Integer.getInteger("bench.closes", 1000);
        long[] took = new long[tries];
        java.util.concurrent.ExecutorService reader = java.util.concurrent.Executors.newSingleThreadExecutor();
        try {
            for (int i = 0; i < tries; i++) {
                HidDevice d = Hid.open(quiet.path());
                java.util.concurrent.Future<Object> read = reader.submit(() -> {
                    try {
                        return d.read(new byte[64], -1);
                    } catch (HidException e) {
                        return e.reason();
                    }
                });
                Thread.sleep(2);
                long start = System.nanoTime();
                d.close();
                took[i] = System.nanoTime() - start;
                if (read.get() != HidException.Reason.CLOSED) {
                    throw new AssertionError("the read ended with " + read.get());
                }
            }
        } finally {
            reader.shutdown();
        }
        System.out.printf("== close() while another thread waits in read(buffer, -1), %d tries (ms)%n", tries);
        System.out.printf("median %.3f  p99 %.3f  max %.3f   (target: max < 200, median < 5)%n",
                percentile(took, 50) / 1e6, percentile(took, 99) / 1e6, percentile(took, 100) / 1e6);
    }

    /**
     * From an input report pushed in the emulator to its reader: the API's
     * listener against a bare hid_read_timeout loop in C++, in interleaved
     * rounds, the reports pushed 2 ms apart for both.
     */
    static void listenerLatency(EmulatedHid emulator) throws Exception {
        EmulatedHid.Device quiet = emulator.add(VID, 0x0003, "Orvanta Labs", "Quiet", "B-3", false, false);
        int perRound = 200;
        int rounds = 5;
        long[] listener = new long[perRound * rounds];
        long[] bare = new long[perRound * rounds];
        // round -1 warms both up (the listener's path is compiled by then) and is not counted
        for (int r = -1; r < rounds; r++) {
            long[] arrived = new long[perRound];
            java.util.concurrent.atomic.AtomicInteger next = new java.util.concurrent.atomic.AtomicInteger();
            try (HidDevice device = Hid.open(quiet.path())) {
                device.setInputReportListener((d, report) -> {
                    // the time first, then the count that publishes it
                    int k = next.get();
                    arrived[k] = System.nanoTime();
                    next.set(k + 1);
                });
                Thread.sleep(100);
                long[] pushed = new long[perRound];
                for (int i = 0; i < perRound; i++) {
                    pushed[i] = System.nanoTime();
                    quiet.pushInput(new byte[] {(byte) i, 1, 2, 3});
                    Thread.sleep(2);   // paced as the bare loop is, with no thread spinning beside the reader
                }
                while (next.get() < perRound) {
                    Thread.sleep(1);
                }
                for (int i = 0; r >= 0 && i < perRound; i++) {
                    listener[r * perRound + i] = arrived[i] - pushed[i];
                }
            }
            long[] pushed = new long[perRound];
            long[][] loop = new long[1][];
            Thread reader = new Thread(() -> loop[0] = NativeBench.arrivals(quiet.path(), perRound));
            reader.start();
            Thread.sleep(100);
            for (int i = 0; i < perRound; i++) {
                pushed[i] = System.nanoTime();
                quiet.pushInput(new byte[] {(byte) i, 1, 2, 3});
                Thread.sleep(2);   // the loop's times come back only at its end
            }
            reader.join();
            for (int i = 0; r >= 0 && i < perRound; i++) {
                bare[r * perRound + i] = loop[0][i] - pushed[i];
            }
        }
        double[] added = new double[rounds];
        double[] tails = new double[rounds];
        for (int r = 0; r < rounds; r++) {
            long[] l = Arrays.copyOfRange(listener, r * perRound, (r + 1) * perRound);
            long[] b = Arrays.copyOfRange(bare, r * perRound, (r + 1) * perRound);
            added[r] = (percentile(l, 50) - percentile(b, 50)) / 1e3;
            tails[r] = percentile(l, 99) / percentile(b, 99);
        }
        System.out.println("== input report pushed in the emulator -> its reader (" + rounds + " interleaved rounds of "
                + perRound + " after one to warm up, microseconds)");
        System.out.printf("listener (HidDevice.setInputReportListener)  median %7.1f  p99 %7.1f%n",
                percentile(listener, 50) / 1e3, percentile(listener, 99) / 1e3);
        System.out.printf("bare hid_read_timeout loop in C++            median %7.1f  p99 %7.1f%n",
                percentile(bare, 50) / 1e3, percentile(bare, 99) / 1e3);
        System.out.printf("listener's added latency at the median, a round's  %s   (target <= 50)%n", spread(added, "%.1f"));
        System.out.printf("listener's p99 / the bare loop's, a round's        %s   (target <= 1.2)%n", spread(tails, "%.2f"));
    }

    /** "median (min-max)" of values. */
    static String spread(double[] values, String format) {
        double[] sorted = values.clone();
        Arrays.sort(sorted);
        return String.format(format + " (" + format + " to " + format + ")", median(values), sorted[0],
                sorted[sorted.length - 1]);
    }

    /**
     * From the emulator plugging or unplugging a device to a watcher hearing
     * of it: Hid.watch's listener, a bare udev monitor loop in C++, and a
     * watcher that lists the devices every 500 ms, in interleaved rounds.
     */
    static void hotplugLatency(EmulatedHid emulator) throws Exception {
        int perRound = 100;
        int polledPerRound = 10;
        int rounds = 3;
        List<Long> watched = new ArrayList<>();
        List<Long> bare = new ArrayList<>();
        List<Long> polled = new ArrayList<>();
        int product = 0x6000;
        for (int r = 0; r < rounds; r++) {
            BlockingQueue<Long> heard = new LinkedBlockingQueue<>();
            HidWatchListener listener = new HidWatchListener() {
                @Override
                public void attached(HidDeviceInfo device) {
                    heard.add(System.nanoTime());
                }

                @Override
                public void detached(HidDeviceInfo device) {
                    heard.add(System.nanoTime());
                }
            };
            HidWatch watch = Hid.watch(listener, false);
            for (int i = 0; i < perRound; i += 2) {
                product++;
                watched.add(plugged(emulator, product, heard));
            }
            watch.close();

            long[][] loop = new long[1][];
            Thread reader = new Thread(() -> loop[0] = NativeBench.uevents(perRound));
            reader.start();
            Thread.sleep(100);
            long[] started = new long[perRound];
            for (int i = 0; i < perRound; i += 2) {
                started[i] = System.nanoTime();
                EmulatedHid.Device d = emulator.device(VID, ++product).add();
                Thread.sleep(3);
                started[i + 1] = System.nanoTime();
                d.unplug();
                Thread.sleep(3);
            }
            reader.join();
            for (int i = 0; i < loop[0].length; i += 2) {   // the attaches, as for the others
                bare.add(loop[0][i] - started[i]);
            }

            PollingWatcher poller = new PollingWatcher(heard);
            for (int i = 0; i < polledPerRound; i += 2) {
                product++;
                // at a random phase of the period: else each plug follows a poll
                Thread.sleep(java.util.concurrent.ThreadLocalRandom.current().nextInt(500));
                polled.add(plugged(emulator, product, heard));
            }
            poller.stop();
        }
        System.out.println("== a device plugged or unplugged in the emulator -> a watcher hears of it (" + rounds
                + " interleaved rounds; from the start of the emulator's call, which sends the uevent; ms)");
        System.out.printf("Hid.watch listener            median %7.3f  p99 %7.3f%n", percentile(watched, 50) / 1e6,
                percentile(watched, 99) / 1e6);
        System.out.printf("bare udev monitor loop, C++   median %7.3f  p99 %7.3f%n", percentile(bare, 50) / 1e6,
                percentile(bare, 99) / 1e6);
        System.out.printf("polling every 500 ms          median %7.3f  p99 %7.3f   (expected: about half the period)%n",
                percentile(polled, 50) / 1e6, percentile(polled, 99) / 1e6);
    }

    /** Plugs a device in and out, as a watcher hears both: the time to its attach. */
    private static long plugged(EmulatedHid emulator, int product, BlockingQueue<Long> heard) throws Exception {
        long start = System.nanoTime();
        EmulatedHid.Device d = emulator.device(VID, product).add();
        Long attached = heard.poll(10, java.util.concurrent.TimeUnit.SECONDS);
        d.unplug();
        if (heard.poll(10, java.util.concurrent.TimeUnit.SECONDS) == null || attached == null) {
            throw new AssertionError("a watcher missed a device");
        }
        return attached - start;
    }

    /** What peers do: list every 500 ms and compare. */
    static final class PollingWatcher {
        private final Thread thread;
        private volatile boolean stop;

        PollingWatcher(BlockingQueue<Long> heard) throws Exception {
            java.util.Set<String> before = paths();
            thread = new Thread(() -> {
                java.util.Set<String> last = before;
                while (!stop) {
                    try {
                        Thread.sleep(500);
                        java.util.Set<String> now = paths();
                        if (!now.equals(last)) {
                            heard.add(System.nanoTime());
                        }
                        last = now;
                    } catch (Exception e) {
                        return;
                    }
                }
            });
            thread.start();
        }

        private static java.util.Set<String> paths() throws Exception {
            java.util.Set<String> paths = new java.util.HashSet<>();
            for (HidDeviceInfo d : Hid.devices()) {
                paths.add(d.path());
            }
            return paths;
        }

        void stop() throws InterruptedException {
            stop = true;
            thread.join();
        }
    }

    static double percentile(List<Long> values, int p) {
        long[] all = new long[values.size()];
        for (int i = 0; i < all.length; i++) {
            all[i] = values.get(i);
        }
        return percentile(all, p);
    }

    static double percentile(long[] values, int p) {
        long[] sorted = values.clone();
        Arrays.sort(sorted);
        return sorted[Math.min(sorted.length - 1, sorted.length * p / 100)];
    }

    static void row(String name, Candidate write, Candidate read) {
        System.out.printf("%-28s %10.1f %10.1f%n", name, write.median(), read.median());
    }

    static void device(EmulatedHid emulator, EmulatedHid.Device echo) throws Exception {
        System.loadLibrary("portula_bench64");
        int trips = Integer.getInteger("bench.trips", 5_000);
        long h = HIDClassConnector._hid_init();
        HIDClassConnector._hid_open(h, echo.path());
        byte[] out = new byte[65];
        Candidate javaTrips = new Candidate("Java API", n -> {
            for (int i = 0; i < n; i++) {
                out[1] = (byte) i;
                HIDClassConnector._hid_write(h, out);
                byte[] in = HIDClassConnector._hid_read(h, 64);
                if (in[0] != out[1]) {
                    throw new AssertionError("echo returned " + in[0]);
                }
            }
        });
        Candidate cppTrips = new Candidate("C++ CHIDDevice", n -> {
            if (NativeBench.roundTrips(echo.path(), n) < 0) {
                throw new AssertionError("CHIDDevice round trips failed");
            }
        });
        interleave(trips, javaTrips, cppTrips);
        HIDClassConnector._free(h);
        System.out.println("== round trips on the emulated echo device (65-byte write + 64-byte read), "
                + ROUNDS + " interleaved rounds of " + trips);
        System.out.printf("Java API        %8.0f /s%n", 1e9 / javaTrips.median());
        System.out.printf("C++ CHIDDevice  %8.0f /s%n", 1e9 / cppTrips.median());
        System.out.printf("Java / C++ time %s   (target: Java >= 95 %% of C++'s rate, i.e. <= 1.05x)%n",
                ratio(javaTrips, cppTrips));

        queuedReads(emulator);
        idle(emulator);
        closeDuringRead(emulator);
        listenerLatency(emulator);
        hotplugLatency(emulator);

        int devices = Integer.getInteger("bench.devices", 1000);
        long addStart = System.nanoTime();
        for (int i = 1; i < devices; i++) {
            emulator.add(VID, 0x4000 + i, "Orvanta Labs", "Many " + i, "M-" + i, false, false);
        }
        System.out.printf("(emulator: %d devices added in %.1f s)%n", devices, (System.nanoTime() - addStart) / 1e9);
        long h2 = HIDClassConnector._hid_init();
        int listed = NativeBench.bareEnumerate(0, 0);   // with the devices of the figures above
        Candidate bridge = new Candidate("_enumerateDevices", n -> {
            for (int i = 0; i < n; i++) {
                if (HIDClassConnector._enumerateDevices(h2, 0, 0).length != listed) {
                    throw new AssertionError("the bridge missed devices");
                }
            }
        });
        Candidate bare = new Candidate("hid_enumerate", n -> {
            for (int i = 0; i < n; i++) {
                if (NativeBench.bareEnumerate(0, 0) != listed) {
                    throw new AssertionError("hidapi missed devices");
                }
            }
        });
        interleave(1, bridge, bare);
        System.out.println("== enumeration of " + listed + " emulated devices (" + ROUNDS + " interleaved rounds, ms)");
        System.out.printf("_enumerateDevices                   %8.1f ms%n", bridge.median() / 1e6);
        System.out.printf("hid_enumerate + hid_free_enumeration %7.1f ms%n", bare.median() / 1e6);
        System.out.printf("ratio                               %s%n", ratio(bridge, bare));

        int repeats = Integer.getInteger("bench.enumerations", 100);
        System.out.println("== Java heap in use after GC, during " + repeats + " enumerations of " + devices + " devices");
        long rss = residentKib();
        StringBuilder line = new StringBuilder();
        for (int i = 0; i <= repeats; i++) {
            if (i % 10 == 0) {
                line.append(String.format(" %d:%.1f", i, heapUsedMiB()));
            }
            if (i < repeats) {
                sink = HIDClassConnector._enumerateDevices(h2, 0, 0);
            }
        }
        sink = null;
        System.out.println("after n enumerations: MiB" + line);
        System.out.printf("VmRSS %d -> %d KiB%n", rss, residentKib());
        HIDClassConnector._free(h2);
    }

    static double heapUsedMiB() {
        sink = null;
        System.gc();
        System.gc();
        MemoryUsage heap = ManagementFactory.getMemoryMXBean().getHeapMemoryUsage();
        return heap.getUsed() / (1024.0 * 1024.0);
    }

    /** Each open descriptor with what it refers to. */
    static java.util.Set<String> fdTargets() throws IOException {
        java.util.Set<String> out = new java.util.TreeSet<>();
        try (Stream<Path> fds = Files.list(Path.of("/proc/self/fd"))) {
            for (Path fd : (Iterable<Path>) fds::iterator) {
                try {
                    out.add(fd.getFileName() + "=" + Files.readSymbolicLink(fd));
                } catch (IOException gone) {
                    // the listing's own descriptor
                }
            }
        }
        return out;
    }

    static long residentKib() throws IOException, InterruptedException {
        System.gc();
        Thread.sleep(200);
        for (String line : Files.readAllLines(Path.of("/proc/self/status"))) {
            if (line.startsWith("VmRSS:")) {
                return Long.parseLong(line.replaceAll("[^0-9]", ""));
            }
        }
        return -1;
    }
}
