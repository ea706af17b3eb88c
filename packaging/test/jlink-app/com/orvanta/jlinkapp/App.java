package com.orvanta.jlinkapp;

import com.orvanta.hid.Hid;
import com.orvanta.hid.HidDevice;
import com.orvanta.hid.HidDeviceInfo;
import java.nio.file.Files;
import java.nio.file.Paths;
import java.util.Arrays;

/**
 * Lists the devices, echoes a report through 1209:ec40 and prints which
 * runtime and module ran it and where the library was mapped from.
 */
public final class App {
    private App() {
    }

    public static void main(String[] args) throws Exception {
        for (HidDeviceInfo info : Hid.devices()) {
            System.out.printf("DEVICE %04x:%04x %s%n", info.vendorId(), info.productId(), info.product());
        }
        try (HidDevice device = Hid.open(0x1209, 0xEC40)) {
            device.write(new byte[] {0, 7, 8, 9});
            System.out.println("ECHO " + Arrays.toString(device.read(5000)));
        }
        System.out.println("RUNTIME " + System.getProperty("java.home"));
        System.out.println("MODULE " + Hid.class.getModule().getName() + " "
                + Hid.class.getProtectionDomain().getCodeSource().getLocation());
        for (String line : Files.readAllLines(Paths.get("/proc/self/maps"))) {
            if (line.contains("/libportula64")) {
                System.out.println("LOADED " + line.substring(line.indexOf('/')));
                break;
            }
        }
    }
}
