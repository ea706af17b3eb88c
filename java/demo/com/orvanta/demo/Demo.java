package com.orvanta.demo;

import com.orvanta.hid.Hid;
import com.orvanta.hid.HidDevice;
import com.orvanta.hid.HidDeviceInfo;
import com.orvanta.hid.HidException;
import com.orvanta.hid.HidWatch;
import com.orvanta.hid.HidWatchListener;
import com.orvanta.hid.InputReportListener;
import com.orvanta.hid.descriptor.ReportDescriptor;
import com.orvanta.hid.descriptor.ReportType;
import com.orvanta.hid.descriptor.ReportValues;
import com.orvanta.hid.descriptor.Usages;
import com.orvanta.testbed.EmulatedHid;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;

/**
 * Shows the library at work. By default on emulated devices: lists them,
 * opens the echo device by vendor and product ID, writes a report and reads
 * its echo, sends and gets a feature report, lets a listener take input
 * reports until the device is unplugged, decodes a gamepad's reports into
 * named values with its report descriptor, watches a device come and go, and
 * shows a failure with its reason
 * and native location. With --real [VID:PID] it lists the machine's own
 * devices, and opens the one given (without writing to it).
 */
public final class Demo {
    private static final int VID = 0x1209;
    private static final int PID = 0xEC40;

    private Demo() {
    }

    public static void main(String[] args) throws Exception {
        if (args.length > 0 && args[0].equals("--real")) {
            real(args.length > 1 ? args[1] : null);
            return;
        }
        if (args.length > 0) {
            System.err.println("usage: Demo [--real [VID:PID]]");
            System.exit(2);
        }
        try (EmulatedHid emulator = new EmulatedHid()) {
            EmulatedHid.Device echo = emulator.add(VID, PID, "Orvanta Labs", "Echo Demo", "DEMO-1", true, false);
            emulator.add(VID, 0x0002, "Orvanta Labs", "Keypad \u00e9\u00e8 \u4e2d\u6587 \ud83d\ude00", "DEMO-2", false,
                    false);
            list();

            System.out.printf("%nopening %04x:%04x by vendor and product ID%n", VID, PID);
            try (HidDevice device = Hid.open(VID, PID)) {
                byte[] report = {0, 'h', 'e', 'l', 'l', 'o', 1, 2, 3};
                System.out.println("write    " + hex(report) + "  (report ID 0 first)");
                device.write(report);
                System.out.println("read     " + hex(device.read(1000)) + "  (the echo, exactly as it came)");
                System.out.println("read     " + hex(device.read(100)) + "  (nothing within 100 ms: empty)");

                device.sendFeatureReport(0, new byte[] {0x11, 0x22, 0x33});
                System.out.println("feature  " + hex(device.getFeatureReport(0, 16)) + "  (sent, then got back)");

                CountDownLatch removed = new CountDownLatch(1);
                device.setInputReportListener(new InputReportListener() {
                    @Override
                    public void inputReport(HidDevice from, byte[] input) {
                        System.out.println("listener " + hex(input));
                    }

                    @Override
                    public void removed(HidDevice from) {
                        System.out.println("listener: " + from.info().path() + " was unplugged");
                        removed.countDown();
                    }
                });
                for (int i = 1; i <= 3; i++) {
                    device.write(new byte[] {0, (byte) i, (byte) (i * 2)});
                }
                Thread.sleep(200);
                echo.unplug();
                removed.await(5, TimeUnit.SECONDS);
            }
            gamepad(emulator);
            watch(emulator);
            showFailure();
        }
    }

    /** A gamepad's report descriptor: report 1 holds 12 buttons, a hat switch and four axes. */
    private static final byte[] GAMEPAD = bytes(
            0x05, 0x01, 0x09, 0x05, 0xA1, 0x01, 0x85, 0x01,             // Generic Desktop, Game Pad, report 1
            0x05, 0x09, 0x19, 0x01, 0x29, 0x0C, 0x15, 0x00, 0x25, 0x01,  // buttons 1 to 12, 0 or 1
            0x75, 0x01, 0x95, 0x0C, 0x81, 0x02, 0x75, 0x04, 0x95, 0x01, 0x81, 0x01,
            0x05, 0x01, 0x09, 0x39, 0x15, 0x00, 0x25, 0x07, 0x35, 0x00,  // a hat switch, 0 to 7 (315 degrees)
            0x46, 0x3B, 0x01, 0x65, 0x14, 0x75, 0x04, 0x95, 0x01, 0x81, 0x42, 0x81, 0x01,
            0x09, 0x30, 0x09, 0x31, 0x09, 0x32, 0x09, 0x35, 0x15, 0x81,  // X, Y, Z, Rz, -127 to 127
            0x25, 0x7F, 0x65, 0x00, 0x75, 0x08, 0x95, 0x04, 0x81, 0x02, 0xC0);

    private static void gamepad(EmulatedHid emulator) throws Exception {
        System.out.println("\na gamepad's reports as values, from its report descriptor:");
        EmulatedHid.Device pad = emulator.device(VID, 0x0004).manufacturer("Orvanta Labs").product("Gamepad")
                .reportDescriptor(GAMEPAD).add();
        try (HidDevice device = Hid.open(pad.path())) {
            ReportDescriptor descriptor = ReportDescriptor.parse(device.reportDescriptor());
            System.out.println("  " + descriptor.report(ReportType.INPUT, 1));
            ReportValues values = new ReportValues();   // reused: decoding allocates nothing
            int x = Usages.forName("Generic Desktop Controls / Direction-X");
            CountDownLatch decoded = new CountDownLatch(2);
            device.setInputReportListener((from, report) -> {
                descriptor.decodeInput(report, 0, report.length, values);
                System.out.println("  " + hex(report) + "\n    " + values + "\n    X alone: " + values.get(x));
                decoded.countDown();
            });
            pad.pushInput(bytes(1, 0x05, 0x00, 0x02, 0x7F, 0x81, 0x00, 0x10));   // buttons 1 and 3, hat 2 (90 degrees)
            pad.pushInput(bytes(1, 0x00, 0x08, 0x0F, 0x00, 0x00, 0x40, 0xC0));   // button 12, hat released
            decoded.await(5, TimeUnit.SECONDS);
        }
    }

    private static byte[] bytes(int... values) {
        byte[] b = new byte[values.length];
        for (int i = 0; i < b.length; i++) {
            b[i] = (byte) values[i];
        }
        return b;
    }

    private static void watch(EmulatedHid emulator) throws Exception {
        System.out.println("\nwatching devices come and go (udev events, no polling):");
        CountDownLatch gone = new CountDownLatch(1);
        HidWatch watch = Hid.watch(new HidWatchListener() {
            @Override
            public void attached(HidDeviceInfo device) {
                System.out.println("  attached " + device);
            }

            @Override
            public void detached(HidDeviceInfo device) {
                System.out.println("  detached " + device);
                gone.countDown();
            }
        }, false);
        try {
            EmulatedHid.Device hot = emulator.device(VID, 0x0003).manufacturer("Orvanta Labs").product("Hot-plugged")
                    .serial("DEMO-3").add();
            Thread.sleep(300);
            hot.unplug();
            gone.await(5, TimeUnit.SECONDS);
        } finally {
            watch.close();
        }
    }

    private static void real(String vidPid) throws HidException {
        list();
        if (vidPid != null) {
            String[] ids = vidPid.split(":");
            try (HidDevice device = Hid.open(Integer.parseInt(ids[0], 16), Integer.parseInt(ids[1], 16))) {
                System.out.println("opened " + device.info());
            }
        }
        showFailure();
    }

    private static void list() throws HidException {
        System.out.println(Hid.devices().size() + " HID device(s):");
        for (HidDeviceInfo d : Hid.devices()) {
            System.out.println("  " + d);
        }
    }

    private static void showFailure() {
        System.out.println("\nopening a device that is not there:");
        try (HidDevice device = Hid.open("/dev/hidraw-not-there")) {
            System.out.println("  opened " + device);
        } catch (HidException e) {
            System.out.println("  " + e);
            System.out.println("  reason   " + e.reason());
            System.out.println("  raised   " + e.getFunction() + " at " + e.getFile() + ":" + e.getLine());
        }
    }

    private static String hex(byte[] bytes) {
        StringBuilder b = new StringBuilder();
        for (byte x : bytes) {
            b.append(String.format("%02x ", x & 0xff));
        }
        return b.length() == 0 ? "(none)" : b.toString().trim();
    }
}
