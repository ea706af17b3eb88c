package com.orvanta.testkit;

import com.orvanta.hid.HidDeviceInfo.BusType;
import com.orvanta.hid.descriptor.Recording;
import com.orvanta.testbed.EmulatedHid;
import com.orvanta.testbed.Preload;
import java.nio.file.attribute.PosixFilePermission;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.Objects;

/**
 * Emulated HID devices, which portula (and hidapi under it) in this JVM lists,
 * opens, reads and writes as it would real ones: see the
 * {@linkplain com.orvanta.testkit package} for how it works and how to start
 * the JVM.
 *
 * <pre>{@code
 * try (HidEmulator hid = HidEmulator.start()) {
 *     EmulatedDevice scale = hid.plug(DeviceSpec.builder(0x1209, 0x5ca1).product("Scale").build());
 *     // the application under test opens scale.path(), or finds it by its IDs
 * }
 * }</pre>
 *
 * <p>One emulator at a time per JVM: {@link #close()} it before starting
 * another (the JUnit extension, {@link HidEmulatorExtension}, does that for
 * each test class). Its methods may be called from any thread.
 */
public final class HidEmulator implements AutoCloseable {
    private static HidEmulator current;
    // the class fails to load once: later uses would get NoClassDefFoundError, which says nothing
    private static UnsatisfiedLinkError loadFailure;

    private final EmulatedHid emulatedHid;
    private final List<EmulatedDevice> devices = new ArrayList<>();
    private boolean open = true;

    private HidEmulator(EmulatedHid emulatedHid) {
        this.emulatedHid = emulatedHid;
    }

    /**
     * Starts the emulator, with no device plugged in.
     *
     * @return the emulator
     * @throws IllegalStateException when the JVM did not start with the emulator's preload (the
     *     message says how to start it), or another emulator is open in this JVM
     * @throws UnsatisfiedLinkError when the emulator's library cannot load (on every call); on Java
     *     24 and later where native access is denied, the message names the flag that grants it
     */
    public static HidEmulator start() {
        synchronized (HidEmulator.class) {
            if (current != null) {
                throw new IllegalStateException("another HidEmulator is open in this JVM: close it first"
                        + " (one at a time)");
            }
            String missing = Preload.missing();
            if (missing != null) {
                throw new IllegalStateException("this JVM cannot emulate HID devices: it started without the"
                        + " emulator's preload (" + missing + "): " + Preload.howToStart());
            }
            if (loadFailure != null) {
                throw (UnsatisfiedLinkError) new UnsatisfiedLinkError(loadFailure.getMessage()).initCause(loadFailure);
            }
            try {
                current = new HidEmulator(new EmulatedHid());
            } catch (UnsatisfiedLinkError e) {
                loadFailure = e;
                throw e;
            }
            return current;
        }
    }

    /**
     * Plugs a device in: from now on {@link com.orvanta.hid.Hid#devices()} lists
     * it and a {@link com.orvanta.hid.HidWatch} hears it attached.
     *
     * @param spec what the device is
     * @return the device, at a path of its own
     * @throws IllegalStateException once the emulator is closed
     */
    public synchronized EmulatedDevice plug(DeviceSpec spec) {
        Objects.requireNonNull(spec, "spec");
        checkOpen();
        EmulatedHid.DeviceBuilder builder = emulatedHid.device(spec.vendorId(), spec.productId())
                .bus(bus(spec.busType())).manufacturer(spec.manufacturer()).product(spec.product())
                .serial(spec.serialNumber()).nodeMode(mode(spec));
        if (spec.busType() == BusType.USB) {
            builder.release(spec.releaseNumber()).interfaceNumber(spec.interfaceNumber());
        }
        byte[] descriptor = spec.reportDescriptor();
        if (descriptor != null) {
            builder.rawReportDescriptor(descriptor);
        } else {
            builder.numberedReports(spec.numberedReports());
        }
        EmulatedDevice device = new EmulatedDevice(this, builder.add(), spec);
        devices.add(device);
        return device;
    }

    /**
     * Plugs in the device a recording was made of ({@link DeviceSpec#builder(Recording)}), to
     * play its input reports back: see {@link Replay}. Like a recording's device, it keeps the
     * output reports the application writes, and its feature and input report requests stall
     * until the test answers them ({@link EmulatedDevice#answerFeatureRequests}).
     *
     * @param recording the recording
     * @return the replay, its device plugged in and no report played yet
     * @throws IllegalArgumentException where the recording's bus is none the emulator has
     * @throws IllegalStateException once the emulator is closed
     */
    public Replay replay(Recording recording) {
        EmulatedDevice device = plug(DeviceSpec.builder(recording).build());
        device.answerFeatureRequests(reportId -> null);
        device.answerInputRequests(reportId -> null);
        return new Replay(device, recording.events());
    }

    /** @return the devices plugged in and not removed, unplugged ones too, in the order plugged */
    public synchronized List<EmulatedDevice> devices() {
        return Collections.unmodifiableList(new ArrayList<>(devices));
    }

    /**
     * Removes every device (see {@link EmulatedDevice#remove()}) and ends the
     * emulator. Does nothing if closed.
     */
    @Override
    public void close() {
        synchronized (HidEmulator.class) {
            synchronized (this) {
                if (!open) {
                    return;
                }
                try {
                    for (EmulatedDevice device : new ArrayList<>(devices)) {
                        remove(device);
                    }
                } finally {
                    open = false;
                    emulatedHid.close();
                    current = null;
                }
            }
        }
    }

    @Override
    public String toString() {
        return "HidEmulator[" + devices.size() + " devices" + (open ? "" : ", closed") + "]";
    }

    synchronized boolean isOpen() {
        return open;
    }

    synchronized void remove(EmulatedDevice device) {
        if (devices.remove(device)) {
            device.removeLocked(emulatedHid);
        }
    }

    private void checkOpen() {
        if (!open) {
            throw new IllegalStateException("the emulator is closed");
        }
    }

    private static int bus(BusType busType) {
        switch (busType) {
            case BLUETOOTH:
                return EmulatedHid.BUS_BLUETOOTH;
            case I2C:
                return EmulatedHid.BUS_I2C;
            case SPI:
                return EmulatedHid.BUS_SPI;
            default:
                return EmulatedHid.BUS_USB;
        }
    }

    /** The node's mode bits, from its permissions. */
    private static int mode(DeviceSpec spec) {
        int mode = 0;
        for (PosixFilePermission permission : spec.nodePermissions()) {
            mode |= 0400 >> permission.ordinal();   // OWNER_READ is 0400, ..., OTHERS_EXECUTE 0001
        }
        return mode;
    }
}
