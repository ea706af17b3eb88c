package com.orvanta.hid;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.orvanta.hid.HidException.Reason;
import com.orvanta.testbed.EmulatedHid;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.SplittableRandom;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.ExecutionException;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicLong;
import java.util.stream.Stream;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Test;

/**
 * Many threads on one device: a close from any thread ends a waiting read,
 * writes do not wait for reads, and no interleaving of read, write and close
 * reaches a freed device or leaves a descriptor or handle behind.
 * -Dportula.races sets the number of races (fewer under qemu).
 */
class HidThreadsTest extends EmulatedDevices {
    static final int RACES = Integer.getInteger("portula.races", 10_000);
    // a thread per task: a read that waits without limit holds its thread
    private final ExecutorService threads = Executors.newCachedThreadPool();

    /** A read on a thread of its own, which a first read that does not wait made the gate's owner. */
    private CompletableFuture<Object> readInBackground(HidDevice d, int timeoutMillis) {
        return CompletableFuture.supplyAsync(() -> {
            try {
                byte[] report = new byte[64];
                int received = d.read(report, 0);
                return received > 0 ? received : d.read(report, timeoutMillis);
            } catch (HidException e) {
                return e;
            }
        }, threads);
    }

    @Test
    void closeFromAnotherThreadEndsAWaitingReadAtOnce() throws Exception {
        HidDevice d = open(emulator.add(VID, 0x0002, "Orvanta Labs", "Silent", "S-1", false, false));
        CompletableFuture<Object> read = readInBackground(d, -1);
        Thread.sleep(200);
        long start = System.nanoTime();
        d.close();
        long closing = System.nanoTime() - start;
        Object outcome = read.get(10, TimeUnit.SECONDS);
        System.out.printf("HidThreadsTest: close took %.1f ms while a read waited%n", closing / 1e6);
        assertTrue(closing < TimeUnit.MILLISECONDS.toNanos(200), closing / 1e6 + " ms");
        assertEquals(Reason.CLOSED, ((HidException) outcome).reason(), String.valueOf(outcome));
    }

    @Test
    void aWriteDoesNotWaitForAWaitingRead() throws Exception {
        EmulatedHid.Device echo = echo(0x0001);
        HidDevice d = open(echo);
        CompletableFuture<Object> read = readInBackground(d, -1);
        Thread.sleep(200);
        d.write(bytes(0, 0x42, 0x43));   // its echo is what the read waited for
        assertEquals(2, read.get(10, TimeUnit.SECONDS));
        assertArrayEquals(bytes(0, 0x42, 0x43), echo.popOutput(0));
    }

    @Test
    void racesOfReadWriteAndCloseLeaveNothingBehind() throws Exception {
        List<EmulatedHid.Device> devices = new ArrayList<>();
        for (int i = 0; i < 4; i++) {
            devices.add(echo(0x0100 + i));
        }
        Hid.devices();   // the registry's own handle, kept
        long fds = openFds();
        int handles = LiveHandles.count();
        long seed = new SplittableRandom().nextLong();
        SplittableRandom random = new SplittableRandom(seed);
        AtomicLong reports = new AtomicLong();
        for (int race = 0; race < RACES; race++) {
            HidDevice d = Hid.open(devices.get(race % devices.size()).path());
            int timeout = random.nextInt(3) - 1;   // -1, 0 or 1 ms
            CompletableFuture<Object> read = readInBackground(d, timeout);
            // half the time a second reader, which takes the gate from the first
            CompletableFuture<Object> second = random.nextBoolean() ? readInBackground(d, timeout)
                    : CompletableFuture.completedFuture(0);
            CompletableFuture<Object> write = CompletableFuture.supplyAsync(() -> {
                try {
                    d.write(bytes(0, 1, 2));
                    return "written";
                } catch (HidException e) {
                    return e;
                }
            }, threads);
            if (random.nextBoolean()) {
                Thread.sleep(0, random.nextInt(500_000));
            }
            d.close();
            for (CompletableFuture<Object> f : List.of(read, second, write)) {
                Object outcome = f.get(10, TimeUnit.SECONDS);
                if (outcome instanceof HidException) {
                    Reason reason = ((HidException) outcome).reason();
                    // a reader whose timeout passed while the other read: BUSY
                    assertTrue(reason == Reason.CLOSED || reason == Reason.BUSY && f != write,
                            "seed " + seed + ": " + outcome);
                } else if (outcome instanceof Integer && (Integer) outcome > 0) {
                    reports.incrementAndGet();
                }
            }
        }
        for (EmulatedHid.Device device : devices) {
            while (device.popOutput(0) != null) {
                // drained
            }
        }
        System.out.printf("HidThreadsTest: %d races (seed %d), %d reads got a report%n", RACES, seed, reports.get());
        assertEquals(handles, LiveHandles.count(), "handles alive after the races");
        assertEquals(fds, settledFds(fds), "descriptors after the races");
    }

    @Test
    void theReadGatePassesBetweenThreadsAndEachReportGoesToOneOfThem() throws Exception {
        HidDevice d = open(echo(0x0001));
        ExecutorService first = Executors.newSingleThreadExecutor();
        ExecutorService second = Executors.newSingleThreadExecutor();
        try {
            byte[] report = new byte[64];
            // the first thread's first read makes the gate its own, its second
            // passes it as the owner; the second thread takes it for good
            ExecutorService[] readers = {first, first, second, first, second, first};
            for (int i = 0; i < readers.length; i++) {
                ExecutorService reader = readers[i];
                d.write(bytes(0, i));
                assertEquals(1, (int) reader.submit(() -> d.read(report, 1000)).get(10, TimeUnit.SECONDS));
                assertEquals(i, report[0]);
            }
            // both wait, one write each: each report once, to one of them
            List<Future<byte[]>> reads = List.of(
                    first.submit(() -> d.read(-1)), second.submit(() -> d.read(-1)));
            Thread.sleep(100);
            d.write(bytes(0, 10));
            d.write(bytes(0, 11));
            int sum = 0;
            for (Future<byte[]> read : reads) {
                sum += read.get(10, TimeUnit.SECONDS)[0];
            }
            assertEquals(21, sum);
            // and a close ends the read of the thread that first owned the gate
            Future<Integer> waiting = first.submit(() -> d.read(report, -1));
            Thread.sleep(100);
            d.close();
            ExecutionException e = assertThrows(ExecutionException.class, () -> waiting.get(10, TimeUnit.SECONDS));
            assertEquals(Reason.CLOSED, ((HidException) e.getCause()).reason());
        } finally {
            first.shutdownNow();
            second.shutdownNow();
        }
    }

    @Test
    void aDroppedDeviceIsClosedForYou() throws Exception {
        EmulatedHid.Device echo = echo(0x0001);
        Hid.devices();
        long fds = openFds();
        int handles = LiveHandles.count();
        openAndDrop(echo.path());
        assertTrue(openFds() > fds, "its descriptors while it is open");
        for (int i = 0; i < 100 && LiveHandles.count() != handles; i++) {
            System.gc();
            Thread.sleep(50);
        }
        assertEquals(handles, LiveHandles.count());
        assertEquals(fds, settledFds(fds));
    }

    private static void openAndDrop(String path) throws HidException {
        Hid.open(path).write(bytes(0, 1));
    }

    /** Descriptors, once umockdev's threads have let go of closed ones (they do so a little later). */
    private static long settledFds(long expected) throws Exception {
        long now = openFds();
        for (int i = 0; i < 50 && now != expected; i++) {
            Thread.sleep(100);
            now = openFds();
        }
        return now;
    }

    private static long openFds() throws Exception {
        try (Stream<Path> fds = Files.list(Path.of("/proc/self/fd"))) {
            return fds.count();
        }
    }

    @AfterEach
    void stopThreads() {
        threads.shutdownNow();
    }
}
