package com.orvanta.hid;

import com.orvanta.hid.HidException.Reason;
import com.orvanta.hid.descriptor.Recording;
import com.orvanta.jni.HIDNatives;
import java.nio.charset.StandardCharsets;
import java.util.Arrays;
import java.util.Collections;
import java.util.Objects;
import java.util.concurrent.atomic.AtomicReference;

/**
 * An open HID device, from {@link Hid#open}. Close it when done, for example
 * with try-with-resources; one that becomes unreachable unclosed is closed
 * for you (a java.lang.ref.Cleaner).
 *
 * <p>Reports are byte arrays as hidapi carries them: to the device, the
 * report ID first (0 for a device without numbered reports); from the device,
 * the report ID first only where the device numbers its reports. A timeout
 * below 0 waits without limit, 0 does not wait at all; a timeout is never an
 * exception.
 *
 * <p><b>Threads.</b> Every method may be called from any thread, at any time.
 * A read waits in the system's poll, costing nothing while no report comes; a
 * second thread's read waits its turn, within its own timeout. A write does
 * not wait for a read. {@link #close()} from any thread ends a waiting read at
 * once (within milliseconds), with a {@link HidException} of reason
 * {@link Reason#CLOSED}, as every later call ends; {@link Thread#interrupt()}
 * ends a waiting read with reason {@link Reason#INTERRUPTED}, and the thread's
 * interrupt status stays set. A virtual thread that waits in a read holds its
 * carrier thread all the while: read with an {@link InputReportListener} or
 * on a platform thread instead.
 *
 * <p><b>Errors.</b> What the device or the system does wrong is a checked
 * {@link HidException}. A caller's own mistake is unchecked, nothing having
 * reached the device: a null argument is a {@link NullPointerException}, an
 * offset or length outside an array an {@link IndexOutOfBoundsException}, any
 * other bad argument an {@link IllegalArgumentException}, and a read while a
 * listener is set an {@link IllegalStateException}.
 */
public final class HidDevice implements AutoCloseable {
    /** hidraw's largest report, report ID included. */
    static final int MAX_REPORT = 16384;
    /** A feature or input report request's largest: what its ioctl carries. */
    static final int MAX_REQUEST = 16383;

    private final HidDeviceInfo info;
    private final Channel channel;
    private final Cleanup.Cleanable cleanable;
    private static final ThreadLocal<byte[]> SCRATCH = ThreadLocal.withInitial(() -> new byte[MAX_REPORT]);
    private final AtomicReference<ReportReader> listening = new AtomicReference<>();
    // never set: see reachableUntilHere
    private volatile boolean fence;

    HidDevice(HidDeviceInfo info, Channel channel) {
        this.info = info;
        this.channel = channel;
        this.cleanable = Cleanup.register(this, channel);
    }

    /** @return the device as it was listed when it was opened */
    public HidDeviceInfo info() {
        return info;
    }

    /** @return whether the device is open: false once closed, by this thread or another */
    public boolean isOpen() {
        return channel.isOpen();
    }

    /**
     * Sends one output report.
     *
     * @param report the report ID (0 if the device numbers none), then the report's bytes: 1 to
     *     16384 bytes in all
     */
    public void write(byte[] report) throws HidException {
        int length = Objects.requireNonNull(report, "report").length;
        if (length == 0 || length > MAX_REPORT) {
            throw new IllegalArgumentException("a report is 1 to " + MAX_REPORT + " bytes, report ID first, not "
                    + length);
        }
        channel.write(report);
    }

    /** Sends one output report: {@code reportId} (0 to 255), then {@code payload} (at most 16383 bytes). */
    public void write(int reportId, byte[] payload) throws HidException {
        channel.write(withId(reportId, payload, MAX_REPORT));
    }

    /**
     * Waits for one input report and puts it at the start of buffer, allocating
     * nothing unless it waits. A report longer than the buffer is cut to fit;
     * a buffer of any size works, and a report fills at most 16384 bytes of it.
     *
     * @param buffer at least 1 byte
     * @return the bytes received, or 0 when the time ran out first (also while another thread reads)
     * @throws IllegalStateException while an input report listener is set
     */
    public int read(byte[] buffer, int timeoutMillis) throws HidException {
        return read(buffer, 0, Objects.requireNonNull(buffer, "buffer").length, timeoutMillis);
    }

    /** As {@link #read(byte[], int)}, into {@code length} (at least 1) bytes of buffer from {@code offset}. */
    public int read(byte[] buffer, int offset, int length, int timeoutMillis) throws HidException {
        Objects.requireNonNull(buffer, "buffer");
        if (offset < 0 || length < 0 || length > buffer.length - offset) {
            throw new IndexOutOfBoundsException("offset " + offset + " and length " + length
                    + " are outside a buffer of " + buffer.length + " bytes");
        }
        if (length == 0) {
            throw new IllegalArgumentException("a read needs at least 1 byte of buffer");
        }
        refuseWhileListening();
        int received = channel.read(buffer, offset, length, timeoutMillis, null);
        reachableUntilHere();
        return received;
    }

    /**
     * @return one input report exactly as received, or an empty array when the time ran out first
     * @throws IllegalStateException while an input report listener is set
     */
    public byte[] read(int timeoutMillis) throws HidException {
        refuseWhileListening();
        byte[] scratch = SCRATCH.get();
        int received = channel.read(scratch, 0, MAX_REPORT, timeoutMillis, null);
        reachableUntilHere();
        return Arrays.copyOf(scratch, received);
    }

    /**
     * Asks the device for a feature report.
     *
     * @param reportId 0 to 255 (0 if the device numbers none)
     * @param maxLength the most bytes to take, report ID included: 1 to 16383
     * @return the report as the device sent it, report ID first
     */
    public byte[] getFeatureReport(int reportId, int maxLength) throws HidException {
        checkReport(reportId, maxLength);
        return channel.control(handle -> HIDNatives._hid_get_feature_report(handle, reportId, maxLength));
    }

    /**
     * Sends a feature report: {@code reportId} (0 to 255), then {@code payload} (at most 16382
     * bytes: a feature report's request carries 16383 with its ID).
     */
    public void sendFeatureReport(int reportId, byte[] payload) throws HidException {
        byte[] report = withId(reportId, payload, MAX_REQUEST);
        channel.control(handle -> {
            HIDNatives._hid_send_feature_report(handle, report);
            return null;
        });
    }

    /** Asks the device for an input report, as {@link #getFeatureReport} does for a feature report. */
    public byte[] getInputReport(int reportId, int maxLength) throws HidException {
        checkReport(reportId, maxLength);
        return channel.control(handle -> HIDNatives._hid_get_input_report(handle, reportId, maxLength));
    }

    /**
     * @param index 0 to 255
     * @return the USB string descriptor at index
     * @throws HidException of reason {@link Reason#UNSUPPORTED} on Linux: hidraw reads none
     */
    public String indexedString(int index) throws HidException {
        if (index < 0 || index > 255) {
            throw new IllegalArgumentException("a string index is 0 to 255, not " + index);
        }
        return channel.controlAlone(handle -> HIDNatives._hid_get_indexed_string(handle, index));
    }

    /**
     * Reads the device's report descriptor: the bytes the kernel keeps, after
     * any driver's fix-up. It says what the device's reports hold.
     *
     * @return 1 to 4096 bytes
     * @throws HidException {@link Reason#DEVICE_GONE} once unplugged; {@link Reason#MALFORMED}
     *     when the device has an empty descriptor
     */
    public byte[] reportDescriptor() throws HidException {
        String path = channel.path;
        return Registry.nonEmpty(path, channel.control(handle -> HIDNatives._hid_get_report_descriptor(handle, path)));
    }

    /**
     * What a recording of this device starts with: its {@link #reportDescriptor()}, and what
     * the kernel says of it, asked of its node: its HID name, its physical path (where it is
     * attached), its bus number (the kernel's: 3 USB, 5 Bluetooth, 0x18 I2C, 0x1C SPI) and IDs.
     * Add the input reports read, with their times, as {@link Recording.Event}s.
     *
     * @return a recording without events
     * @throws HidException {@link Reason#DEVICE_GONE} once unplugged; {@link Reason#MALFORMED}
     *     when the device has an empty descriptor
     */
    public Recording recordingHeader() throws HidException {
        byte[] descriptor = reportDescriptor();
        String path = channel.path;
        byte[] name = new byte[256];
        byte[] phys = new byte[256];
        int[] ids = channel.control(handle -> HIDNatives._hid_get_raw_info(handle, path, name, phys));
        return new Recording(descriptor, text(name), text(phys), ids[0], ids[1], ids[2],
                Collections.<Recording.Event>emptyList());
    }

    /** The text before the first 0, decoded as UTF-8 (what is not becomes U+FFFD). */
    private static String text(byte[] bytes) {
        int end = 0;
        while (end < bytes.length && bytes[end] != 0) {
            end++;
        }
        return new String(bytes, 0, end, StandardCharsets.UTF_8);
    }

    /**
     * Sends each input report to listener, on a thread of this device's own,
     * until the device is closed or unplugged (listener then hears
     * {@link InputReportListener#removed}), or another listener or null is set.
     * While one is set, the read methods throw {@link IllegalStateException}.
     * No report is lost or doubled between listeners and reads: a read under
     * way when a listener is set still returns its report, and a report read
     * as the listener is replaced goes to the next listener or read.
     *
     * <p>Once this returns, the old listener's next call does not start; one
     * under way may finish. A listener may set another listener, or close its
     * device.
     *
     * @param listener the new listener, or null to stop listening
     */
    public void setInputReportListener(InputReportListener listener) throws HidException {
        synchronized (listening) {
            channel.check();
            stopListening();
            if (listener != null) {
                ReportReader reader = new ReportReader(listener);
                listening.set(reader);
                reader.start();
            }
        }
    }

    /**
     * Closes the device, within milliseconds whatever a listener does. Another
     * thread's read ends at once with a {@link Reason#CLOSED} exception. No
     * listener call starts after close returns; one under way may finish. A
     * second close does nothing.
     */
    @Override
    public void close() {
        synchronized (listening) {
            stopListening();
        }
        cleanable.clean();
    }

    @Override
    public String toString() {
        return "HidDevice[" + channel.path + (isOpen() ? "" : ", closed") + "]";
    }

    private void stopListening() {
        ReportReader reader = listening.getAndSet(null);
        if (reader != null) {
            reader.stopCalls();
        }
    }

    /**
     * A read of this device's memory after a read's native call: until then
     * the device stays reachable, so a cleaner cannot close it under a thread
     * that dropped it mid-read. Java 8 has no Reference.reachabilityFence.
     */
    private void reachableUntilHere() {
        if (fence) {
            throw new AssertionError();
        }
    }

    private void refuseWhileListening() {
        if (listening.get() != null) {
            throw new IllegalStateException(channel.path
                    + ": an input report listener is set, and reads are its alone; set null to read again");
        }
    }

    private static byte[] withId(int reportId, byte[] payload, int max) {
        checkReportId(reportId);
        if (Objects.requireNonNull(payload, "payload").length >= max) {
            throw new IllegalArgumentException("a payload is at most " + (max - 1) + " bytes, not " + payload.length);
        }
        byte[] report = new byte[payload.length + 1];
        report[0] = (byte) reportId;
        System.arraycopy(payload, 0, report, 1, payload.length);
        return report;
    }

    private static void checkReport(int reportId, int maxLength) {
        checkReportId(reportId);
        if (maxLength < 1 || maxLength > MAX_REQUEST) {
            throw new IllegalArgumentException("a report is 1 to " + MAX_REQUEST + " bytes, not " + maxLength);
        }
    }

    private static void checkReportId(int reportId) {
        if (reportId < 0 || reportId > 255) {
            throw new IllegalArgumentException("a report ID is 0 to 255, not " + reportId);
        }
    }

    /** The thread that reads for a listener: it takes a report only while a call may start. */
    private final class ReportReader extends Thread {
        private final InputReportListener listener;
        private final CallGate calls = new CallGate();

        ReportReader(InputReportListener listener) {
            super("portula-reports " + channel.path);
            setDaemon(true);
            this.listener = listener;
        }

        /** No call starts after this; the thread's read wakes, and the thread ends. */
        void stopCalls() {
            calls.close();
            channel.wake();
        }

        @Override
        public void run() {
            byte[] buffer = new byte[MAX_REPORT];
            while (true) {
                int received;
                try {
                    received = channel.read(buffer, 0, buffer.length, -1, calls);
                } catch (HidException e) {
                    listening.compareAndSet(this, null);
                    if (e.reason() != Reason.CLOSED && calls.enter()) {
                        try {
                            if (e.reason() == Reason.DEVICE_GONE) {
                                listener.removed(HidDevice.this);
                            } else {
                                listener.failed(HidDevice.this, e);
                            }
                        } catch (RuntimeException | Error thrown) {
                            getUncaughtExceptionHandler().uncaughtException(this, thrown);
                        }
                    }
                    return;
                }
                if (received == 0) {
                    return;   // stopped
                }
                try {
                    listener.inputReport(HidDevice.this, Arrays.copyOf(buffer, received));
                } catch (RuntimeException | Error e) {
                    getUncaughtExceptionHandler().uncaughtException(this, e);
                } finally {
                    calls.done();
                }
            }
        }
    }
}
