package com.orvanta.testkit;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.orvanta.hid.Hid;
import com.orvanta.hid.HidDevice;
import com.orvanta.hid.HidDeviceInfo;
import com.orvanta.hid.HidDeviceInfo.BusType;
import com.orvanta.hid.HidException;
import com.orvanta.hid.descriptor.Recording;
import com.orvanta.tool.Main;
import java.io.ByteArrayOutputStream;
import java.io.PrintStream;
import java.io.StringReader;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.SplittableRandom;
import java.util.concurrent.BlockingQueue;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.Test;

/**
 * A device recorded by the tool through the real library, and played back
 * into a new emulated device: its reports come through portula byte for
 * byte, at the recorded pace, all at once or one at a time.
 */
@WithHidEmulator
class ReplayTest {
    /** Report 1: 12 buttons, a hat and four axes; report 2: 1 to 32 vendor bytes. */
    static final byte[] PAD = EmulatedDeviceTest.bytes(0x05, 0x01, 0x09, 0x05, 0xA1, 0x01, 0x85, 0x01, 0x05, 0x09,
            0x19, 0x01, 0x29, 0x0C, 0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x0C, 0x81, 0x02, 0x75, 0x04, 0x95,
            0x01, 0x81, 0x01, 0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x09, 0x32, 0x09, 0x35, 0x15, 0x81, 0x25, 0x7F,
            0x75, 0x08, 0x95, 0x04, 0x81, 0x02, 0x85, 0x02, 0x06, 0x00, 0xFF, 0x09, 0x01, 0x15, 0x00, 0x26, 0xFF,
            0x00, 0x95, 0x20, 0x81, 0x02, 0xC0);

    @Test
    void aRecordedDevicePlaysBackByteExactAtItsPace(HidEmulator hid) throws Exception {
        EmulatedDevice source = hid.plug(DeviceSpec.builder(0x1209, 0x0a01).busType(BusType.BLUETOOTH)
                .product("Recorded Pad").reportDescriptor(PAD).build());
        int count = 40;
        List<byte[]> pushed = reports(count);
        Path file = Files.createTempFile("portula-replay", ".hid");
        try {
            ByteArrayOutputStream errors = new ByteArrayOutputStream();
            Thread tool = new Thread(() -> Main.run(new String[] {"record", source.path(), "--count",
                Integer.toString(count), "--out", file.toString()}, new PrintStream(new ByteArrayOutputStream()),
                    new PrintStream(errors)));
            tool.start();
            Thread.sleep(500);   // the tool opens the device
            for (byte[] report : pushed) {
                assertTrue(source.pushInputReport(report));
                Thread.sleep(5 + report.length % 11);   // 5 to 15 ms apart
            }
            tool.join(30_000);
            assertFalse(tool.isAlive(), "the tool still records: " + errors);
            Recording recording;
            try (java.io.Reader in = Files.newBufferedReader(file, StandardCharsets.UTF_8)) {
                recording = Recording.read(in);
            }
            assertArrayEquals(PAD, recording.descriptor());
            assertEquals(5, recording.bus());
            assertEquals(0x1209, recording.vendorId());
            assertEquals(count, recording.events().size());

            Replay replay = hid.replay(recording);
            HidDeviceInfo listed = Hid.devices(0x1209, 0x0a01).stream()
                    .filter(d -> d.path().equals(replay.device().path())).findFirst().get();
            assertEquals(BusType.BLUETOOTH, listed.busType());
            assertEquals("Recorded Pad", listed.product());
            BlockingQueue<byte[]> read = new LinkedBlockingQueue<>();
            List<Long> arrived = new ArrayList<>();
            try (HidDevice d = Hid.open(replay.device().path())) {
                d.setInputReportListener((device, report) -> {
                    arrived.add(System.nanoTime());
                    read.add(report);
                });
                replay.play(true);
                assertTrue(replay.await(30, TimeUnit.SECONDS));
                for (int i = 0; i < count; i++) {
                    byte[] report = read.poll(10, TimeUnit.SECONDS);
                    assertArrayEquals(pushed.get(i), report, "report " + i);
                }
                // the replayed device keeps what the application writes, and stalls requests
                d.write(new byte[] {2, 9, 9});
                assertArrayEquals(new byte[] {2, 9, 9}, replay.device().pollOutputReport(5, TimeUnit.SECONDS));
                HidException stalled = assertThrows(HidException.class, () -> d.getFeatureReport(2, 8));
                assertEquals(HidException.Reason.IO, stalled.reason());
            }
            long[] off = new long[count];
            for (int i = 1; i < count; i++) {
                long recorded = recording.events().get(i).micros() - recording.events().get(0).micros();
                long played = TimeUnit.NANOSECONDS.toMicros(arrived.get(i) - arrived.get(0));
                off[i] = played - recorded;
            }
            long[] sorted = off.clone();
            Arrays.sort(sorted);
            System.out.printf("ReplayTest: %d reports, %.0f ms recorded; at the recorded pace each came"
                    + " %d us from its time at the median, %d to %d us%n", count,
                    (recording.events().get(count - 1).micros() - recording.events().get(0).micros()) / 1e3,
                    sorted[count / 2], sorted[0], sorted[count - 1]);
        } finally {
            Files.deleteIfExists(file);
        }
    }

    @Test
    void allAtOnceLosesNoneAndOneAtATimeWaitsForTheTest(HidEmulator hid) throws Exception {
        StringBuilder text = new StringBuilder("# a vendor device on I2C\nN: Long Log\nI: 18 1209 0a02\n");
        text.append("R: 21 06 00 ff 09 01 a1 01 09 02 15 00 26 ff 00 75 08 95 04 81 02 c0\n");
        List<byte[]> reports = new ArrayList<>();
        for (int i = 0; i < 200; i++) {
            byte[] report = {(byte) i, (byte) (i >> 8), 7, (byte) (255 - i)};
            reports.add(report);
            text.append(String.format("E: 000000.%06d 4 %02x %02x %02x %02x%n", i, report[0], report[1], report[2],
                    report[3]));
        }
        Recording recording = Recording.read(new StringReader(text.toString()));
        Replay replay = hid.replay(recording);
        assertEquals(BusType.I2C, Hid.devices(0x1209, 0x0a02).get(0).busType());
        try (HidDevice d = Hid.open(replay.device().path())) {
            assertTrue(replay.next());
            assertArrayEquals(reports.get(0), d.read(1000));
            assertEquals(0, d.read(new byte[8], 50));   // nothing until asked
            replay.play(false);   // 199 more than hidraw queues: as fast as the application reads
            assertThrows(IllegalStateException.class, replay::next);
            for (int i = 1; i < reports.size(); i++) {
                assertArrayEquals(reports.get(i), d.read(5000), "report " + i);
            }
            assertTrue(replay.await(5, TimeUnit.SECONDS));
            assertEquals(0, replay.remaining());
            assertFalse(replay.next());
        }
        assertThrows(IllegalArgumentException.class,
                () -> hid.replay(Recording.read(new StringReader("I: 6 1 2\nR: 2 a1 c0\n"))));
    }

    @Test
    void aReportNotPushedStaysNextAndStopEndsThePlay(HidEmulator hid) throws Exception {
        StringBuilder text = new StringBuilder("N: Slow Log\nI: 18 1209 0a03\n");
        text.append("R: 21 06 00 ff 09 01 a1 01 09 02 15 00 26 ff 00 75 08 95 04 81 02 c0\n");
        for (int i = 0; i < 4; i++) {
            text.append(String.format("E: %06d.000000 4 0%d 00 00 00%n", 2 * i, i));   // 2 s apart
        }
        Replay replay = hid.replay(Recording.read(new StringReader(text.toString())));
        replay.stop();   // none plays
        replay.device().unplug();
        assertThrows(IllegalStateException.class, replay::next);
        assertEquals(4, replay.remaining());
        replay.device().replug();
        try (HidDevice d = Hid.open(replay.device().path())) {
            assertTrue(replay.next());
            assertArrayEquals(new byte[] {0, 0, 0, 0}, d.read(5000));
            replay.play(true);
            assertArrayEquals(new byte[] {1, 0, 0, 0}, d.read(5000));
            replay.stop();   // the next is due 2 s after that one
            assertEquals(2, replay.remaining());
            assertEquals(0, d.read(new byte[8], 2500));
        }
    }

    private static List<byte[]> reports(int count) {
        SplittableRandom random = new SplittableRandom(7);
        List<byte[]> reports = new ArrayList<>();
        for (int i = 0; i < count; i++) {
            byte[] report = new byte[i % 2 == 0 ? 6 : 1 + 1 + random.nextInt(32)];
            random.nextBytes(report);
            report[0] = (byte) (i % 2 == 0 ? 1 : 2);
            reports.add(report);
        }
        return reports;
    }
}
