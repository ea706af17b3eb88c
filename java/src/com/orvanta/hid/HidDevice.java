package com.orvanta.hid;

import com.orvanta.hid.HidException.Reason;
import com.orvanta.jni.HIDNatives;
import java.util.Arrays;
import java.util.concurrent.atomic.AtomicReference;

/**
 * An open HID device, from {@link Hid#open}. Close it when done, for example
 * with try-with-resources; one that becomes unreachable unclosed is closed
 * for you (a java.lang.ref.Cleaner).
 *
 * <p>Every method may be called from any thread, at any time. A write does
 * not wait for a read that waits for a report. {@link #close()} returns
 * within a fraction of a second even while another thread waits in a read,
 * which then ends with a {@link HidException} of reason
 * {@link Reason#CLOSED}, as every later call does.
 *
 * <p>Reports are byte arrays as hidapi carries them: to the device, the
 * report ID first (0 for a device without numbered reports); from the device,
 * the report ID first only where the device numbers its reports. A timeout
 * below 0 waits without limit, 0 does not wait at all.
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
     * @param report the report ID (0 if the device numbers none), then the report's bytes
     */
    public void write(byte[] report) throws HidException {
        if (report == null || report.length == 0 || report.length > MAX_REPORT) {
            throw badArgument("a report is 1 to " + MAX_REPORT + " bytes, report ID first");
        }
        channel.write(report);
    }

    /** Sends one output report: {@code reportId} (0 to 255), then {@code payload}. */
    public void write(int reportId, byte[] payload) throws HidException {
        channel.write(withId(reportId, payload, MAX_REPORT));
    }

    /**
     * Waits for one input report and puts it at the start of buffer, allocating
     * nothing. A report longer than the buffer is cut to fit.
     *
     * @return the bytes received, or 0 when the time ran out first
     */
    public int read(byte[] buffer, int timeoutMillis) throws HidException {
        if (buffer == null) {
            throw badArgument("no buffer to read into");
        }
        return read(buffer, 0, buffer.length, timeoutMillis);
    }

    /** As {@link #read(byte[], int)}, into {@code length} bytes of buffer from {@code offset}. */
    public int read(byte[] buffer, int offset, int length, int timeoutMillis) throws HidException {
        if (buffer == null || offset < 0 || length < 1 || length > buffer.length - offset) {
            throw badArgument("read needs at least 1 byte of a buffer, within it");
        }
        refuseWhileListening();
        int received = channel.read(buffer, offset, length, timeoutMillis);
        reachableUntilHere();
        return received;
    }

    /** @return one input report exactly as received, or an empty array when the time ran out first */
    public byte[] read(int timeoutMillis) throws HidException {
        refuseWhileListening();
        byte[] scratch = SCRATCH.get();
        int received = channel.read(scratch, 0, MAX_REPORT, timeoutMillis);
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

    /** Sends a feature report: {@code reportId} (0 to 255), then {@code payload}. */
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
     * @return the USB string descriptor at index
     * @throws HidException of reason {@link Reason#UNSUPPORTED} on Linux: hidraw reads none
     */
    public String indexedString(int index) throws HidException {
        return channel.controlAlone(handle -> HIDNatives._hid_get_indexed_string(handle, index));
    }

    /**
     * Sends each input report to listener, on a thread of this device's own,
     * until the device is closed or unplugged (listener then hears
     * {@link InputReportListener#removed}), or another listener or null is set.
     * While one is set, the read methods refuse ({@link Reason#BUSY}); a read
     * already under way still returns its report, and the listener has the
     * reports after it.
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
     * Closes the device. Another thread's read ends at once with a
     * {@link Reason#CLOSED} exception; a listener stops. A second close does
     * nothing.
     */
    @Override
    public void close() {
        stopListening();
        cleanable.clean();
    }

    @Override
    public String toString() {
        return "HidDevice[" + channel.path + (isOpen() ? "" : ", closed") + "]";
    }

    private void stopListening() {
        ReportReader reader = listening.getAndSet(null);
        if (reader != null) {
            reader.finish();
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

    private void refuseWhileListening() throws HidException {
        if (listening.get() != null) {
            throw new HidException(Reason.BUSY, channel.path
                    + ": an input report listener is set, and reads are its alone; set null to read again");
        }
    }

    private static byte[] withId(int reportId, byte[] payload, int max) throws HidException {
        if (reportId < 0 || reportId > 255 || payload == null || payload.length >= max) {
            throw badArgument("a report ID is 0 to 255, with a payload of at most " + (max - 1) + " bytes");
        }
        byte[] report = new byte[payload.length + 1];
        report[0] = (byte) reportId;
        System.arraycopy(payload, 0, report, 1, payload.length);
        return report;
    }

    private static void checkReport(int reportId, int maxLength) throws HidException {
        if (reportId < 0 || reportId > 255 || maxLength < 1 || maxLength > MAX_REQUEST) {
            throw badArgument("a report ID is 0 to 255, and a report 1 to " + MAX_REQUEST + " bytes");
        }
    }

    private static HidException badArgument(String what) {
        return new HidException(Reason.BAD_ARGUMENT, what);
    }

    /** The thread that reads for a listener. */
    private final class ReportReader extends Thread {
        private final InputReportListener listener;
        private volatile boolean finished;

        ReportReader(InputReportListener listener) {
            super("portula-reports " + channel.path);
            setDaemon(true);
            this.listener = listener;
        }

        /** Stops it, and waits for it unless this is it (a listener that closes its device). */
        void finish() {
            finished = true;
            if (Thread.currentThread() == this) {
                return;
            }
            boolean interrupted = false;
            while (isAlive()) {
                try {
                    join();
                } catch (InterruptedException e) {
                    interrupted = true;
                }
            }
            if (interrupted) {
                Thread.currentThread().interrupt();
            }
        }

        @Override
        public void run() {
            byte[] buffer = new byte[MAX_REPORT];
            while (!finished) {
                int received;
                try {
                    received = channel.read(buffer, 0, buffer.length, Channel.SLICE_MILLIS);
                } catch (HidException e) {
                    if (e.reason() == Reason.BUSY && !finished) {
                        continue;   // a read begun before this listener was set: the next report is ours
                    }
                    listening.compareAndSet(this, null);
                    if (!finished && e.reason() == Reason.DEVICE_GONE) {
                        listener.removed(HidDevice.this);
                    } else if (!finished && e.reason() != Reason.CLOSED) {
                        listener.failed(HidDevice.this, e);
                    }
                    return;
                }
                if (received > 0 && !finished) {
                    try {
                        listener.inputReport(HidDevice.this, Arrays.copyOf(buffer, received));
                    } catch (RuntimeException | Error e) {
                        getUncaughtExceptionHandler().uncaughtException(this, e);
                    }
                }
            }
        }
    }
}
