package com.orvanta.hid;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.orvanta.hid.HidException.Reason;
import com.orvanta.testbed.EmulatedHid;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.BlockingQueue;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicInteger;
import org.junit.jupiter.api.Test;

/** Input reports delivered to a listener, on the device's own thread. */
class HidListenerTest extends EmulatedDevices {
    /** Collects reports, and says when the device went. */
    static final class Collector implements InputReportListener {
        final BlockingQueue<byte[]> reports = new LinkedBlockingQueue<>();
        final CountDownLatch removed = new CountDownLatch(1);

        @Override
        public void inputReport(HidDevice device, byte[] report) {
            reports.add(report);
        }

        @Override
        public void removed(HidDevice device) {
            removed.countDown();
        }

        byte[] next() throws InterruptedException {
            return reports.poll(10, TimeUnit.SECONDS);
        }
    }

    /** Its thread ends soon after close or set: neither waits for it. */
    private static void assertReaderEnds(EmulatedHid.Device device) throws InterruptedException {
        for (int i = 0; i < 200 && readerAlive(device); i++) {
            Thread.sleep(10);
        }
        assertFalse(readerAlive(device));
    }

    private static boolean readerAlive(EmulatedHid.Device device) {
        return Thread.getAllStackTraces().keySet().stream()
                .anyMatch(t -> t.getName().equals("portula-reports " + device.path()));
    }

    @Test
    void reportsArriveInOrderAndReadsWaitTheirTurn() throws Exception {
        EmulatedHid.Device numbered = emulator.add(VID, 0x0003, "Orvanta Labs", "Numbered", "N-1", false, true);
        HidDevice d = open(numbered);
        Collector collector = new Collector();
        d.setInputReportListener(collector);
        assertThrows(IllegalStateException.class, () -> d.read(new byte[8], 0));
        assertThrows(IllegalStateException.class, () -> d.read(0));
        for (int i = 0; i < 200; i++) {
            while (numbered.pushInput(bytes(1 + i % 2, i, i >> 8)) == -2) {
                Thread.sleep(1);   // hidraw's queue is full: let the listener catch up
            }
        }
        for (int i = 0; i < 200; i++) {
            assertArrayEquals(bytes(1 + i % 2, i, i >> 8), collector.next(), "report " + i);
        }
        d.setInputReportListener(null);
        assertReaderEnds(numbered);
        numbered.pushInput(bytes(2, 9));
        assertArrayEquals(bytes(2, 9), d.read(1000));
        assertNull(collector.reports.poll());
    }

    @Test
    void aReadUnderWayWhenTheListenerComesKeepsItsReportAndTheListenerWaits() throws Exception {
        EmulatedHid.Device quiet = emulator.add(VID, 0x0004, "Orvanta Labs", "Quiet", "Q-1", false, false);
        HidDevice d = open(quiet);
        BlockingQueue<Object> read = new LinkedBlockingQueue<>();
        Thread reader = new Thread(() -> {
            try {
                read.add(d.read(-1));
            } catch (HidException e) {
                read.add(e);
            }
        });
        reader.start();
        Thread.sleep(100);
        Collector collector = new Collector();
        d.setInputReportListener(collector);
        Thread.sleep(300);   // the listener's thread waits its turn all that time
        quiet.pushInput(bytes(1, 2));
        assertArrayEquals(bytes(1, 2), (byte[]) read.poll(10, TimeUnit.SECONDS));
        reader.join();
        quiet.pushInput(bytes(3, 4));
        assertArrayEquals(bytes(3, 4), collector.next());
    }

    @Test
    void unplugSaysRemovedAndCloseStopsTheThread() throws Exception {
        EmulatedHid.Device gone = echo(0x00aa);
        HidDevice d = open(gone);
        Collector collector = new Collector();
        d.setInputReportListener(collector);
        d.write(bytes(0, 5));
        assertArrayEquals(bytes(5), collector.next());
        gone.unplug();
        assertTrue(collector.removed.await(10, TimeUnit.SECONDS));
        assertReaderEnds(gone);

        EmulatedHid.Device echo = echo(0x00ab);
        HidDevice other = open(echo);
        other.setInputReportListener(new Collector());
        assertTrue(readerAlive(echo));
        other.close();
        assertReaderEnds(echo);
    }

    @Test
    void aListenerThatThrowsKeepsGettingReports() throws Exception {
        EmulatedHid.Device echo = echo(0x0001);
        HidDevice d = open(echo);
        Collector collector = new Collector();
        d.setInputReportListener((device, report) -> {
            collector.inputReport(device, report);
            if (report[0] == 1) {
                throw new IllegalStateException("listener failed on purpose");
            }
        });
        d.write(bytes(0, 1));
        d.write(bytes(0, 2));
        assertEquals(1, collector.next()[0]);
        assertEquals(2, collector.next()[0]);
    }

    @Test
    void aListenerMayCloseItsDevice() throws Exception {
        EmulatedHid.Device echo = echo(0x0001);
        HidDevice d = open(echo);
        CountDownLatch closed = new CountDownLatch(1);
        d.setInputReportListener((device, report) -> {
            device.close();
            closed.countDown();
        });
        d.write(bytes(0, 1));
        assertTrue(closed.await(10, TimeUnit.SECONDS));
        assertFalse(d.isOpen());
        assertReaderEnds(echo);
    }

    @Test
    void closeDoesNotWaitForACallAndNoCallStartsAfterIt() throws Exception {
        EmulatedHid.Device echo = echo(0x0001);
        HidDevice d = open(echo);
        CountDownLatch inCall = new CountDownLatch(1);
        CountDownLatch release = new CountDownLatch(1);
        AtomicInteger calls = new AtomicInteger();
        d.setInputReportListener((device, report) -> {
            calls.incrementAndGet();
            inCall.countDown();
            try {
                release.await(10, TimeUnit.SECONDS);
            } catch (InterruptedException e) {
                throw new IllegalStateException(e);
            }
        });
        d.write(bytes(0, 1));
        d.write(bytes(0, 2));
        assertTrue(inCall.await(10, TimeUnit.SECONDS));
        long start = System.nanoTime();
        d.close();
        long closing = System.nanoTime() - start;
        release.countDown();
        assertReaderEnds(echo);
        assertEquals(1, calls.get(), "the second report's call started after close");
        assertTrue(closing < TimeUnit.MILLISECONDS.toNanos(200), closing / 1e6 + " ms");
    }

    @Test
    void reportsGoToListenersAndReadsInTurnNoneLostOrDoubled() throws Exception {
        EmulatedHid.Device numbered = emulator.add(VID, 0x0003, "Orvanta Labs", "Numbered", "N-1", false, true);
        HidDevice d = open(numbered);
        int count = 2000;
        Thread pusher = new Thread(() -> {
            for (int i = 0; i < count; i++) {
                while (numbered.pushInput(bytes(1, i, i >> 8)) == -2) {
                    Thread.yield();   // hidraw's queue is full
                }
            }
        });
        pusher.start();
        List<Collector> listeners = new ArrayList<>();
        List<Integer> read = new ArrayList<>();
        int seen = 0;
        for (int round = 0; seen < count; round++) {
            if (round % 3 == 2) {
                d.setInputReportListener(null);
                byte[] report = d.read(20);
                if (report.length > 0) {
                    read.add(value(report));
                }
            } else {
                Collector next = new Collector();
                listeners.add(next);
                d.setInputReportListener(next);
                Thread.sleep(1);
            }
            seen = read.size() + listeners.stream().mapToInt(c -> c.reports.size()).sum();
            assertTrue(round < 100_000, "only " + seen + " of " + count + " reports came");
        }
        pusher.join();
        d.setInputReportListener(null);
        int[] times = new int[count];
        for (int v : read) {
            times[v]++;
        }
        for (Collector c : listeners) {
            int last = -1;
            for (byte[] report : c.reports) {
                assertTrue(value(report) > last, "out of order");
                last = value(report);
                times[last]++;
            }
        }
        for (int i = 0; i < count; i++) {
            assertEquals(1, times[i], "report " + i + " came that many times, through " + listeners.size()
                    + " listeners and " + read.size() + " reads");
        }
    }

    private static int value(byte[] report) {
        return (report[1] & 0xff) | (report[2] & 0xff) << 8;
    }
}
