package com.orvanta.jni;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.orvanta.hid.Hid;
import com.orvanta.hid.HidDevice;
import com.orvanta.hid.HidDeviceInfo;
import com.orvanta.hid.HidException;
import com.orvanta.testbed.EmulatedHid;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;
import java.util.List;
import java.util.SplittableRandom;
import java.util.stream.Collectors;
import java.util.stream.Stream;
import org.junit.jupiter.api.Test;

/**
 * Randomly made hostile devices, one after another, through the bridge and
 * the application API: lying descriptors, names of any bytes, missing
 * attributes, odd IDs, reports of every size, floods, devices that die when
 * opened or while in use. Nothing may crash, hang or leak a descriptor; names
 * must be what hidapi itself reports, decoded independently; bytes must be
 * exact. The seed is printed: -Dportula.hostile.seed=N replays a run,
 * -Dportula.hostile.devices=N sets how many devices (fewer under qemu).
 */
class HostileRandomTest extends Emulation {
    static final int DEVICES = Integer.getInteger("portula.hostile.devices", 300);
    static final int MAX_REPORT = 16384;
    static final byte[] KEYBOARD = bytes(0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7,
            0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0xC0);

    private SplittableRandom random;
    private volatile String step = "";
    private volatile long steps;
    private long opened;
    private long refused;
    private long unplugged;
    private long bytesChecked;

    @Test
    void hostileDevicesCrashNothingLeakNothingAndKeepBytesAndNamesExact() throws Exception {
        String property = System.getProperty("portula.hostile.seed");
        long seed = property != null ? Long.parseLong(property) : new SplittableRandom().nextLong();
        System.out.println("HostileRandomTest: seed " + seed + ", " + DEVICES + " devices (-Dportula.hostile.seed="
                + seed + " repeats this run)");
        random = new SplittableRandom(seed);
        // two well-made devices stay throughout: the hostile ones must not spoil their listing
        emulator.add(VID, 0x0001, "Orvanta Labs", "Steady", "S-1", true, false);
        emulator.device(0x16C0, 0x05DF).reportDescriptor(KEYBOARD).add();
        Hid.devices();
        long fds = openFds();
        Thread watchdog = watchdog(seed);
        try {
            for (int i = 0; i < DEVICES; i++) {
                try {
                    steps++;
                    oneDevice(i);
                } catch (Throwable t) {
                    throw new AssertionError("seed " + seed + ", device " + i + " (" + step + "): " + t
                            + "; repeat with -Dportula.hostile.seed=" + seed, t);
                }
            }
        } finally {
            watchdog.interrupt();
        }
        EmulatedHid.closeOrphanedSockets();
        long after = openFds();
        for (int i = 0; i < 50 && after > fds; i++) {
            Thread.sleep(100);
            EmulatedHid.closeOrphanedSockets();
            after = openFds();
        }
        System.out.printf("HostileRandomTest: %d devices, %d opened, %d refused to open, %d unplugged while open,"
                + " %d bytes of reports checked; descriptors %d -> %d%n", DEVICES, opened, refused, unplugged,
                bytesChecked, fds, after);
        assertTrue(after <= fds, "descriptors " + fds + " -> " + after + ", seed " + seed);
    }

    private void oneDevice(int index) throws Exception {
        step = "making it";
        boolean vanishes = random.nextInt(10) == 0;
        boolean numbered = random.nextBoolean();
        EmulatedHid.DeviceBuilder builder = emulator.device(id(), id()).release(random.nextInt(0x10000))
                .interfaceNumber(random.nextInt(256)).echo(random.nextInt(4) == 0).numberedReports(numbered)
                .vanishOnOpen(vanishes);
        builder.manufacturer(name()).product(name()).serial(name());
        int descriptor = random.nextInt(4);
        if (descriptor == 0) {
            builder.rawReportDescriptor(randomBytes(random.nextInt(4097)));
        } else if (descriptor == 1) {
            builder.rawReportDescriptor(Arrays.copyOf(KEYBOARD, random.nextInt(KEYBOARD.length + 1)));
        }
        if (random.nextInt(8) == 0) {
            String[] attributes = {"usb/manufacturer", "usb/bcdDevice", "interface/bInterfaceNumber",
                "hid/report_descriptor", "usb/idVendor"};
            builder.attribute(attributes[random.nextInt(attributes.length)],
                    random.nextBoolean() ? null : randomBytes(random.nextInt(8)));
        }
        EmulatedHid.Device device = builder.add();

        step = "listing";
        long h = handle();
        List<HidapiReference.Record> bridge = Arrays.stream(HIDClassConnector._enumerateDevices(h, 0, 0))
                .map(HidapiReference::of).collect(Collectors.toList());
        assertEquals(HidapiReference.records(0, 0), bridge);
        List<HidDeviceInfo> api = Hid.devices();
        assertEquals(bridge.size(), api.size());
        for (int i = 0; i < api.size(); i++) {
            assertEquals(bridge.get(i).path(), api.get(i).path());
            assertEquals(emptyToNull(bridge.get(i).product()), api.get(i).product());
        }
        free(h);

        if (api.stream().anyMatch(d -> device.path().equals(d.path()))) {
            step = "opening";
            if (vanishes) {
                assertThrows(HidException.class, () -> Hid.open(device.path()).close());
                refused++;
            } else {
                try (HidDevice d = Hid.open(device.path())) {
                    opened++;
                    use(device, d);
                }
            }
        }
        step = "removing";
        emulator.remove(device);
        EmulatedHid.closeOrphanedSockets();
    }

    /** Random reports both ways, each checked byte for byte; the device may die on the way. */
    private void use(EmulatedHid.Device device, HidDevice d) throws Exception {
        int operations = 1 + random.nextInt(6);
        for (int op = 0; op < operations; op++) {
            steps++;
            int kind = random.nextInt(10);
            if (kind == 0) {
                step = "unplugging it while open";
                device.unplug();
                HidException gone = assertThrows(HidException.class, () -> d.read(new byte[8], 100));
                assertEquals(HidException.Reason.DEVICE_GONE, gone.reason());
                unplugged++;
                return;
            } else if (kind < 4) {
                byte[] report = randomBytes(reportLength());
                step = "writing " + report.length + " bytes";
                if (report.length < 2) {
                    assertEquals(HidException.Reason.IO,
                            assertThrows(HidException.class, () -> d.write(report)).reason());
                } else {
                    d.write(report);
                    assertArrayEquals(report, device.popOutput(5000));
                    bytesChecked += report.length;
                    while (device.popOutput(0) != null) {
                        // an echo device's own
                    }
                    while (d.read(0).length > 0) {
                        // and its echo
                    }
                }
            } else if (kind < 7) {
                byte[] report = randomBytes(1 + random.nextInt(reportLength()));
                step = "reading " + report.length + " bytes";
                assertEquals(0, device.pushInput(report));
                assertArrayEquals(report, d.read(5000));
                bytesChecked += report.length;
            } else if (kind < 9) {
                step = "flooding";
                int accepted = 0;
                byte[][] pushed = new byte[80][];
                for (int i = 0; i < pushed.length; i++) {
                    pushed[i] = randomBytes(1 + random.nextInt(64));
                    if (device.pushInput(pushed[i]) == 0) {
                        accepted++;
                    }
                }
                assertEquals(64, accepted, "hidraw keeps 64 reports");
                for (int i = 0; i < accepted; i++) {
                    assertArrayEquals(pushed[i], d.read(5000), "report " + i + " of the flood");
                }
                assertEquals(0, d.read(0).length);
            } else {
                byte[] feature = randomBytes(1 + random.nextInt(64));
                step = "a feature report of " + feature.length + " bytes";
                device.setFeatureReport(feature);
                assertArrayEquals(feature, d.getFeatureReport(feature[0] & 0xFF, 64));
            }
        }
    }

    /** Mostly small, sometimes anything up to hidraw's largest. */
    private int reportLength() {
        return random.nextInt(4) == 0 ? 1 + random.nextInt(MAX_REPORT) : 1 + random.nextInt(65);
    }

    private int id() {
        int pick = random.nextInt(8);
        return pick == 0 ? 0 : pick == 1 ? 0xFFFF : random.nextInt(0x10000);
    }

    /** Null, empty, control characters, bytes that are no UTF-8, long, or fine UTF-8. */
    private byte[] name() {
        switch (random.nextInt(7)) {
            case 0:
                return null;
            case 1:
                return new byte[0];
            case 2:
                return controlCharacters(1 + random.nextInt(40));
            case 3:
                return randomBytes(1 + random.nextInt(300));
            case 4:
                return "Long \u00e9\ud83d\ude00 ".repeat(1 + random.nextInt(200)).getBytes(StandardCharsets.UTF_8);
            default:
                return ("Orvanta \u4e2d " + random.nextInt(1000)).getBytes(StandardCharsets.UTF_8);
        }
    }

    private byte[] controlCharacters(int length) {
        byte[] b = new byte[length];
        for (int i = 0; i < length; i++) {
            b[i] = (byte) (1 + random.nextInt(31));
        }
        return b;
    }

    private byte[] randomBytes(int length) {
        byte[] b = new byte[length];
        random.nextBytes(b);
        return b;
    }

    private static String emptyToNull(String text) {
        return text == null || text.isEmpty() ? null : text;
    }

    /** Every device must be done with within a minute: else the run hangs, so say so and stop the VM. */
    private Thread watchdog(long seed) {
        Thread t = new Thread(() -> {
            long last = -1;
            try {
                while (true) {
                    Thread.sleep(60_000);
                    long now = steps;
                    if (now == last) {
                        System.out.println("HostileRandomTest: hung at " + step + ", seed " + seed);
                        Runtime.getRuntime().halt(3);
                    }
                    last = now;
                }
            } catch (InterruptedException e) {
                // the run is over
            }
        }, "hostile-watchdog");
        t.setDaemon(true);
        t.start();
        return t;
    }

    private static long openFds() throws Exception {
        try (Stream<Path> fds = Files.list(Path.of("/proc/self/fd"))) {
            return fds.count();
        }
    }
}
