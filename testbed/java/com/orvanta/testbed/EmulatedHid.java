package com.orvanta.testbed;

import java.io.IOException;
import java.util.LinkedHashMap;
import java.util.Map;
import java.util.Objects;
import java.util.concurrent.ConcurrentHashMap;

/**
 * Emulated HID devices that hidapi, in this JVM, finds and talks to as if
 * they were real. The JVM must start with the emulator preloaded (the build's
 * {@code bin/java-emulated}, or what the test kit's env command prints). One
 * instance per JVM at a time. The test kit's public API (com.orvanta.testkit)
 * is a facade over this class.
 *
 * <p>Close every hidapi handle before {@link #close()}: a handle left open on a
 * destroyed emulator blocks its next write forever.
 */
public final class EmulatedHid implements AutoCloseable {
    /** The kernel's bus numbers, for {@link DeviceBuilder#bus(int)}. */
    public static final int BUS_USB = 0x03, BUS_BLUETOOTH = 0x05, BUS_I2C = 0x18, BUS_SPI = 0x1C;
    /** How long a request waits for {@link ReportRequests#answer}; after that it stalls. */
    public static final int REQUEST_LIMIT_MILLIS = 1000;

    static {
        // from java.library.path (the build's tests), else the test kit's jar
        String library = "portula_testbed" + System.getProperty("sun.arch.data.model");
        String file = System.mapLibraryName(library);
        try {
            if (KitFiles.onLibraryPath(file)) {
                System.loadLibrary(library);
            } else {
                System.load(KitFiles.extract(file).toString());
            }
        } catch (IOException e) {
            throw (UnsatisfiedLinkError) new UnsatisfiedLinkError("cannot load " + file + ": not on java.library.path="
                    + System.getProperty("java.library.path") + ", and " + e.getMessage()).initCause(e);
        } catch (RuntimeException e) {
            // Java 24 and later under --illegal-native-access=deny: say what grants it
            if (!e.getClass().getName().equals("java.lang.IllegalCallerException")) {
                throw e;
            }
            String module = KitFiles.moduleName(EmulatedHid.class);
            String grant = module != null ? module : "ALL-UNNAMED";
            throw (UnsatisfiedLinkError) new UnsatisfiedLinkError("cannot load " + file
                    + ": native access is denied to " + (module != null ? "module " + grant : "the class path")
                    + ": add --enable-native-access=" + grant + " to the java command").initCause(e);
        }
    }

    /**
     * Answers a device's get-feature and get-input report requests, on the
     * emulator's thread ("portula-emulator"), within {@link #REQUEST_LIMIT_MILLIS}.
     */
    public interface ReportRequests {
        /**
         * @return the report, report ID first, or null to stall the request; an
         *     exception stalls it too (and goes to the thread's uncaught exception handler)
         */
        byte[] answer(boolean feature, int reportId) throws Exception;
    }

    // devices whose requests Java answers, by native handle
    private static final Map<Long, Device> ANSWERING = new ConcurrentHashMap<>();
    private static Thread answerer;

    /** Whether the JVM runs with the emulator's preload; without it the constructor throws. */
    public static native boolean preloadActive();

    /** The C library's text for the system error number errno, in this process's locale. */
    public static native String strerror(int errno);

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

    /** Unplugs the device and frees what it holds; its path may go to a later device. Close its handles first. */
    public void remove(Device device) {
        ANSWERING.remove(device.live());
        nativeRemove(testbed(), device.device);
        device.removed = true;
    }

    /**
     * Closes the sockets umockdev's preload leaks at each failed open of a device
     * that is gone; returns how many. Call while no other thread opens sockets.
     */
    public static int closeOrphanedSockets() {
        return nativeCloseOrphanedSockets();
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
            ANSWERING.values().removeIf(device -> device.emulator() == this);
            nativeDestroy(handle);
            handle = 0;
        }
    }

    /** Starts the thread that answers requests, once per JVM: the emulator is one per JVM. */
    private static synchronized void startAnswering() {
        if (answerer != null) {
            return;
        }
        answerer = new Thread(EmulatedHid::answerRequests, "portula-emulator");
        answerer.setDaemon(true);
        answerer.start();
    }

    private static void answerRequests() {
        while (true) {
            long[] request = nativeTakeRequest(60_000);   // {token, device, kind, report ID}
            if (request == null) {
                continue;
            }
            Device device = ANSWERING.get(request[1]);
            byte[] report = null;
            try {
                ReportRequests requests = device == null ? null : device.requests;
                report = requests == null ? null : requests.answer(request[2] == 0, (int) request[3]);
            } catch (Exception | Error e) {
                Thread.currentThread().getUncaughtExceptionHandler().uncaughtException(Thread.currentThread(), e);
            }
            nativeAnswerRequest(request[0], report);
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
        private int bus = BUS_USB;
        private int release = 0x0100;
        private int interfaceNumber;
        private String manufacturer;
        private String product;
        private String serial;
        private byte[] reportDescriptor;
        private byte[] rawManufacturer;
        private byte[] rawProduct;
        private byte[] rawSerial;
        private final Map<String, byte[]> attributes = new LinkedHashMap<>();
        private final Map<String, byte[]> uevent = new LinkedHashMap<>();
        private static final int FLAG_ECHO = 1;
        private static final int FLAG_NUMBERED = 2;
        private static final int FLAG_NO_NODE = 4;
        private static final int FLAG_RAW_DESCRIPTOR = 8;
        private static final int FLAG_VANISH = 16;
        private int flags;
        private int nodeMode = 0666;

        private DeviceBuilder(int vendorId, int productId) {
            this.vendorId = vendorId;
            this.productId = productId;
        }

        /** BUS_USB unless set; another bus has no manufacturer, release nor interface number */
        public DeviceBuilder bus(int busNumber) { bus = busNumber; return this; }
        public DeviceBuilder release(int bcdDevice) { release = bcdDevice; return this; }
        public DeviceBuilder interfaceNumber(int number) { interfaceNumber = number; return this; }
        public DeviceBuilder manufacturer(String text) { manufacturer = text; rawManufacturer = null; return this; }
        public DeviceBuilder product(String text) { product = text; rawProduct = null; return this; }
        public DeviceBuilder serial(String text) { serial = text; rawSerial = null; return this; }
        /** the name as the kernel shows it: any bytes, UTF-8 or not (a 0 ends it); null: absent */
        public DeviceBuilder manufacturer(byte[] raw) { manufacturer = null; rawManufacturer = copy(raw); return this; }
        public DeviceBuilder product(byte[] raw) { product = null; rawProduct = copy(raw); return this; }
        public DeviceBuilder serial(byte[] raw) { serial = null; rawSerial = copy(raw); return this; }
        /** exactly these bytes as the descriptor, even none (up to 4096) */
        public DeviceBuilder rawReportDescriptor(byte[] descriptor) {
            reportDescriptor = Objects.requireNonNull(descriptor, "descriptor").clone();
            return flag(FLAG_RAW_DESCRIPTOR, true);
        }
        /**
         * Replaces a sysfs attribute with these bytes (no newline added), or removes it
         * (null): "usb/bcdDevice", "interface/bInterfaceNumber", "hid/report_descriptor", ...
         */
        public DeviceBuilder attribute(String levelAndName, byte[] value) {
            attributes.put(Objects.requireNonNull(levelAndName, "levelAndName"), copy(value));
            return this;
        }
        /** Replaces (or with null removes) a uevent property of the hid level: HID_ID, HID_NAME, HID_UNIQ. */
        public DeviceBuilder hidUevent(String key, byte[] value) {
            uevent.put(Objects.requireNonNull(key, "key"), copy(value));
            return this;
        }
        /** the device dies once opened: the open succeeds, every ioctl then fails with ENODEV */
        public DeviceBuilder vanishOnOpen(boolean on) { return flag(FLAG_VANISH, on); }
        /** null or empty: the default descriptor (see numberedReports) */
        public DeviceBuilder reportDescriptor(byte[] descriptor) {
            reportDescriptor = copy(descriptor);
            return flag(FLAG_RAW_DESCRIPTOR, false);
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
            long device = nativeAddDevice(testbed(), vendorId, productId, bus, release, interfaceNumber,
                    manufacturer, product, serial, reportDescriptor, flags, nodeMode,
                    new byte[][] {rawManufacturer, rawProduct, rawSerial},
                    attributes.keySet().toArray(new String[0]), attributes.values().toArray(new byte[0][]),
                    uevent.keySet().toArray(new String[0]), uevent.values().toArray(new byte[0][]));
            return new Device(device);
        }

        private byte[] copy(byte[] bytes) { return bytes == null ? null : bytes.clone(); }
    }

    /** One emulated device; valid until its emulator is closed. */
    public final class Device {
        private final long device;
        private volatile boolean removed;
        private volatile ReportRequests requests;

        private Device(long device) {
            this.device = device;
        }

        private long live() {
            testbed();
            if (removed) {
                throw new IllegalStateException("the device was removed");
            }
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

        /** The next feature report the host sent, report ID first; null after timeoutMs (-1 waits forever). */
        public byte[] popFeature(int timeoutMs) { return nativePopFeature(live(), timeoutMs); }

        /**
         * Answers get-feature and get-input report requests with requests, instead
         * of the reports set; null goes back to them.
         */
        public void answerRequests(ReportRequests requests) {
            long handle = live();
            this.requests = requests;
            if (requests != null) {
                startAnswering();
                ANSWERING.put(handle, this);
                nativeAnswerRequests(handle, REQUEST_LIMIT_MILLIS);
            } else {
                nativeAnswerRequests(handle, 0);
                ANSWERING.remove(handle);
            }
        }

        private EmulatedHid emulator() { return EmulatedHid.this; }

        /** The feature report last sent or set for reportId, report ID first, or null. */
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
    private static native long nativeAddDevice(long testbed, int vendorId, int productId, int bus, int release,
            int interfaceNumber, String manufacturer, String product, String serial,
            byte[] reportDescriptor, int flags, int nodeMode, byte[][] rawNames,
            String[] attributeKeys, byte[][] attributeValues, String[] ueventKeys, byte[][] ueventValues);
    private static native void nativeRemove(long testbed, long device);
    private static native int nativeCloseOrphanedSockets();
    private static native String nativeRootDir(long testbed);
    private static native void nativeShare(long testbed);
    private static native void nativeSetInputReport(long device, byte[] report);
    private static native String nativePath(long device);
    private static native int nativePushInput(long device, byte[] report);
    private static native byte[] nativePopOutput(long device, int timeoutMs);
    private static native int nativePendingOutputs(long device);
    private static native byte[] nativePopFeature(long device, int timeoutMs);
    private static native void nativeAnswerRequests(long device, int limitMillis);
    private static native long[] nativeTakeRequest(int timeoutMillis);
    private static native void nativeAnswerRequest(long token, byte[] report);
    private static native void nativeSetFeatureReport(long device, byte[] report);
    private static native byte[] nativeFeatureReport(long device, int reportId);
    private static native void nativeUnplug(long device);
    private static native void nativeReplug(long device);
    private static native boolean nativePlugged(long device);
    private static native long nativeWrites(long device);
    private static native long nativeReads(long device);
}
