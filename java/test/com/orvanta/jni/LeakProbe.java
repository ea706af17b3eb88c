package com.orvanta.jni;

import com.orvanta.testbed.EmulatedHid;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.LinkedHashMap;
import java.util.Map;

/**
 * Child JVM of LeakTest: each failing path of the entry points, called many
 * times in a row, with the resident memory it added per call. Runs with a
 * fixed, pre-touched heap, so that only native memory can grow.
 */
public final class LeakProbe {
    interface Call {
        void run() throws Exception;
    }

    private LeakProbe() {
    }

    public static void main(String[] args) throws Exception {
        long calls = Long.parseLong(args[0]);
        int rounds = Integer.parseInt(args[1]);
        EmulatedHid emulator = new EmulatedHid();   // no device: every open fails at once
        try {
            long h = HIDClassConnector._hid_init();
            byte[] report = new byte[64];
            Map<String, Call> paths = new LinkedHashMap<>();
            paths.put("open-path-invalid-handle", () -> HIDClassConnector._hid_open(0, "/nonexistent/hidraw0"));
            paths.put("open-path-null", () -> HIDClassConnector._hid_open(h, null));
            paths.put("open-path-unavailable", () -> HIDClassConnector._hid_open(h, "/nonexistent/hidraw0"));
            paths.put("open-ids-invalid-handle", () -> HIDClassConnector._hid_open(0, 0x1209, 1));
            paths.put("open-ids-unavailable", () -> HIDClassConnector._hid_open(h, 0x1209, 0x7777));
            paths.put("close-invalid-handle", () -> HIDClassConnector._hid_close(0));
            paths.put("write-invalid-handle", () -> HIDClassConnector._hid_write(0, report));
            paths.put("write-no-data", () -> HIDClassConnector._hid_write(h, new byte[0]));
            paths.put("write-failed", () -> HIDClassConnector._hid_write(h, report));
            paths.put("read-invalid-handle", () -> HIDClassConnector._hid_read(0, 64));
            paths.put("read-invalid-length", () -> HIDClassConnector._hid_read(h, -1));
            paths.put("read-failed", () -> HIDClassConnector._hid_read(h, 64));
            paths.put("read-no-memory", () -> HIDClassConnector._hid_read(h, Integer.MAX_VALUE));
            paths.put("enumerate-invalid-handle", () -> HIDClassConnector._enumerateDevices(0, 0, 0));
            paths.put("enumerate-none", () -> HIDClassConnector._enumerateDevices(h, 0x1209, 0x7777));
            paths.put("read-timeout-invalid-handle", () -> HIDNatives._hid_read_timeout(0, report, 0, 64, 0));
            paths.put("read-timeout-bad-buffer", () -> HIDNatives._hid_read_timeout(h, report, 60, 8, 0));
            paths.put("read-timeout-failed", () -> HIDNatives._hid_read_timeout(h, report, 0, 64, 0));
            paths.put("wake", () -> HIDNatives._hid_wake(h));
            paths.put("errno", () -> HIDNatives._hid_errno(h));
            paths.put("get-feature-failed", () -> HIDNatives._hid_get_feature_report(h, 1, 64));
            paths.put("send-feature-failed", () -> HIDNatives._hid_send_feature_report(h, report));
            paths.put("get-string-failed", () -> HIDNatives._hid_get_product_string(h));
            paths.put("get-device-info-failed", () -> HIDNatives._hid_get_device_info(h));
            paths.put("hidapi-error", () -> HIDNatives._hid_error(h));
            // every path once first: code compiled (or, under qemu, translated), caches filled
            for (Call call : paths.values()) {
                repeat(call, calls / 10);
            }
            System.gc();       // the collector's own structures are touched at its first run
            residentBytes();   // and what reading the figure itself loads
            // Under qemu the process also holds the emulator's translated code,
            // which grows once as new code runs: each round measures every
            // path again and the least growth counts. A leak grows every round.
            Map<String, Long> growth = new LinkedHashMap<>();
            for (int round = 0; round < rounds; round++) {
                for (Map.Entry<String, Call> path : paths.entrySet()) {
                    long before = residentBytes();
                    repeat(path.getValue(), calls);
                    long grown = residentBytes() - before;
                    growth.merge(path.getKey(), grown, Math::min);
                }
            }
            for (Map.Entry<String, Long> path : growth.entrySet()) {
                System.out.printf("GROWTH %s %.2f%n", path.getKey(), path.getValue() / (double) calls);
            }
            System.out.println("PATHS " + paths.size());
            HIDClassConnector._free(h);
        } finally {
            emulator.close();
        }
        System.out.println("DONE");
    }

    private static void repeat(Call call, long times) {
        for (long i = 0; i < times; i++) {
            try {
                call.run();
            } catch (Exception expected) {
                // every path fails; the exception is garbage in a fixed heap
            }
        }
    }

    private static long residentBytes() throws Exception {
        for (String line : Files.readAllLines(Path.of("/proc/self/status"))) {
            if (line.startsWith("VmRSS:")) {
                return 1024 * Long.parseLong(line.replaceAll("[^0-9]", ""));
            }
        }
        throw new AssertionError("no VmRSS");
    }
}
