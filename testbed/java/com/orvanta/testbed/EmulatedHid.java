package com.orvanta.testbed;

import java.util.Objects;

/**
 * Emulated USB HID devices that hidapi, in this JVM, finds and talks to as if
 * they were real. The JVM must start with the emulator preloaded (the build's
 * {@code bin/java-emulated}). One instance per JVM at a time.
 *
 * <p>Close every hidapi handle before {@link #close()}: a handle left open on a
 * destroyed emulator blocks its next write forever.
 */
public final class EmulatedHid implements AutoCloseable {
    static {
        System.loadLibrary("portula_testbed" + System.getProperty("sun.arch.data.model"));
    }

    /** Whether the JVM runs with the emulator's preload; without it the constructor throws. */
    public static native boolean preloadActive();

    private long handle;

    /** @throws IllegalStateException without the preload, or while another instance is open */
    public EmulatedHid() {
        handle = nativeCreate();
    }

    /** Adds a device with the default descriptor; null strings are absent attributes. */
    public Device add(int vendorId, int productId, String manufacturer, String product,
                      String serial, boolean echo, boolean numberedReports) {
        return device(vendorId, productId).manufacturer(manufacturer).product(product)
                .serial(serial).echo(echo).numberedReports(numberedReports).add();
    }

    /** Starts describing a device; {@link DeviceBuilder#add()} plugs it in. */
    public DeviceBuilder device(int vendorId, int productId) {
        return new DeviceBuilder(vendorId, productId);
    }

    /** The testbed's directory: what UMOCKDEV_DIR names for a process that runs under it. */
    public String rootDir() {
        return nativeRootDir(testbed());
    }

    /**
     * Lets processes of other users run under this testbed (UMOCKDEV_DIR set to
     * {@link #rootDir()}, the emulator preloaded); each node keeps its mode.
     */
    public void share() {
        nativeShare(testbed());
    }

    @Override
    public synchronized void close() {
        if (handle != 0) {
            nativeDestroy(handle);
            handle = 0;
        }
    }

    private synchronized long testbed() {
        if (handle == 0) {
            throw new IllegalStateException("the emulator is closed");
        }
        return handle;
    }

    /** Attributes of a device to add. */
    public final class DeviceBuilder {
        private final int vendorId;
        private final int productId;
        private int release = 0x0100;
        private int interfaceNumber;
        private String manufacturer;
        private String product;
        private String serial;
        private byte[] reportDescriptor;
        private static final int FLAG_ECHO = 1;
        private static final int FLAG_NUMBERED = 2;
        private static final int FLAG_NO_NODE = 4;
        private int flags;
        private int nodeMode = 0666;

        private DeviceBuilder(int vendorId, int productId) {
            this.vendorId = vendorId;
            this.productId = productId;
        }

        public DeviceBuilder release(int bcdDevice) { release = bcdDevice; return this; }
        public DeviceBuilder interfaceNumber(int number) { interfaceNumber = number; return this; }
        public DeviceBuilder manufacturer(String text) { manufacturer = text; return this; }
        public DeviceBuilder product(String text) { product = text; return this; }
        public DeviceBuilder serial(String text) { serial = text; return this; }
        /** null: the default descriptor (see numberedReports) */
        public DeviceBuilder reportDescriptor(byte[] descriptor) {
            reportDescriptor = descriptor == null ? null : descriptor.clone();
            return this;
        }
        /** each output report comes back as an input report (report ID 0 stripped) */
        public DeviceBuilder echo(boolean on) { return flag(FLAG_ECHO, on); }
        /** default descriptor with report IDs 1 and 2 (input/output) and 3 (feature) */
        public DeviceBuilder numberedReports(boolean on) { return flag(FLAG_NUMBERED, on); }
        /** mode of the /dev node, 0666 unless set: 0600 keeps other users out */
        public DeviceBuilder nodeMode(int mode) { nodeMode = mode; return this; }
        /** false: udev knows no node for the device, and hidapi lists it without a path */
        public DeviceBuilder deviceNode(boolean on) { return flag(FLAG_NO_NODE, !on); }

        private DeviceBuilder flag(int bit, boolean on) {
            flags = on ? flags | bit : flags & ~bit;
            return this;
        }

        public Device add() {
            long device = nativeAddDevice(testbed(), vendorId, productId, release, interfaceNumber,
                    manufacturer, product, serial, reportDescriptor, flags, nodeMode);
            return new Device(device);
        }
    }

    /** One emulated device; valid until its emulator is closed. */
    public final class Device {
        private final long device;

        private Device(long device) {
            this.device = device;
        }

        private long live() {
            testbed();
            return device;
        }

        /** "/dev/hidrawN", as hidapi reports it */
        public String path() { return nativePath(live()); }

        /**
         * Queues an input report as hidraw delivers it: the report ID first only for
         * numbered reports.
         *
         * @return 0, or -1 when unplugged, -2 when 64 reports are already queued
         */
        public int pushInput(byte[] report) {
            return nativePushInput(live(), Objects.requireNonNull(report, "report"));
        }

        /** The next output report as written, report ID first; null after timeoutMs (-1 waits forever). */
        public byte[] popOutput(int timeoutMs) { return nativePopOutput(live(), timeoutMs); }

        public int pendingOutputs() { return nativePendingOutputs(live()); }

        /** What a get-feature-report for report[0] returns. */
        public void setFeatureReport(byte[] report) {
            nativeSetFeatureReport(live(), Objects.requireNonNull(report, "report"));
        }

        /** What a get-input-report for report[0] returns (HIDIOCGINPUT), report ID first. */
        public void setInputReport(byte[] report) {
            nativeSetInputReport(live(), Objects.requireNonNull(report, "report"));
        }

        /** The feature report last set for reportId, report ID first, or null. */
        public byte[] featureReport(int reportId) { return nativeFeatureReport(live(), reportId); }

        /** The device leaves the enumeration; blocked reads return -1, later I/O fails. */
        public void unplug() { nativeUnplug(live()); }

        /** The device comes back at the same path; handles opened before stay dead. */
        public void replug() { nativeReplug(live()); }

        public boolean plugged() { return nativePlugged(live()); }

        public long writes() { return nativeWrites(live()); }

        public long reads() { return nativeReads(live()); }

        @Override
        public String toString() { return "EmulatedHid.Device[" + path() + "]"; }
    }

    private static native long nativeCreate();
    private static native void nativeDestroy(long testbed);
    private static native long nativeAddDevice(long testbed, int vendorId, int productId, int release,
            int interfaceNumber, String manufacturer, String product, String serial,
            byte[] reportDescriptor, int flags, int nodeMode);
    private static native String nativeRootDir(long testbed);
    private static native void nativeShare(long testbed);
    private static native void nativeSetInputReport(long device, byte[] report);
    private static native String nativePath(long device);
    private static native int nativePushInput(long device, byte[] report);
    private static native byte[] nativePopOutput(long device, int timeoutMs);
    private static native int nativePendingOutputs(long device);
    private static native void nativeSetFeatureReport(long device, byte[] report);
    private static native byte[] nativeFeatureReport(long device, int reportId);
    private static native void nativeUnplug(long device);
    private static native void nativeReplug(long device);
    private static native boolean nativePlugged(long device);
    private static native long nativeWrites(long device);
    private static native long nativeReads(long device);
}
