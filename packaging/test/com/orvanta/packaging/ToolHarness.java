package com.orvanta.packaging;

import com.orvanta.hid.Hid;
import com.orvanta.hid.HidDevice;
import com.orvanta.hid.HidDeviceInfo;
import com.orvanta.jni.HIDClassConnector;
import com.orvanta.tool.Main;
import com.orvanta.testbed.EmulatedHid;
import com.orvanta.testkit.DeviceSpec;
import com.orvanta.testkit.EmulatedDevice;
import com.orvanta.testkit.HidEmulator;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;
import java.util.concurrent.CyclicBarrier;
import java.util.concurrent.TimeUnit;

/**
 * Child-JVM side of the packaging tests. Modes:
 * <ul>
 * <li>{@code tool [--push NAME:HEX] [--push-later MS NAME:HEX] [--unplug-later MS NAME] [--feature NAME:HEX]
 * [--plug-later MS] ARGS...}: plugs in the emulated devices echo, keypad and bare, queues input
 * reports (now, or MS milliseconds after the tool starts), unplugs one later, sets feature reports,
 * replaces @echo@, @keypad@, @bare@ in ARGS by their paths, runs the tool in this JVM, then
 * prints what the echo device received and its feature reports, and exits with the tool's
 * code;</li>
 * <li>{@code loaded}: loads the library and prints where it was mapped from;</li>
 * <li>{@code threads}: first use from eight threads at once;</li>
 * <li>{@code retry}: two attempts to load, printing what each threw, then the emulator's load;</li>
 * <li>{@code image JAVA ARGS...}: plugs in the echo device and runs JAVA ARGS (a jlinked image's
 * java) under this JVM's emulator, with that image's own libjsig, and exits with its code;</li>
 * <li>{@code kit}: through the test kit alone (portula.jar and portula-testkit.jar), plugs in a
 * device and a Bluetooth one, and prints what the application side saw: each listed, an output
 * report, an input report, a feature report request's answer; or what the kit threw.</li>
 * </ul>
 */
public final class ToolHarness {
    private ToolHarness() {
    }

    public static void main(String[] args) throws Exception {
        switch (args[0]) {
            case "tool":
                System.exit(tool(args));
                break;
            case "loaded":
                long h = HIDClassConnector._hid_init();
                HIDClassConnector._free(h);
                printLoaded();
                break;
            case "threads":
                threads();
                printLoaded();
                break;
            case "image":
                System.exit(image(args));
                break;
            case "kit":
                try {
                    kit();
                } catch (Throwable t) {
                    System.out.println("KIT " + t.getClass().getName() + ": " + t.getMessage());
                    try {   // a second start fails as clearly
                        HidEmulator.start().close();
                        System.out.println("KIT again started");
                    } catch (Throwable again) {
                        System.out.println("KIT again " + again.getClass().getName() + ": " + again.getMessage());
                    }
                }
                break;
            default:
                for (String attempt : new String[] {"FIRST", "SECOND"}) {
                    try {
                        HIDClassConnector._free(HIDClassConnector._hid_init());
                        System.out.println(attempt + " loaded");
                    } catch (Throwable t) {
                        System.out.println(attempt + " " + t.getClass().getName() + ": " + t.getMessage());
                    }
                }
                try {
                    System.out.println("EMULATOR preload " + EmulatedHid.preloadActive());
                } catch (Throwable t) {
                    System.out.println("EMULATOR " + t.getClass().getName() + ": " + t.getMessage());
                }
        }
    }

    private static void kit() throws Exception {
        try (HidEmulator hid = HidEmulator.start()) {
            EmulatedDevice device = hid.plug(DeviceSpec.builder(0x1209, 0xEC40).manufacturer("Orvanta Labs")
                    .product("Kit").build());
            hid.plug(DeviceSpec.builder(0x1209, 0xEC41).busType(HidDeviceInfo.BusType.BLUETOOTH).product("Pad").build());
            for (HidDeviceInfo info : Hid.devices(0x1209, 0)) {
                System.out.println("KIT listed " + info);
            }
            device.answerFeatureRequests(id -> new byte[] {4, 5});
            try (HidDevice open = Hid.open(device.path())) {
                open.write(new byte[] {0, 1, 2});
                System.out.println("KIT output " + Arrays.toString(device.pollOutputReport(5, TimeUnit.SECONDS)));
                device.pushInputReport(new byte[] {7, 8});
                System.out.println("KIT input " + Arrays.toString(open.read(5000)));
                System.out.println("KIT feature " + Arrays.toString(open.getFeatureReport(3, 16)));
            }
        }
        System.out.println("KIT ok");
    }

    private static int image(String[] args) throws Exception {
        Path java = Paths.get(args[1]);
        // the emulator's preload (shim, umockdev) without this JDK's libjsig: the image has its own
        StringBuilder preload = new StringBuilder(java.getParent().resolveSibling("lib/libjsig.so").toString());
        for (String library : System.getenv("LD_PRELOAD").split(" ")) {
            if (!library.isEmpty() && !library.endsWith("/libjsig.so")) {
                preload.append(' ').append(library);
            }
        }
        try (EmulatedHid emulator = new EmulatedHid()) {
            emulator.add(0x1209, 0xEC40, "Orvanta Labs", "Echo", "E-1", true, false);
            List<String> command = new ArrayList<>();
            for (int i = 1; i < args.length; i++) {
                command.add(args[i]);
            }
            ProcessBuilder builder = new ProcessBuilder(command).inheritIO();
            builder.environment().put("LD_PRELOAD", preload.toString());
            builder.environment().put("UMOCKDEV_DIR", emulator.rootDir());
            return builder.start().waitFor();
        }
    }

    private static int tool(String[] args) throws Exception {
        try (EmulatedHid emulator = new EmulatedHid()) {
            EmulatedHid.Device echo = emulator.add(0x1209, 0xEC40, "Orvanta Labs", "Echo", "E-1", true, false);
            EmulatedHid.Device keypad = emulator.add(0x1209, 0x0002, "Orvanta Labs",
                    "Keypad \u00e9 \u4e2d\u6587", "K-1", false, false);
            EmulatedHid.Device bare = emulator.add(0x16C0, 0x05DF, null, null, null, false, false);
            List<String> toolArgs = new ArrayList<>();
            for (int i = 1; i < args.length; i++) {
                if (args[i].equals("--plug-later")) {
                    plugLater(emulator, Integer.parseInt(args[++i]));
                    continue;
                }
                if (args[i].equals("--push-later")) {
                    int millis = Integer.parseInt(args[++i]);
                    String[] what = args[++i].split(":");
                    later(millis, what[0].equals("keypad") ? keypad : echo, bytes(what[1]));
                    continue;
                }
                if (args[i].equals("--unplug-later")) {
                    int millis = Integer.parseInt(args[++i]);
                    later(millis, args[++i].equals("keypad") ? keypad : echo, null);
                    continue;
                }
                if (args[i].equals("--push") || args[i].equals("--feature")) {
                    boolean push = args[i].equals("--push");
                    String[] what = args[++i].split(":");
                    EmulatedHid.Device target = what[0].equals("keypad") ? keypad : echo;
                    if (!push) {
                        target.setFeatureReport(bytes(what[1]));
                    } else if (target.pushInput(bytes(what[1])) != 0) {
                        throw new IllegalStateException("input not queued");
                    }
                    continue;
                }
                toolArgs.add(args[i].replace("@echo@", echo.path()).replace("@keypad@", keypad.path())
                        .replace("@bare@", bare.path()));
            }
            int code = Main.run(toolArgs.toArray(new String[0]));
            for (byte[] report; (report = echo.popOutput(0)) != null; ) {
                System.out.println("DEVICE echo GOT" + hex(report));
            }
            for (int id = 0; id < 256; id++) {
                byte[] feature = echo.featureReport(id);
                if (feature != null) {
                    System.out.println("DEVICE echo FEATURE" + hex(feature));
                }
            }
            System.out.flush();
            return code;
        }
    }

    /** After millis, plugs in a device (1209:0abc "Hot"), and unplugs it millis later. */
    private static void plugLater(EmulatedHid emulator, int millis) {
        Thread t = new Thread(() -> {
            try {
                Thread.sleep(millis);
                EmulatedHid.Device hot = emulator.device(0x1209, 0x0abc).manufacturer("Orvanta Labs").product("Hot").add();
                Thread.sleep(millis);
                hot.unplug();
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
            }
        });
        t.setDaemon(true);
        t.start();
    }

    /** After millis, queues report on device (while the tool runs), or unplugs it (report null). */
    private static void later(int millis, EmulatedHid.Device device, byte[] report) {
        Thread t = new Thread(() -> {
            try {
                Thread.sleep(millis);
                if (report == null) {
                    device.unplug();
                } else if (device.pushInput(report) != 0) {
                    System.out.println("DEVICE input not queued");
                }
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
            }
        });
        t.setDaemon(true);
        t.start();
    }

    private static String hex(byte[] bytes) {
        StringBuilder text = new StringBuilder();
        for (byte b : bytes) {
            text.append(String.format(" %02x", b & 0xFF));
        }
        return text.toString();
    }

    private static byte[] bytes(String hex) {
        byte[] out = new byte[hex.length() / 2];
        for (int i = 0; i < out.length; i++) {
            out[i] = (byte) Integer.parseInt(hex.substring(2 * i, 2 * i + 2), 16);
        }
        return out;
    }

    private static void threads() throws Exception {
        int n = 8;
        CyclicBarrier start = new CyclicBarrier(n);
        List<Throwable> failures = new ArrayList<>();
        List<Thread> threads = new ArrayList<>();
        for (int i = 0; i < n; i++) {
            Thread t = new Thread(() -> {
                try {
                    start.await();
                    HIDClassConnector._free(HIDClassConnector._hid_init());
                } catch (Throwable e) {
                    synchronized (failures) {
                        failures.add(e);
                    }
                }
            });
            threads.add(t);
            t.start();
        }
        for (Thread t : threads) {
            t.join();
        }
        System.out.println("THREADS failed " + failures.size() + " " + failures);
    }

    /**
     * Each file libportula is mapped from, with its permissions: read through
     * the mapping itself where the file is gone and /proc/self/map_files
     * shows it (not under qemu, whose maps are the guest's), else "gone".
     */
    private static void printLoaded() throws Exception {
        TreeMap<String, String> files = new TreeMap<>();
        for (String line : Files.readAllLines(Paths.get("/proc/self/maps"))) {
            int slash = line.indexOf('/');
            if (slash >= 0 && (line.contains("libportula64") || line.contains("libportula32"))) {
                files.putIfAbsent(line.substring(slash), line.substring(0, line.indexOf(' ')));
            }
        }
        for (Map.Entry<String, String> file : files.entrySet()) {
            Path path = Paths.get(file.getKey().replace(" (deleted)", ""));
            Path mapping = Paths.get("/proc/self/map_files", file.getValue());
            String perms = Files.exists(path) ? PosixFilePermissions.toString(Files.getPosixFilePermissions(path))
                    : Files.exists(mapping) ? PosixFilePermissions.toString(Files.getPosixFilePermissions(mapping))
                    : "gone";
            System.out.println("LOADED " + file.getKey() + " " + perms);
        }
    }
}
