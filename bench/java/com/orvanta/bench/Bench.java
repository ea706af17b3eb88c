package com.orvanta.bench;

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
import java.util.Arrays;
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
    static final int REPEATS = 9;
    static volatile Object sink;

    private Bench() {
    }

    /** The same no-op functions, through JNA's interface mapping. */
    public interface Hid extends Library {
        int hid_write(Pointer device, byte[] data, long length);

        int hid_read(Pointer device, byte[] data, long length);
    }

    /** The same no-op functions, through JNA's direct mapping. */
    static final class Direct {
        static native int hid_write(Pointer device, byte[] data, long length);

        static native int hid_read(Pointer device, byte[] data, long length);
    }

    interface Body {
        void run(int calls) throws Exception;
    }

    /** Median nanoseconds per call over REPEATS timed batches, after a warm-up. */
    static double nsPerCall(int calls, Body body) throws Exception {
        body.run(calls);
        body.run(calls);
        double[] runs = new double[REPEATS];
        for (int r = 0; r < REPEATS; r++) {
            long start = System.nanoTime();
            body.run(calls);
            runs[r] = (System.nanoTime() - start) / (double) calls;
        }
        return median(runs);
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

        double bridgeWrite = nsPerCall(calls, n -> {
            for (int i = 0; i < n; i++) {
                HIDClassConnector._hid_write(h, report);
            }
        });
        double floorWrite = nsPerCall(calls, n -> {
            for (int i = 0; i < n; i++) {
                Floor.write(h, report);
            }
        });
        double bridgeRead = nsPerCall(calls, n -> {
            for (int i = 0; i < n; i++) {
                sink = HIDClassConnector._hid_read(h, 64);
            }
        });
        double floorRead = nsPerCall(calls, n -> {
            for (int i = 0; i < n; i++) {
                sink = Floor.read(h, 64);
            }
        });

        Hid jna = Native.load(library, Hid.class);
        Native.register(Direct.class, NativeLibrary.getInstance(library));
        Pointer device = new Memory(64);
        double jnaWrite = nsPerCall(calls, n -> {
            for (int i = 0; i < n; i++) {
                jna.hid_write(device, report, report.length);
            }
        });
        double jnaRead = nsPerCall(calls, n -> {
            for (int i = 0; i < n; i++) {
                byte[] in = new byte[64];
                jna.hid_read(device, in, in.length);
                sink = in;
            }
        });
        double directWrite = nsPerCall(calls, n -> {
            for (int i = 0; i < n; i++) {
                Direct.hid_write(device, report, report.length);
            }
        });
        double directRead = nsPerCall(calls, n -> {
            for (int i = 0; i < n; i++) {
                byte[] in = new byte[64];
                Direct.hid_read(device, in, in.length);
                sink = in;
            }
        });

        System.out.println("== the bridge's own cost, 64-byte reports, hidapi's hid_write/hid_read as no-ops");
        System.out.println("   (median of " + REPEATS + " batches of " + calls + " calls, ns per call)");
        System.out.printf("%-28s %10s %10s%n", "", "write", "read");
        row("bridge (_hid_write/_hid_read)", bridgeWrite, bridgeRead);
        row("floor (bare JNI array work)", floorWrite, floorRead);
        row("JNA, interface mapping", jnaWrite, jnaRead);
        row("JNA, direct mapping", directWrite, directRead);
        System.out.printf("bridge / floor:            write %.2fx  read %.2fx   (target <= 2x)%n",
                bridgeWrite / floorWrite, bridgeRead / floorRead);
        System.out.printf("JNA interface / bridge:    write %.1fx  read %.1fx   (target >= 5x)%n",
                jnaWrite / bridgeWrite, jnaRead / bridgeRead);
        System.out.printf("JNA direct / bridge:       write %.1fx  read %.1fx%n",
                directWrite / bridgeWrite, directRead / bridgeRead);

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

    static void row(String name, double write, double read) {
        System.out.printf("%-28s %10.1f %10.1f%n", name, write, read);
    }

    static void device(EmulatedHid emulator, EmulatedHid.Device echo) throws Exception {
        System.loadLibrary("portula_bench64");
        int trips = Integer.getInteger("bench.trips", 20_000);
        long h = HIDClassConnector._hid_init();
        HIDClassConnector._hid_open(h, echo.path());
        byte[] out = new byte[65];
        double[] java = new double[5];
        double[] cpp = new double[5];
        for (int r = -1; r < java.length; r++) {   // r = -1 warms up
            long start = System.nanoTime();
            for (int i = 0; i < trips; i++) {
                out[1] = (byte) i;
                HIDClassConnector._hid_write(h, out);
                byte[] in = HIDClassConnector._hid_read(h, 64);
                if (in[0] != out[1]) {
                    throw new AssertionError("echo returned " + in[0]);
                }
            }
            double javaRate = trips / ((System.nanoTime() - start) / 1e9);
            long nanos = NativeBench.roundTrips(echo.path(), trips);
            if (nanos < 0) {
                throw new AssertionError("CHIDDevice round trips failed");
            }
            if (r >= 0) {
                java[r] = javaRate;
                cpp[r] = trips / (nanos / 1e9);
            }
        }
        HIDClassConnector._free(h);
        System.out.println("== round trips on the emulated echo device (65-byte write + 64-byte read)");
        System.out.printf("Java API        %8.0f /s%n", median(java));
        System.out.printf("C++ CHIDDevice  %8.0f /s%n", median(cpp));
        System.out.printf("Java / C++      %8.1f %%   (target >= 95 %%)%n", 100 * median(java) / median(cpp));

        int devices = Integer.getInteger("bench.devices", 1000);
        long addStart = System.nanoTime();
        for (int i = 1; i < devices; i++) {
            emulator.add(VID, 0x4000 + i, "Orvanta Labs", "Many " + i, "M-" + i, false, false);
        }
        System.out.printf("(emulator: %d devices added in %.1f s)%n", devices, (System.nanoTime() - addStart) / 1e9);
        h = HIDClassConnector._hid_init();
        double[] bridge = new double[5];
        double[] bare = new double[5];
        for (int r = -1; r < bridge.length; r++) {
            long start = System.nanoTime();
            int listed = HIDClassConnector._enumerateDevices(h, 0, 0).length;
            double bridgeMs = (System.nanoTime() - start) / 1e6;
            start = System.nanoTime();
            int bareListed = NativeBench.bareEnumerate(0, 0);
            double bareMs = (System.nanoTime() - start) / 1e6;
            if (listed != devices || bareListed != devices) {
                throw new AssertionError("listed " + listed + " and " + bareListed + " of " + devices);
            }
            if (r >= 0) {
                bridge[r] = bridgeMs;
                bare[r] = bareMs;
            }
        }
        System.out.println("== enumeration of " + devices + " emulated devices (median of 5, ms)");
        System.out.printf("_enumerateDevices                   %8.1f ms%n", median(bridge));
        System.out.printf("hid_enumerate + hid_free_enumeration %7.1f ms%n", median(bare));
        System.out.printf("ratio                               %8.2fx%n", median(bridge) / median(bare));

        int repeats = Integer.getInteger("bench.enumerations", 100);
        System.out.println("== Java heap in use after GC, during " + repeats + " enumerations of " + devices + " devices");
        long rss = residentKib();
        StringBuilder line = new StringBuilder();
        for (int i = 0; i <= repeats; i++) {
            if (i % 10 == 0) {
                line.append(String.format(" %d:%.1f", i, heapUsedMiB()));
            }
            if (i < repeats) {
                sink = HIDClassConnector._enumerateDevices(h, 0, 0);
            }
        }
        sink = null;
        System.out.println("after n enumerations: MiB" + line);
        System.out.printf("VmRSS %d -> %d KiB%n", rss, residentKib());
        HIDClassConnector._free(h);
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
