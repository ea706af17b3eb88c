package com.orvanta.testkit;

import com.orvanta.hid.HidDeviceInfo;
import com.orvanta.hid.HidDeviceInfo.BusType;
import com.orvanta.hid.descriptor.Recording;
import java.nio.file.attribute.PosixFilePermission;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.Collections;
import java.util.EnumSet;
import java.util.Objects;
import java.util.Set;

/**
 * What an emulated device is: IDs, bus, names, release, interface, report
 * descriptor and the permissions of its node. An immutable value, made with
 * {@link #builder(int, int)}; {@link HidEmulator#plug(DeviceSpec)} plugs a
 * device in by it, as often as wanted.
 *
 * <p>Each field is the {@link HidDeviceInfo} field of the same name, and
 * {@link com.orvanta.hid.Hid#devices()} lists the device with exactly that
 * value, as the kernel and hidapi would list a real one:
 * <ul>
 * <li>a USB device has every field; {@link com.orvanta.hid.Hid#devices()} lists
 * it once per top-level collection of its descriptor;</li>
 * <li>a device on another bus ({@link BusType#BLUETOOTH}, {@link BusType#I2C},
 * {@link BusType#SPI}) has no manufacturer, release 0 and no interface
 * number (-1), as hidapi reports such a device; its product is the kernel's
 * name for it. Setting another value for these is refused.</li>
 * </ul>
 * The kernel keeps at most 127 bytes (UTF-8) of a name it reports for a
 * device of another bus, and 63 of a serial number: longer ones are listed
 * cut, without splitting a character.
 *
 * <p>Without a report descriptor of its own, a device has a vendor-defined one
 * (usage page 0xFF00, usage 1): input, output and feature reports of 64 bytes
 * without report IDs, or with {@link Builder#numberedReports()} report ID 1
 * (input and output, 8 bytes), 2 (input and output, 32 bytes) and 3
 * (feature, 16 bytes).
 */
public final class DeviceSpec {
    private final int vendorId;
    private final int productId;
    private final BusType busType;
    private final String manufacturer;
    private final String product;
    private final String serialNumber;
    private final int releaseNumber;
    private final int interfaceNumber;
    private final byte[] reportDescriptor;
    private final boolean numberedReports;
    private final Set<PosixFilePermission> nodePermissions;

    private DeviceSpec(Builder b) {
        vendorId = b.vendorId;
        productId = b.productId;
        busType = b.busType;
        manufacturer = b.manufacturer;
        product = b.product;
        serialNumber = b.serialNumber;
        boolean usb = busType == BusType.USB;
        releaseNumber = b.releaseNumber != null ? b.releaseNumber : usb ? 0x0100 : 0;
        interfaceNumber = b.interfaceNumber != null ? b.interfaceNumber : usb ? 0 : -1;
        reportDescriptor = b.reportDescriptor;
        numberedReports = b.numberedReports;
        nodePermissions = Collections.unmodifiableSet(EnumSet.copyOf(b.nodePermissions));
    }

    /**
     * Starts describing the device a recording was made of: its report
     * descriptor, bus and IDs, and the kernel's name for it as its product (no
     * manufacturer: a recording holds none).
     *
     * @param recording a recording, as {@link Recording#read} reads the kernel HID
     *     community's recorder text
     * @return a builder with these fields, which a test may change further
     * @throws IllegalArgumentException where the recording's bus is none the emulator has (USB 3,
     *     Bluetooth 5, I²C 0x18, SPI 0x1c; a recording without an {@code I:} line is taken as USB)
     */
    public static Builder builder(Recording recording) {
        Objects.requireNonNull(recording, "recording");
        Builder b = builder(Math.max(recording.vendorId(), 0), Math.max(recording.productId(), 0))
                .busType(busOf(recording.bus())).product(recording.name()).reportDescriptor(recording.descriptor());
        return b;
    }

    private static BusType busOf(int kernelBus) {
        switch (kernelBus) {
            case -1:
            case 0x03:
                return BusType.USB;
            case 0x05:
                return BusType.BLUETOOTH;
            case 0x18:
                return BusType.I2C;
            case 0x1C:
                return BusType.SPI;
            default:
                throw new IllegalArgumentException(String.format("a recording of bus 0x%x: the emulator plugs"
                        + " USB (3), Bluetooth (5), I2C (0x18) and SPI (0x1c) devices", kernelBus));
        }
    }

    /**
     * Starts describing a USB device with these IDs.
     *
     * @param vendorId 0 to 65535
     * @param productId 0 to 65535
     * @return a builder with these IDs, and every other field as described above
     * @throws IllegalArgumentException for an ID outside 0 to 65535
     */
    public static Builder builder(int vendorId, int productId) {
        return new Builder(checkId("vendor", vendorId), checkId("product", productId));
    }

    /** @return the vendor ID, 0 to 65535 */
    public int vendorId() {
        return vendorId;
    }

    /** @return the product ID, 0 to 65535 */
    public int productId() {
        return productId;
    }

    /** @return how the device is attached: USB unless set */
    public BusType busType() {
        return busType;
    }

    /** @return the manufacturer's name, or null: none */
    public String manufacturer() {
        return manufacturer;
    }

    /** @return the product's name, or null: none */
    public String product() {
        return product;
    }

    /** @return the serial number, or null: none */
    public String serialNumber() {
        return serialNumber;
    }

    /** @return the release number in binary-coded decimal: 0x0100 for USB unless set, else 0 */
    public int releaseNumber() {
        return releaseNumber;
    }

    /** @return the USB interface number, 0 unless set; -1 on another bus */
    public int interfaceNumber() {
        return interfaceNumber;
    }

    /** @return a copy of the report descriptor, or null for the vendor-defined one (see above) */
    public byte[] reportDescriptor() {
        return reportDescriptor == null ? null : reportDescriptor.clone();
    }

    /** @return whether the vendor-defined descriptor numbers its reports (see above) */
    public boolean numberedReports() {
        return numberedReports;
    }

    /** @return the permissions of the device's node ({@code /dev/hidrawN}): rw-rw-rw- unless set */
    public Set<PosixFilePermission> nodePermissions() {
        return nodePermissions;
    }

    /** @return for example {@code 1209:5ca1 USB "Orvanta Labs" "Scale" serial "S-1"} */
    @Override
    public String toString() {
        return String.format("%04x:%04x %s %s %s serial %s", vendorId, productId, busType, quoted(manufacturer),
                quoted(product), quoted(serialNumber));
    }

    private static String quoted(String text) {
        return text == null ? "-" : '"' + text + '"';
    }

    private static int checkId(String what, int id) {
        if (id < 0 || id > 0xFFFF) {
            throw new IllegalArgumentException(what + " ID " + id + " is not 0 to 65535");
        }
        return id;
    }

    /**
     * Collects a device's fields; {@link #build()} checks them together. A
     * method called twice keeps its last value.
     */
    public static final class Builder {
        private final int vendorId;
        private final int productId;
        private BusType busType = BusType.USB;
        private String manufacturer;
        private String product;
        private String serialNumber;
        private Integer releaseNumber;
        private Integer interfaceNumber;
        private byte[] reportDescriptor;
        private boolean numberedReports;
        private Set<PosixFilePermission> nodePermissions = PosixFilePermissions.fromString("rw-rw-rw-");

        private Builder(int vendorId, int productId) {
            this.vendorId = vendorId;
            this.productId = productId;
        }

        /**
         * @param busType USB, BLUETOOTH, I2C or SPI
         * @return this builder
         * @throws IllegalArgumentException for {@link BusType#UNKNOWN}: hidapi lists no such device
         */
        public Builder busType(BusType busType) {
            if (Objects.requireNonNull(busType, "busType") == BusType.UNKNOWN) {
                throw new IllegalArgumentException("hidapi lists no device of an unknown bus");
            }
            this.busType = busType;
            return this;
        }

        /**
         * @param manufacturer the manufacturer's name, or null (the default) for none; on another
         *     bus than USB, null or empty only
         * @return this builder
         */
        public Builder manufacturer(String manufacturer) {
            this.manufacturer = manufacturer;
            return this;
        }

        /**
         * @param product the product's name (on another bus than USB, the kernel's name for the
         *     device), or null (the default) for none
         * @return this builder
         */
        public Builder product(String product) {
            this.product = product;
            return this;
        }

        /**
         * @param serialNumber the serial number, or null (the default) for none
         * @return this builder
         */
        public Builder serialNumber(String serialNumber) {
            this.serialNumber = serialNumber;
            return this;
        }

        /**
         * @param releaseNumber in binary-coded decimal, 0 to 65535 (0x0123 is release 1.23); on
         *     another bus than USB, 0 only
         * @return this builder
         */
        public Builder releaseNumber(int releaseNumber) {
            if (releaseNumber < 0 || releaseNumber > 0xFFFF) {
                throw new IllegalArgumentException("a release number is 0 to 65535, not " + releaseNumber);
            }
            this.releaseNumber = releaseNumber;
            return this;
        }

        /**
         * @param interfaceNumber the USB interface, 0 to 255; on another bus, -1 only
         * @return this builder
         */
        public Builder interfaceNumber(int interfaceNumber) {
            if (interfaceNumber < -1 || interfaceNumber > 255) {
                throw new IllegalArgumentException("an interface number is 0 to 255 (-1: none), not "
                        + interfaceNumber);
            }
            this.interfaceNumber = interfaceNumber;
            return this;
        }

        /**
         * @param reportDescriptor the device's report descriptor, 1 to 4096 bytes, taken as given
         *     (the kernel parses it; hidapi lists one record per top-level collection)
         * @return this builder
         */
        public Builder reportDescriptor(byte[] reportDescriptor) {
            int length = Objects.requireNonNull(reportDescriptor, "reportDescriptor").length;
            if (length == 0 || length > 4096) {
                throw new IllegalArgumentException("a report descriptor has 1 to 4096 bytes, not " + length);
            }
            this.reportDescriptor = reportDescriptor.clone();
            return this;
        }

        /**
         * The vendor-defined descriptor with report IDs (see {@link DeviceSpec}).
         *
         * @return this builder
         */
        public Builder numberedReports() {
            numberedReports = true;
            return this;
        }

        /**
         * @param permissions of the device's node; a JVM of another user than root that the
         *     node's permissions keep out fails to open it, as with a real device
         * @return this builder
         */
        public Builder nodePermissions(Set<PosixFilePermission> permissions) {
            nodePermissions = EnumSet.noneOf(PosixFilePermission.class);
            nodePermissions.addAll(Objects.requireNonNull(permissions, "permissions"));
            return this;
        }

        /**
         * @return the device as described
         * @throws IllegalArgumentException where fields contradict each other: a device of
         *     another bus than USB with a manufacturer, release or interface number; a descriptor
         *     of its own with {@link #numberedReports()}
         */
        public DeviceSpec build() {
            if (busType != BusType.USB) {
                String what = busType + " device";
                if (manufacturer != null && !manufacturer.isEmpty()) {
                    throw new IllegalArgumentException("a " + what + " has no manufacturer name: hidapi lists"
                            + " none, and the kernel's name for the device is its product");
                }
                if (releaseNumber != null && releaseNumber != 0) {
                    throw new IllegalArgumentException("a " + what + " has no release number: hidapi lists 0");
                }
                if (interfaceNumber != null && interfaceNumber != -1) {
                    throw new IllegalArgumentException("a " + what + " has no interface number: hidapi lists -1");
                }
            } else if (interfaceNumber != null && interfaceNumber == -1) {
                throw new IllegalArgumentException("a USB device's interface number is 0 to 255");
            }
            if (reportDescriptor != null && numberedReports) {
                throw new IllegalArgumentException("numberedReports() numbers the vendor-defined descriptor's"
                        + " reports; a descriptor of your own numbers its reports itself");
            }
            return new DeviceSpec(this);
        }
    }
}
