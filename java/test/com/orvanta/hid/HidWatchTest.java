package com.orvanta.hid;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.orvanta.testbed.EmulatedHid;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.concurrent.BlockingQueue;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicBoolean;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.stream.Stream;
import org.junit.jupiter.api.Test;

/**
 * Hid.watch against devices the emulator plugs in and out while it runs.
 * -Dportula.watch.devices sets how many come and go in the long run (fewer
 * under qemu).
 */
class HidWatchTest extends EmulatedDevices {
    static final int DEVICES = Integer.getInteger("portula.watch.devices", 1000);

    /** Every call, as "+path" or "-path", with the records. */
    static final class Recorder implements HidWatchListener {
        final BlockingQueue<String> calls = new LinkedBlockingQueue<>();
        final Map<String, HidDeviceInfo> records = new HashMap<>();

        @Override
        public synchronized void attached(HidDeviceInfo device) {
            records.put("+" + device.path(), device);
            calls.add("+" + device.path());
            notifyAll();
        }

        /** Waits until path's attach was heard. */
        synchronized void awaitAttach(String path) throws InterruptedException {
            long end = System.nanoTime() + TimeUnit.SECONDS.toNanos(10);
            while (!records.containsKey("+" + path) && System.nanoTime() < end) {
                wait(100);
            }
        }

        @Override
        public synchronized void detached(HidDeviceInfo device) {
            records.put("-" + device.path(), device);
            calls.add("-" + device.path());
        }

        String next() throws InterruptedException {
            String call = calls.poll(10, TimeUnit.SECONDS);
            return call == null ? "(nothing within 10 s)" : call;
        }

        void assertQuiet() throws InterruptedException {
            assertEquals(null, calls.poll(300, TimeUnit.MILLISECONDS));
        }
    }

    HidWatch watch(HidWatchListener listener, boolean present) throws HidException {
        HidWatch w = Hid.watch(listener, present);
        watches.add(w);
        return w;
    }

    private final List<HidWatch> watches = new ArrayList<>();

    @org.junit.jupiter.api.AfterEach
    void closeWatches() {
        watches.forEach(HidWatch::close);
    }

    @Test
    void attachAndDetachCarryTheWholeRecord() throws Exception {
        Recorder recorder = new Recorder();
        watch(recorder, false);
        EmulatedHid.Device d = emulator.device(VID, 0x0042).release(0x0102).interfaceNumber(1)
                .manufacturer("Orvanta Labs").product("Hot \u00e9").serial("H-1").add();
        assertEquals("+" + d.path(), recorder.next());
        HidDeviceInfo attached = recorder.records.get("+" + d.path());
        assertEquals(Hid.devices(VID, 0x0042).get(0), attached);   // as the listing has it
        assertEquals("Hot \u00e9", attached.product());
        assertEquals(0xFF00, attached.usagePage());
        d.unplug();
        assertEquals("-" + d.path(), recorder.next());
        assertEquals(attached, recorder.records.get("-" + d.path()));
        d.replug();
        assertEquals("+" + d.path(), recorder.next());
        recorder.assertQuiet();
    }

    @Test
    void manyDevicesComeAndGoWithNothingLostDoubledOrOutOfOrder() throws Exception {
        Recorder recorder = new Recorder();
        watch(recorder, false);
        List<EmulatedHid.Device> live = new ArrayList<>();
        long start = System.nanoTime();
        for (int i = 0; i < DEVICES; i++) {
            live.add(emulator.device(VID, 0x4000 + i).product("Many " + i).add());
            if (live.size() > 8) {
                // a few present at a time, as fast as the emulator goes; each stays until it was
                // heard of, since one that leaves before the watch can list it is told neither way
                EmulatedHid.Device oldest = live.remove(0);
                recorder.awaitAttach(oldest.path());
                oldest.unplug();
            }
        }
        for (EmulatedHid.Device d : live) {
            recorder.awaitAttach(d.path());
            d.unplug();
        }
        Map<String, Integer> attachedNow = new HashMap<>();   // path -> 1 while attached
        int attaches = 0;
        int detaches = 0;
        while (detaches < DEVICES) {
            String call = recorder.next();
            assertTrue(call.startsWith("+") || call.startsWith("-"),
                    call + " after " + attaches + " attaches and " + detaches + " detaches");
            String path = call.substring(1);
            if (call.startsWith("+")) {
                assertEquals(null, attachedNow.put(path, 1), "two attaches of " + path);
                attaches++;
            } else {
                assertEquals(1, attachedNow.remove(path), "a detach before an attach of " + path);
                detaches++;
            }
        }
        System.out.printf("HidWatchTest: %d devices attached and detached in %.1f s%n", DEVICES,
                (System.nanoTime() - start) / 1e9);
        assertEquals(DEVICES, attaches);
        recorder.assertQuiet();
    }

    @Test
    void devicesAlreadyPresentComeFirstOnlyWhenAsked() throws Exception {
        EmulatedHid.Device before = echo(0x0001);
        Recorder all = new Recorder();
        Recorder fromNow = new Recorder();
        watch(all, true);
        watch(fromNow, false);   // and two watches at once each hear everything
        assertEquals("+" + before.path(), all.next());
        EmulatedHid.Device after = echo(0x0002);
        assertEquals("+" + after.path(), all.next());
        assertEquals("+" + after.path(), fromNow.next());
        before.unplug();
        after.unplug();
        assertEquals("-" + before.path(), all.next());
        assertEquals("-" + after.path(), all.next());
        // fromNow never heard of before's attach, so hears no detach of it either
        assertEquals("-" + after.path(), fromNow.next());
        all.assertQuiet();
        fromNow.assertQuiet();

        Recorder filtered = new Recorder();
        HidWatch w = Hid.watch(filtered, true, VID, 0x0003);
        watches.add(w);
        echo(0x0004);
        EmulatedHid.Device wanted = echo(0x0003);
        assertEquals("+" + wanted.path(), filtered.next());
        filtered.assertQuiet();
        assertThrows(NullPointerException.class, () -> Hid.watch(null, true));
        assertThrows(IllegalArgumentException.class, () -> Hid.watch(filtered, true, 0, 0x10000));
    }

    @Test
    void closeIsPromptQuietOrBusyAndAThrowingListenerDoesNotStopIt() throws Exception {
        HidWatch quiet = Hid.watch(new Recorder(), true);
        Thread.sleep(100);
        long start = System.nanoTime();
        quiet.close();
        long closing = System.nanoTime() - start;
        assertTrue(closing < TimeUnit.MILLISECONDS.toNanos(100), closing / 1e6 + " ms with no events");
        assertFalse(quiet.isOpen());

        Recorder recorder = new Recorder();
        AtomicBoolean thrown = new AtomicBoolean();
        HidWatch busy = Hid.watch(new HidWatchListener() {
            @Override
            public void attached(HidDeviceInfo device) {
                recorder.attached(device);
                if (thrown.compareAndSet(false, true)) {
                    throw new IllegalStateException("listener failed on purpose");
                }
            }

            @Override
            public void detached(HidDeviceInfo device) {
                recorder.detached(device);
            }
        }, false);
        AtomicBoolean plugging = new AtomicBoolean(true);
        Thread plugger = new Thread(() -> {
            for (int i = 0; plugging.get() && i < 2000; i++) {
                EmulatedHid.Device d = emulator.device(VID, 0x5000 + i).add();
                if (i == 0) {
                    // the one the listener throws at stays until heard of; then as fast as it goes
                    try {
                        recorder.awaitAttach(d.path());
                    } catch (InterruptedException e) {
                        return;
                    }
                }
                d.unplug();
            }
        });
        plugger.start();
        try {
            String first = recorder.next();   // the one it threw at
            String second = recorder.next();
            assertTrue(second.startsWith("-"), "it went on after the exception: after " + first + " came " + second);
            start = System.nanoTime();
            busy.close();
            closing = System.nanoTime() - start;
        } finally {
            // the emulator goes with the test: nothing may still plug into it
            plugging.set(false);
            plugger.join();
        }
        assertTrue(closing < TimeUnit.MILLISECONDS.toNanos(100), closing / 1e6 + " ms while events poured in");
    }

    @Test
    void closeDoesNotWaitForACallAndNoCallStartsAfterIt() throws Exception {
        CountDownLatch inCall = new CountDownLatch(1);
        CountDownLatch release = new CountDownLatch(1);
        AtomicInteger calls = new AtomicInteger();
        echo(0x0001);
        echo(0x0002);
        HidWatch w = Hid.watch(new HidWatchListener() {
            @Override
            public void attached(HidDeviceInfo device) {
                calls.incrementAndGet();
                inCall.countDown();
                try {
                    release.await(10, TimeUnit.SECONDS);
                } catch (InterruptedException e) {
                    throw new IllegalStateException(e);
                }
            }

            @Override
            public void detached(HidDeviceInfo device) {
                calls.incrementAndGet();
            }
        }, true);
        assertTrue(inCall.await(10, TimeUnit.SECONDS));
        long start = System.nanoTime();
        w.close();
        long closing = System.nanoTime() - start;
        release.countDown();
        Thread.sleep(200);
        assertEquals(1, calls.get(), "a call started after close");
        assertTrue(closing < TimeUnit.MILLISECONDS.toNanos(100), closing / 1e6 + " ms");
    }

    @Test
    void aThousandWatchesLeaveNoDescriptorOrThread() throws Exception {
        Hid.devices();
        long fds = openFds();
        int threads = Thread.activeCount();
        for (int i = 0; i < 1000; i++) {
            Hid.watch(new Recorder(), i % 2 == 0).close();
        }
        // their threads end, and free the watches, just after close
        for (int i = 0; i < 100 && (openFds() != fds || Thread.activeCount() != threads); i++) {
            Thread.sleep(50);
        }
        assertEquals(fds, openFds());
        assertEquals(threads, Thread.activeCount());
    }

    private static long openFds() throws Exception {
        try (Stream<Path> fds = Files.list(Path.of("/proc/self/fd"))) {
            return fds.count();
        }
    }
}
