package com.orvanta.hid;

/**
 * Child JVM of HidPermissionTest, run as another user under the parent's
 * emulator: tries to open a device that user may not open.
 */
public final class PermissionProbe {
    private PermissionProbe() {
    }

    public static void main(String[] args) throws Exception {
        System.out.println("LISTED " + Hid.devices().size());
        try (HidDevice d = Hid.open(args[0])) {
            System.out.println("OPENED " + d);
        } catch (HidException e) {
            System.out.println("REASON " + e.reason());
            System.out.println("MESSAGE " + e.getMessage());
            System.out.println("HIDAPI " + e.getHidapiError());
        }
        System.out.println("DONE");
    }
}
