package com.orvanta.jni;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.orvanta.jni.exceptions.HIDException;
import com.orvanta.testbed.EmulatedHid;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayDeque;
import java.util.Arrays;
import java.util.HashSet;
import java.util.Set;
import java.util.SplittableRandom;
import java.util.concurrent.atomic.AtomicLong;
import java.util.stream.Stream;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

/**
 * Entry points called in a random order from a printed seed, over three
 * handles and four emulated devices, each result checked against a model of
 * the handles and devices. Afterwards the process holds no more descriptors
 * than before. (Native memory per call is LeakTest's.)
 *
 * <p>-Dportula.random.seed=N repeats a run; -Dportula.random.calls=N sets how
 * many entry-point calls it makes (default 100000).
 */
class RandomCallsTest extends Emulation {
    static final String INVALID_HANDLE = "Invalid handle passed.";
    static final String NO_DATA = "No data to write.";
    static final String WRITE_FAILED = "Write to device failed.";
    static final String READ_FAILED = "Read from device failed.";
    static final String INVALID_LENGTH = "Read length is invalid.";
    static final String UNAVAILABLE = "requested device is unavailable.";
    static final int QUEUE_LIMIT = 64;   // the emulator keeps hidraw's limit
    static final int MAX_REPORT = 16384;
    /** One emulated device and what the model expects of it. */
    static final class Dev {
        final String name;
        final EmulatedHid.Device device;
        final int productId;
        final boolean echo;
        final boolean numbered;
        final String path;
        final ArrayDeque<byte[]> inputs = new ArrayDeque<>();
        boolean plugged = true;
        int generation;

        Dev(String name, EmulatedHid.Device device, int productId, boolean echo, boolean numbered) {
            this.name = name;
            this.device = device;
            this.productId = productId;
            this.echo = echo;
            this.numbered = numbered;
            this.path = device.path();
        }
    }

    /** A handle slot: 0 once freed, else closed or open on a device. */
    static final class Slot {
        long handle;
        Dev open;
        int generation;

        boolean live() {
            return open != null && open.plugged && open.generation == generation;
        }
    }

    Dev[] devs;
    Dev flaky;

    @BeforeEach
    void devices() {
        devs = new Dev[] {
            new Dev("echo", emulator.add(VID, 0x0201, "Orvanta Labs", "Echo", "R-1", true, false), 0x0201, true, false),
            new Dev("silent", emulator.add(VID, 0x0202, "Orvanta Labs", "Silent", "R-2", false, false), 0x0202, false, false),
            new Dev("numbered", emulator.add(VID, 0x0203, "Orvanta Labs", "Numbered", "R-3", false, true), 0x0203, false, true),
            new Dev("flaky", emulator.add(VID, 0x0204, "Orvanta Labs", "Flaky", "R-4", true, false), 0x0204, true, false),
        };
        flaky = devs[3];
    }

    private SplittableRandom random;
    private final Slot[] slots = {new Slot(), new Slot(), new Slot()};
    private long calls;
    // umockdev's preload keeps a socket after each failed open() of a /dev
    // node, and opening an unplugged device makes up to two such calls (the
    // library's hidraw probe, then hidapi's): every descriptor is checked
    // exactly but sockets, which may grow by two per such open.
    private long failedNodeOpens;
    private String current = "";

    @Test
    void randomCallsAgreeWithTheModel() throws Exception {
        String seedProperty = System.getProperty("portula.random.seed");
        long seed = seedProperty != null ? Long.parseLong(seedProperty) : new SplittableRandom().nextLong();
        long total = Long.getLong("portula.random.calls", 100_000);
        long warmUp = total / 5;
        System.out.println("RandomCallsTest: seed " + seed + ", " + total + " calls (-Dportula.random.seed="
                + seed + " repeats this run)");
        random = new SplittableRandom(seed);
        AtomicLong progress = new AtomicLong();
        Thread watchdog = startWatchdog(seed, progress);
        try {
            for (Slot s : slots) {
                init(s);
            }
            run(warmUp, seed, progress);
            freeAll();
            // after a warm-up of a fifth of the calls
            long[] before = openFds();
            long fds = before[0];
            long sockets = before[1];
            failedNodeOpens = 0;
            for (Slot s : slots) {
                init(s);
            }
            run(total, seed, progress);
            freeAll();
            // the emulator's threads let go of a closed node's socket a little later
            long fdsAfter = 0;
            long socketsAfter = 0;
            for (int i = 0; i < 50; i++) {
                long[] after = openFds();
                fdsAfter = after[0];
                socketsAfter = after[1];
                if (fdsAfter - socketsAfter <= fds - sockets && socketsAfter - sockets <= 2 * failedNodeOpens) {
                    break;
                }
                Thread.sleep(100);
            }
            System.out.printf("RandomCallsTest: %d calls; descriptors %d -> %d (sockets %d -> %d after %d failed"
                    + " opens of an unplugged device)%n", calls, fds, fdsAfter, sockets, socketsAfter, failedNodeOpens);
            assertTrue(calls >= total, "made " + calls + " calls");
            // earlier tests' descriptors may still be closing: fewer is fine, more is a leak
            assertTrue(fdsAfter - socketsAfter <= fds - sockets, "descriptors other than sockets: "
                    + (fds - sockets) + " -> " + (fdsAfter - socketsAfter));
            assertTrue(socketsAfter - sockets <= 2 * failedNodeOpens, "sockets grew by " + (socketsAfter - sockets)
                    + " after " + failedNodeOpens + " failed opens of an unplugged device");
        } finally {
            watchdog.interrupt();
            freeAll();
        }
    }

    /** Frees a handle slot in the model and the library. */
    private void freeAll() {
        for (Slot s : slots) {
            if (s.handle != 0) {
                HIDClassConnector._free(s.handle);
                s.handle = 0;
                s.open = null;
            }
        }
    }

    private void init(Slot s) throws HIDException {
        s.handle = HIDClassConnector._hid_init();
        assertTrue(s.handle != 0);
        s.open = null;
        calls++;
    }

    /** A read that waits for nothing should never block: if one does, the model is wrong. */
    private Thread startWatchdog(long seed, AtomicLong progress) {
        Thread t = new Thread(() -> {
            long seen = -1;
            try {
                while (true) {
                    Thread.sleep(30_000);
                    long now = progress.get();
                    if (now == seen) {
                        System.out.println("RandomCallsTest: stuck at call " + calls + " (" + current
                                + "), seed " + seed + "; waking the devices");
                        for (Dev d : devs) {
                            d.device.pushInput(new byte[] {(byte) 0xee});
                        }
                    }
                    seen = now;
                }
            } catch (InterruptedException e) {
                // the run is over
            }
        }, "random-calls-watchdog");
        t.setDaemon(true);
        t.start();
        return t;
    }

    private void run(long until, long seed, AtomicLong progress) {
        while (calls < until) {
            long index = calls;
            try {
                step();
            } catch (Throwable t) {
                throw new AssertionError("seed " + seed + ", call " + index + " (" + current + "): " + t
                        + "; repeat with -Dportula.random.seed=" + seed, t);
            }
            progress.incrementAndGet();
        }
    }

    private Slot slot() {
        return slots[random.nextInt(slots.length)];
    }

    private Dev dev() {
        return devs[random.nextInt(devs.length)];
    }

    // Weights per thousand steps; opening by IDs, enumeration and plugging
    // each walk the emulated sysfs and cost milliseconds, so they are rarer.
    private void step() throws Exception {
        int pick = random.nextInt(1000);
        if (pick < 300) {
            write(slot());
        } else if (pick < 560) {
            read(slot());
        } else if (pick < 710) {
            push(dev());
        } else if (pick < 820) {
            openPath(slot());
        } else if (pick < 840) {
            openIds(slot());
        } else if (pick < 920) {
            close(slot());
        } else if (pick < 990) {
            freeOrInit(slot());
        } else if (pick < 996) {
            enumerate(slot());
        } else {
            plug();
        }
    }

    /** Runs one entry-point call that must raise exactly message. */
    private void expectFailure(String message, Call call) {
        calls++;
        try {
            call.run();
        } catch (HIDException e) {
            assertEquals(message, e.getMessage());
            return;
        } catch (Exception e) {
            throw new AssertionError("expected HIDException \"" + message + "\", got " + e, e);
        }
        throw new AssertionError("expected HIDException \"" + message + "\", but the call succeeded");
    }

    interface Call {
        void run() throws Exception;
    }

    private byte[] report(int length, boolean numbered) {
        byte[] data = new byte[length];
        random.nextBytes(data);
        if (numbered) {
            data[0] = (byte) (1 + random.nextInt(2));
        } else if (random.nextInt(4) != 0) {
            data[0] = 0;
        }
        return data;
    }

    private void write(Slot s) throws Exception {
        int kind = random.nextInt(100);
        byte[] data = kind < 3 ? null
                : kind < 6 ? new byte[0]
                : kind < 10 ? report(1, false)
                : kind < 11 ? report(MAX_REPORT + 1 + random.nextInt(4000), false)
                : kind < 12 ? report(MAX_REPORT, false)
                : report(2 + random.nextInt(64), s.open != null && s.open.numbered);
        current = "write " + (data == null ? "null" : data.length + " bytes") + " on " + describe(s);
        if (s.handle == 0) {
            expectFailure(INVALID_HANDLE, () -> HIDClassConnector._hid_write(0, data));
        } else if (data == null || data.length == 0) {
            expectFailure(NO_DATA, () -> HIDClassConnector._hid_write(s.handle, data));
        } else if (!s.live() || data.length < 2 || data.length > MAX_REPORT) {
            expectFailure(WRITE_FAILED, () -> HIDClassConnector._hid_write(s.handle, data));
            if (s.open != null && s.open.plugged) {
                assertNull(s.open.device.popOutput(0), "a refused report reached the device");
            }
        } else {
            calls++;
            HIDClassConnector._hid_write(s.handle, data);
            Dev d = s.open;
            assertArrayEquals(data, d.device.popOutput(5_000), "the report as the device received it");
            if (d.echo && d.inputs.size() < QUEUE_LIMIT) {
                // report ID 0 never reaches the device, and so never comes back
                d.inputs.add(data[0] == 0 ? Arrays.copyOfRange(data, 1, data.length) : data);
            }
        }
    }

    private void read(Slot s) throws Exception {
        int kind = random.nextInt(100);
        int length = kind < 2 ? -1 - random.nextInt(1000) : kind < 4 ? 0 : 1 + random.nextInt(80);
        current = "read " + length + " on " + describe(s);
        if (s.handle == 0) {
            expectFailure(INVALID_HANDLE, () -> HIDClassConnector._hid_read(0, length));
        } else if (length < 0) {
            expectFailure(INVALID_LENGTH, () -> HIDClassConnector._hid_read(s.handle, length));
        } else if (!s.live() && !(s.open != null && s.generation == s.open.generation && !s.open.inputs.isEmpty())) {
            expectFailure(READ_FAILED, () -> HIDClassConnector._hid_read(s.handle, length));
        } else if (!s.live()) {
            calls++;   // unplugged, as hidraw: what was queued comes first
            byte[] got = HIDClassConnector._hid_read(s.handle, length);
            assertArrayEquals(Arrays.copyOf(s.open.inputs.remove(), length), got, "the report queued at the unplug");
        } else {
            Dev d = s.open;
            if (d.inputs.isEmpty()) {
                push(d);  // a blocking read needs a report waiting
            }
            calls++;
            byte[] got = HIDClassConnector._hid_read(s.handle, length);
            assertArrayEquals(Arrays.copyOf(d.inputs.remove(), length), got, "the report read");
        }
    }

    private void push(Dev d) {
        byte[] data = report(1 + random.nextInt(64), d.numbered);
        int expected = !d.plugged ? -1 : d.inputs.size() >= QUEUE_LIMIT ? -2 : 0;
        assertEquals(expected, d.device.pushInput(data), "input report into " + d.name);
        if (expected == 0) {
            d.inputs.add(data);
        }
    }

    private void openPath(Slot s) throws Exception {
        boolean bogus = random.nextInt(20) == 0;
        Dev d = dev();
        String path = bogus ? "/nonexistent/hidraw0" : d.path;
        current = "open " + path + " on " + describe(s);
        if (s.handle == 0) {
            expectFailure(INVALID_HANDLE, () -> HIDClassConnector._hid_open(0, path));
        } else {
            opened(s, bogus ? null : d, () -> HIDClassConnector._hid_open(s.handle, path));
        }
    }

    private void openIds(Slot s) throws Exception {
        Dev d = dev();
        // bits above 15 are cut off
        int vendor = VID | (random.nextInt(4) << 16);
        int product = d.productId | (random.nextInt(4) << 16);
        current = String.format("open %x:%x on %s", vendor, product, describe(s));
        if (s.handle == 0) {
            expectFailure(INVALID_HANDLE, () -> HIDClassConnector._hid_open(0, vendor, product));
        } else {
            opened(s, d, () -> HIDClassConnector._hid_open(s.handle, vendor, product));
        }
    }

    /** An open closes the handle's device first, whether it succeeds or not. */
    private void opened(Slot s, Dev d, Call open) throws Exception {
        s.open = null;
        if (d == null || !d.plugged) {
            expectFailure(UNAVAILABLE, open);
            if (d != null) {
                failedNodeOpens++;
            }
        } else {
            calls++;
            open.run();
            s.open = d;
            s.generation = d.generation;
        }
    }

    private void close(Slot s) throws Exception {
        current = "close " + describe(s);
        if (s.handle == 0) {
            expectFailure(INVALID_HANDLE, () -> HIDClassConnector._hid_close(0));
        } else {
            calls++;
            HIDClassConnector._hid_close(s.handle);
            s.open = null;
        }
    }

    private void freeOrInit(Slot s) throws Exception {
        current = (s.handle == 0 ? "init " : "free ") + describe(s);
        if (s.handle == 0) {
            init(s);
        } else {
            calls++;
            HIDClassConnector._free(s.handle);
            s.handle = 0;
            s.open = null;
        }
    }

    private void enumerate(Slot s) throws Exception {
        current = "enumerate on " + describe(s);
        if (s.handle == 0) {
            expectFailure(INVALID_HANDLE, () -> HIDClassConnector._enumerateDevices(0, VID, 0));
            return;
        }
        calls++;
        Set<String> paths = new HashSet<>();
        for (HIDDevice found : HIDClassConnector._enumerateDevices(s.handle, VID, 0)) {
            paths.add(found.getPath());
        }
        Set<String> expected = new HashSet<>();
        for (Dev d : devs) {
            if (d.plugged) {
                expected.add(d.path);
            }
        }
        assertEquals(expected, paths);
    }

    private void plug() {
        current = (flaky.plugged ? "unplug " : "replug ") + flaky.name;
        if (flaky.plugged) {
            flaky.device.unplug();
            flaky.plugged = false;
        } else {
            flaky.device.replug();
            flaky.plugged = true;
            flaky.generation++;
            flaky.inputs.clear();
        }
    }

    private String describe(Slot s) {
        int index = Arrays.asList(slots).indexOf(s);
        if (s.handle == 0) {
            return "handle " + index + " (freed)";
        }
        if (s.open == null) {
            return "handle " + index + " (closed)";
        }
        return "handle " + index + " (" + s.open.name + (s.live() ? "" : ", dead") + ")";
    }

    /**
     * Open descriptors and how many of them are sockets, from one listing:
     * the emulator's threads close sockets meanwhile, so two listings could
     * disagree on a descriptor that is neither leaked nor kept.
     */
    private static long[] openFds() throws IOException {
        long all = 0;
        long sockets = 0;
        try (Stream<Path> fds = Files.list(Path.of("/proc/self/fd"))) {
            for (Path fd : (Iterable<Path>) fds::iterator) {
                try {
                    String target = Files.readSymbolicLink(fd).toString();
                    if (target.startsWith("/proc/")) {
                        continue;   // directory streams on /proc: the JVM holds a second one at times
                    }
                    all++;
                    sockets += target.startsWith("socket:") ? 1 : 0;
                } catch (IOException gone) {
                    // closed meanwhile, such as the listing's own descriptor
                }
            }
        }
        return new long[] {all, sockets};
    }
}
