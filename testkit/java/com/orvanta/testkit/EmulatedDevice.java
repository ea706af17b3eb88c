package com.orvanta.testkit;

import com.orvanta.hid.internal.OpenDevices;
import com.orvanta.testbed.EmulatedHid;
import java.util.Collections;
import java.util.Objects;
import java.util.concurrent.TimeUnit;
import java.util.function.IntFunction;

/**
 * A device that {@link HidEmulator#plug(DeviceSpec)} plugged in: what the
 * application under test opens at {@link #path()}, and the test's side of
 * it. Every method may be called from any thread, so that a test can push
 * input reports on a schedule of its own (a
 * {@link java.util.concurrent.ScheduledExecutorService}, say).
 *
 * <p>Reports are byte arrays as the application sees them through
 * {@link com.orvanta.hid.HidDevice}: one it writes has its report ID first
 * (0 where the device numbers none); an input report has its report ID first
 * only where the device numbers its reports.
 *
 * <p>Once the device is removed, or its emulator closed, every method but
 * {@link #spec()}, {@link #path()} and {@link #isPlugged()} throws
 * {@link IllegalStateException}.
 */
public final class EmulatedDevice {
    /**
     * How long the application's feature or input report request waits for an
     * answer function (see {@link #answerFeatureRequests}): 1 second, after which
     * the request stalls, as a device's that does not answer.
     */
    public static final int REQUEST_TIME_LIMIT_MILLIS = EmulatedHid.REQUEST_LIMIT_MILLIS;
    private static final int MAX_REPORT = 16384;

    private final HidEmulator emulator;
    private final EmulatedHid.Device device;
    private final DeviceSpec spec;
    private final String path;
    private volatile IntFunction<byte[]> features;
    private volatile IntFunction<byte[]> inputs;
    private volatile boolean removed;

    EmulatedDevice(HidEmulator emulator, EmulatedHid.Device device, DeviceSpec spec) {
        this.emulator = emulator;
        this.device = device;
        this.spec = spec;
        this.path = device.path();
    }

    /** @return what the device was plugged in as */
    public DeviceSpec spec() {
        return spec;
    }

    /** @return the device's node, {@code /dev/hidrawN}, as {@link com.orvanta.hid.Hid#devices()} lists it */
    public String path() {
        return path;
    }

    /**
     * Sends an input report to the application: its next read, or its
     * listener, gets it. The kernel queues up to 64 reports that nobody has
     * read yet, and drops any further one; so does this.
     *
     * @param report as the application reads it: the report ID first only if the device numbers
     *     its reports; 1 to 16384 bytes
     * @return true, or false when 64 reports wait unread and this one was dropped
     * @throws IllegalStateException while the device is unplugged
     */
    public boolean pushInputReport(byte[] report) {
        int length = Objects.requireNonNull(report, "report").length;
        if (length == 0 || length > MAX_REPORT) {
            throw new IllegalArgumentException("an input report has 1 to " + MAX_REPORT + " bytes, not " + length);
        }
        int result = device.pushInput(report);
        if (result == -1) {
            throw new IllegalStateException(this + " is unplugged: replug() it first");
        }
        return result == 0;
    }

    /**
     * Takes the next output report the application wrote, in order, waiting up
     * to timeout for it. The device keeps what the application writes until a
     * test takes it, also once unplugged.
     *
     * @param timeout how long to wait: 0 or less takes only a report already there
     * @param unit the timeout's unit
     * @return the report exactly as written, report ID first, or null when none came in time
     * @throws InterruptedException when the waiting thread is interrupted
     */
    public byte[] pollOutputReport(long timeout, TimeUnit unit) throws InterruptedException {
        return poll(timeout, unit, true);
    }

    /**
     * Takes the next feature report the application sent, in order, waiting up
     * to timeout for it.
     *
     * @param timeout how long to wait: 0 or less takes only a report already there
     * @param unit the timeout's unit
     * @return the report exactly as sent, report ID first, or null when none came in time
     * @throws InterruptedException when the waiting thread is interrupted
     */
    public byte[] pollFeatureReport(long timeout, TimeUnit unit) throws InterruptedException {
        return poll(timeout, unit, false);
    }

    /**
     * Answers the application's feature report requests
     * ({@link com.orvanta.hid.HidDevice#getFeatureReport}) with answer, which
     * takes the report ID (0 where the device numbers no reports) and returns
     * the report's bytes after its ID; the application gets the report ID and
     * those bytes, cut to the length it asked for. Without an answer function
     * (and with null) a request gets the report last sent with its ID.
     *
     * <p>answer runs on the emulator's own thread ("portula-emulator"), one
     * request after another, while the application's request waits. It must
     * answer within {@link #REQUEST_TIME_LIMIT_MILLIS} (1 s): after that the
     * request stalls, as does one answered with null or with an exception.
     * The application then fails with the device's stall (EPIPE, which
     * portula reports as {@link com.orvanta.hid.HidException.Reason#IO}); an
     * exception also goes to the thread's uncaught exception handler. While
     * answer runs, the emulator answers no other request, read or write of any
     * device: they wait until it returns, so keep it short.
     *
     * @param answer the function, or null for none
     */
    public void answerFeatureRequests(IntFunction<byte[]> answer) {
        features = answer;
        answerRequests();
    }

    /**
     * Answers the application's input report requests
     * ({@link com.orvanta.hid.HidDevice#getInputReport}) as
     * {@link #answerFeatureRequests} answers feature report requests, on the
     * same thread and with the same limit. Without an answer function, such a
     * request stalls.
     *
     * @param answer the function, or null for none
     */
    public void answerInputRequests(IntFunction<byte[]> answer) {
        inputs = answer;
        answerRequests();
    }

    /**
     * Unplugs the device, as pulling its cable would: it leaves
     * {@link com.orvanta.hid.Hid#devices()}, a {@link com.orvanta.hid.HidWatch}
     * hears it detached, and the application's open device fails with
     * {@link com.orvanta.hid.HidException.Reason#DEVICE_GONE}. Does nothing if
     * unplugged.
     */
    public void unplug() {
        device.unplug();
    }

    /**
     * Plugs the device in again, at the same path, with no report queued: a
     * watch hears it attached, and the application can open it again (what it
     * had open before stays gone). Does nothing if plugged in.
     */
    public void replug() {
        device.replug();
    }

    /** @return whether the device is plugged in: false once unplugged or removed */
    public boolean isPlugged() {
        return !removed && emulator.isOpen() && device.plugged();
    }

    /**
     * Unplugs the device for good and frees what it holds; its path may go to a
     * later device. A portula {@link com.orvanta.hid.HidDevice} still open on it is
     * closed first (a handle left on a removed device could block). Does nothing
     * if removed.
     */
    public void remove() {
        emulator.remove(this);
    }

    /** @return for example {@code /dev/hidraw0 1209:5ca1 USB "Orvanta Labs" "Scale" serial "S-1"} */
    @Override
    public String toString() {
        return path + " " + spec;
    }

    /** Called by the emulator, which holds its lock: closes what is open on it, then removes it. */
    void removeLocked(EmulatedHid emulatedHid) {
        if (removed) {
            return;
        }
        OpenDevices.closeAt(Collections.singleton(path));
        removed = true;
        emulatedHid.remove(device);
    }

    private void answerRequests() {
        device.answerRequests(features == null && inputs == null ? null : this::answer);
    }

    private byte[] answer(boolean feature, int reportId) {
        IntFunction<byte[]> answer = feature ? features : inputs;
        if (answer == null) {
            return feature ? device.featureReport(reportId) : null;
        }
        byte[] payload = answer.apply(reportId);
        if (payload == null) {
            return null;
        }
        byte[] report = new byte[payload.length + 1];
        report[0] = (byte) reportId;
        System.arraycopy(payload, 0, report, 1, payload.length);
        return report;
    }

    private byte[] poll(long timeout, TimeUnit unit, boolean output) throws InterruptedException {
        long deadline = System.nanoTime() + Objects.requireNonNull(unit, "unit").toNanos(timeout);
        while (true) {
            // a slice at a time: the native wait does not see Thread.interrupt()
            long left = TimeUnit.NANOSECONDS.toMillis(deadline - System.nanoTime());
            int slice = (int) Math.max(0, Math.min(left, 100));
            byte[] report = output ? device.popOutput(slice) : device.popFeature(slice);
            if (report != null) {
                return report;
            }
            if (Thread.interrupted()) {
                throw new InterruptedException();
            }
            if (left <= 0) {
                return null;
            }
        }
    }
}
