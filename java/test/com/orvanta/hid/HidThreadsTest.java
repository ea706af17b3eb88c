package com.orvanta.hid;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.orvanta.hid.HidException.Reason;
import com.orvanta.testbed.EmulatedHid;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.SplittableRandom;
import java.util.concurrent.BlockingQueue;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.ExecutionException;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.LinkedBlockingQueue;
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
    // -Dportula.wake=off: reads wait a second at a time, and close waits for one
    static final boolean WAKES = !"off".equals(System.getProperty("portula.wake"));
    // a thread per task: a read that waits without limit holds its thread
    private final ExecutorService threads = Executors.newCachedThreadPool();

    /** A read on a thread of its own. */
    private CompletableFuture<Object> readInBackground(HidDevice d, int timeoutMillis) {
        return CompletableFuture.supplyAsync(() -> {
            try {
                return d.read(new byte[64], timeoutMillis);
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
        assertTrue(closing < TimeUnit.MILLISECONDS.toNanos(WAKES ? 200 : 1100), closing / 1e6 + " ms");
        assertEquals(Reason.CLOSED, ((HidException) outcome).reason(), String.valueOf(outcome));
    }

    @Test
    void aCloseWaitingForTheRegistryHoldsNoLockOfTheDevice() throws Exception {
        // as when another thread lists devices or reads a device's string meanwhile:
        // both take the registry's lock, then a device's
        HidDevice d = open(emulator.add(VID, 0x0002, "Orvanta Labs", "Silent", "S-1", false, false));
        Thread closer = new Thread(d::close);
        synchronized (Registry.LOCK) {
            closer.start();
            while (closer.getState() != Thread.State.BLOCKED) {
                Thread.sleep(1);
            }
            assertFails(Reason.CLOSED, () -> d.read(new byte[8], 100));   // not 0: its lock is free
            assertFails(Reason.CLOSED, () -> d.indexedString(1));
        }
        closer.join(10_000);
        assertFalse(closer.isAlive());
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
            // half the time a second reader, which waits for the first
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
                    assertEquals(Reason.CLOSED, reason, "seed " + seed + ": " + outcome);
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
    void aSecondReaderWaitsItsTurnWithinItsTimeoutAndEachReportGoesToOneReader() throws Exception {
        HidDevice d = open(echo(0x0001));
        CompletableFuture<Object> first = readInBackground(d, -1);
        Thread.sleep(200);
        // the first holds the device: the second's timeout passes, which is no exception
        byte[] report = new byte[8];
        assertEquals(0, d.read(report, 0));
        assertEquals(0, d.read(0).length);
        long start = System.nanoTime();
        assertEquals(0, d.read(report, 50));
        assertTrue(System.nanoTime() - start >= TimeUnit.MILLISECONDS.toNanos(50));
        // with time enough it has its turn; each report goes to one of them
        CompletableFuture<Object> second = readInBackground(d, 10_000);
        Thread.sleep(100);
        d.write(bytes(0, 1, 2));
        d.write(bytes(0, 1, 2, 3));
        assertEquals(5, (Integer) first.get(10, TimeUnit.SECONDS) + (Integer) second.get(10, TimeUnit.SECONDS));
    }

    @Test
    void anInterruptEndsAWaitingReadOrAWaitForTheTurnAndTheStatusStays() throws Exception {
        HidDevice d = open(emulator.add(VID, 0x0002, "Orvanta Labs", "Silent", "S-1", false, false));
        BlockingQueue<Object> outcomes = new LinkedBlockingQueue<>();
        Runnable reader = () -> {
            try {
                outcomes.add(d.read(new byte[8], -1));
            } catch (HidException e) {
                outcomes.add(e.reason() + (Thread.currentThread().isInterrupted() ? " interrupted" : ""));
            }
        };
        Thread holder = new Thread(reader);
        Thread behind = new Thread(reader);
        holder.start();
        Thread.sleep(200);
        behind.start();   // waits for the holder's turn
        Thread.sleep(200);
        for (Thread t : List.of(behind, holder)) {
            long start = System.nanoTime();
            t.interrupt();
            assertEquals("INTERRUPTED interrupted", outcomes.poll(10, TimeUnit.SECONDS));
            long took = System.nanoTime() - start;
            System.out.printf("HidThreadsTest: an interrupt ended a read in %.1f ms%n", took / 1e6);
            assertTrue(took < TimeUnit.MILLISECONDS.toNanos(WAKES ? 1000 : 1100), took / 1e6 + " ms");
        }
        // the device reads on
        assertEquals(0, d.read(new byte[8], 10));
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
