package com.orvanta.hid;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.orvanta.hid.HidException.Reason;
import com.orvanta.testbed.EmulatedHid;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.SplittableRandom;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
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
            for (CompletableFuture<Object> f : List.of(read, write)) {
                Object outcome = f.get(10, TimeUnit.SECONDS);
                if (outcome instanceof HidException) {
                    assertEquals(Reason.CLOSED, ((HidException) outcome).reason(), "seed " + seed + ": " + outcome);
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
