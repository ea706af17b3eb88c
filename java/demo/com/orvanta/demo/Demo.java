package com.orvanta.demo;

import com.orvanta.jni.HIDClassConnector;
import com.orvanta.jni.HIDDevice;
import com.orvanta.jni.exceptions.HIDException;
import com.orvanta.testbed.EmulatedHid;

/**
 * Shows the library at work. By default on an emulated echo device:
 * lists the devices, opens the echo device by vendor and product ID, writes a
 * report, reads the echo and shows a HIDException with its native location.
 * With --real [VID:PID] it lists the machine's own devices, and opens the one
 * given (without writing to it).
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
            emulator.add(VID, PID, "Orvanta Labs", "Echo Demo", "DEMO-1", true, false);
            emulator.add(VID, 0x0002, "Orvanta Labs", "Keypad \u00e9\u00e8 \u4e2d\u6587 \ud83d\ude00", "DEMO-2", false, false);
            long handle = HIDClassConnector._hid_init();
            try {
                list(handle);
                System.out.printf("%nopening %04x:%04x by vendor and product ID%n", VID, PID);
                HIDClassConnector._hid_open(handle, VID, PID);
                byte[] report = {0, 'h', 'e', 'l', 'l', 'o', 1, 2, 3};
                System.out.println("write  " + hex(report) + "  (report ID 0 first)");
                HIDClassConnector._hid_write(handle, report);
                byte[] echo = HIDClassConnector._hid_read(handle, 16);
                System.out.println("read   " + hex(echo) + "  (16 bytes asked: the echo, then zeros)");
                HIDClassConnector._hid_close(handle);
                showFailure(handle);
            } finally {
                HIDClassConnector._free(handle);
            }
        }
    }

    private static void real(String vidPid) throws HIDException {
        long handle = HIDClassConnector._hid_init();
        try {
            list(handle);
            if (vidPid != null) {
                String[] ids = vidPid.split(":");
                int vid = Integer.parseInt(ids[0], 16);
                int pid = Integer.parseInt(ids[1], 16);
                HIDClassConnector._hid_open(handle, vid, pid);
                System.out.printf("opened %04x:%04x%n", vid, pid);
                HIDClassConnector._hid_close(handle);
            }
            showFailure(handle);
        } finally {
            HIDClassConnector._free(handle);
        }
    }

    private static void list(long handle) throws HIDException {
        HIDDevice[] devices = HIDClassConnector._enumerateDevices(handle, 0, 0);
        System.out.println(devices.length + " HID device(s):");
        for (HIDDevice d : devices) {
            System.out.printf("  %-14s %04x:%04x  %s / %s%n", d.getPath(), d.getVendor_id(),
                    d.getProduct_id(), d.getManufacturer(), d.getProduct_string());
        }
    }

    private static void showFailure(long handle) {
        System.out.println("\nopening a device that is not there:");
        try {
            HIDClassConnector._hid_open(handle, "/dev/hidraw-not-there");
        } catch (HIDException e) {
            System.out.println("  " + e);
            System.out.println("  message  " + e.getMessage());
            System.out.println("  raised   " + e.getFunction() + " at " + e.getFile() + ":" + e.getLine());
        }
    }

    private static String hex(byte[] bytes) {
        StringBuilder b = new StringBuilder();
        for (byte x : bytes) {
            b.append(String.format("%02x ", x & 0xff));
        }
        return b.toString().trim();
    }
}
