package com.orvanta.hid;

import com.orvanta.testbed.EmulatedHid;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;

/** Child JVM of GermanLocaleTest: prints the reason of each failure it meets. */
public final class GermanLocaleProbe {
    private GermanLocaleProbe() {
    }

    public static void main(String[] args) throws Exception {
        System.out.println("STRERROR " + EmulatedHid.strerror(5));   // EIO
        if (args[0].equals("permission")) {
            System.out.println("OPEN " + reason(() -> Hid.open(args[1]).close()));
        } else {
            try (EmulatedHid emulator = new EmulatedHid()) {
                unplugged(emulator);
            }
        }
        System.out.println("DONE");
    }

    interface Call {
        void run() throws Exception;
    }

    static String reason(Call call) throws Exception {
        try {
            call.run();
            return "none";
        } catch (HidException e) {
            return e.reason().toString();
        }
    }

    static void unplugged(EmulatedHid emulator) throws Exception {
        EmulatedHid.Device waited = emulator.add(0x1209, 0x0001, "Orvanta Labs", "Echo", "E-1", true, false);
        try (HidDevice d = Hid.open(waited.path())) {
            Thread unplug = new Thread(() -> {
                sleep(200);
                waited.unplug();
            });
            unplug.start();
            System.out.println("READ " + reason(() -> d.read(new byte[64], -1)));
            unplug.join();
        }
        EmulatedHid.Device timed = emulator.add(0x1209, 0x0002, "Orvanta Labs", "Echo", "E-2", true, false);
        try (HidDevice d = Hid.open(timed.path())) {
            timed.unplug();
            System.out.println("TIMED READ " + reason(() -> d.read(new byte[64], 1000)));
        }
        EmulatedHid.Device written = emulator.add(0x1209, 0x0003, "Orvanta Labs", "Echo", "E-3", true, false);
        try (HidDevice d = Hid.open(written.path())) {
            written.unplug();
            System.out.println("WRITE " + reason(() -> d.write(new byte[] {0, 1})));
        }
        EmulatedHid.Device asked = emulator.add(0x1209, 0x0004, "Orvanta Labs", "Echo", "E-4", true, false);
        try (HidDevice d = Hid.open(asked.path())) {
            asked.unplug();
            System.out.println("FEATURE " + reason(() -> d.getFeatureReport(1, 8)));
        }
        EmulatedHid.Device heard = emulator.add(0x1209, 0x0005, "Orvanta Labs", "Echo", "E-5", true, false);
        try (HidDevice d = Hid.open(heard.path())) {
            CountDownLatch told = new CountDownLatch(1);
            d.setInputReportListener(new InputReportListener() {
                @Override
                public void inputReport(HidDevice device, byte[] report) {
                }

                @Override
                public void removed(HidDevice device) {
                    System.out.println("LISTENER removed");
                    told.countDown();
                }

                @Override
                public void failed(HidDevice device, HidException failure) {
                    System.out.println("LISTENER failed " + failure);
                    told.countDown();
                }
            });
            Thread.sleep(100);
            heard.unplug();
            told.await(10, TimeUnit.SECONDS);
        }
    }

    static void sleep(long millis) {
        try {
            Thread.sleep(millis);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }
}
