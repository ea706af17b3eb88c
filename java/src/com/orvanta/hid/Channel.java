package com.orvanta.hid;

import com.orvanta.hid.HidException.Reason;
import com.orvanta.hid.internal.OpenDevices;
import com.orvanta.jni.HIDClassConnector;
import com.orvanta.jni.HIDNatives;
import com.orvanta.jni.exceptions.HIDException;
import java.nio.channels.AsynchronousCloseException;
import java.nio.channels.spi.AbstractInterruptibleChannel;
import java.util.Arrays;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicBoolean;
import java.util.concurrent.locks.ReentrantLock;

/**
 * One open device's two native handles on the same path: one that only reads,
 * and one for everything else, so that a write never waits for a read. Each
 * handle has a lock, held for every native call on it. A read waits in
 * hidapi's poll for as long as its timeout allows; what must end it early
 * (close, an interrupt of the reading thread, a listener that stops) wakes it
 * through the handle's eventfd, and the read then looks at why. Close marks
 * the channel closed, wakes the read, takes both locks and frees the handles,
 * so no call reaches a freed device. Where the wake does not work, a read
 * waits a second at a time instead.
 *
 * <p>This is also the action that closes a device dropped without close().
 */
final class Channel implements Runnable {
    /** A read's longest single wait where the wake does not work (or -Dportula.wake=off). */
    static final int SLICE_MILLIS = 1000;
    /** ... and where it does: nothing needs to look sooner. */
    private static final int LONG_WAIT_MILLIS = 3_600_000;
    private static final boolean WAKE_OFF = "off".equals(System.getProperty("portula.wake"));

    interface Call<T> {
        T run(long handle) throws HIDException;
    }

    final String path;
    private final long reader;
    private final long control;
    private final boolean wakes;
    private final ReentrantLock readLock = new ReentrantLock();
    private final ReentrantLock controlLock = new ReentrantLock();
    private volatile boolean closed;
    private volatile boolean gone;
    private final AtomicBoolean released = new AtomicBoolean();
    private boolean freed;   // under this: no wake after it
    // a report a stopping listener read but did not take: the next read's; under readLock
    private byte[] pending;

    private Channel(String path, long reader, long control) {
        this.path = path;
        this.reader = reader;
        this.control = control;
        wakes = !WAKE_OFF && HIDNatives._hid_wake_works(reader);
    }

    /** Opens path twice; call with Registry.LOCK held, as every open must be. */
    static Channel open(String path) throws HidException {
        long reader = openHandle(path);
        try {
            Channel channel = new Channel(path, reader, openHandle(path));
            OpenDevices.opened(channel, path);
            return channel;
        } catch (HidException e) {
            HIDClassConnector._free(reader);
            throw e;
        }
    }

    private static long openHandle(String path) throws HidException {
        long handle = Registry.newHandle();
        try {
            HIDClassConnector._hid_open(handle, path);
            return handle;
        } catch (HIDException e) {
            HidException failure = Registry.openFailure(path, e, handle);
            HIDClassConnector._free(handle);
            throw failure;
        }
    }

    boolean isOpen() {
        return !closed;
    }

    /** Closes both handles, once: wakes the read under way and waits for the calls in flight. */
    @Override
    public void run() {
        if (released.getAndSet(true)) {
            return;
        }
        OpenDevices.closed(this);
        closed = true;
        wake();
        readLock.lock();
        controlLock.lock();
        try {
            synchronized (this) {
                freed = true;
            }
        } finally {
            controlLock.unlock();
            readLock.unlock();
        }
        // no call reaches the handles now (each checks closed under its lock); freed
        // outside those locks, as controlAlone takes Registry.LOCK before controlLock
        synchronized (Registry.LOCK) {
            HIDClassConnector._free(reader);
            HIDClassConnector._free(control);
        }
    }

    /** Ends the read under way, or the next one, as if its time ran out: it then looks at why. */
    void wake() {
        synchronized (this) {
            if (wakes && !freed) {
                HIDNatives._hid_wake(reader);
            }
        }
    }

    /**
     * Reads one report into buffer, allocating nothing unless it waits; 0 when
     * timeoutMillis passed first (0: do not wait; below 0: without limit), also
     * while another thread reads. For a listener's thread, calls is its gate:
     * 0 once it is closed, and a report is taken only when a call may start.
     */
    int read(byte[] buffer, int offset, int length, int timeoutMillis, CallGate calls) throws HidException {
        long deadline = System.nanoTime() + TimeUnit.MILLISECONDS.toNanos(timeoutMillis);
        if (!lock(timeoutMillis)) {
            return 0;
        }
        Interruptor interruptor = null;
        try {
            if (pending != null && !closed) {   // kept even where the device is gone since
                return taken(pending, 0, pending.length, buffer, offset, length, calls);
            }
            if (timeoutMillis != 0) {
                interruptor = new Interruptor(this);
                interruptor.enter();
            }
            while (true) {
                check();
                if (calls != null && calls.isClosed()) {
                    return 0;
                }
                int longestWait = wakes ? LONG_WAIT_MILLIS : SLICE_MILLIS;
                long left = timeoutMillis < 0 ? longestWait
                        : Math.max(0, (deadline - System.nanoTime() + 999_999) / 1_000_000);   // rounded up
                if (timeoutMillis > 0 && left == 0) {
                    return 0;
                }
                int received;
                try {
                    received = HIDNatives._hid_read_timeout(reader, buffer, offset, length,
                            (int) Math.min(left, longestWait));
                } catch (HIDException e) {
                    throw failure(e, reader, true);
                }
                if (received > 0) {
                    return taken(buffer, offset, received, buffer, offset, length, calls);
                }
                if (timeoutMillis == 0) {
                    return 0;
                }
            }
        } finally {
            if (interruptor != null) {
                interruptor.leave();
            }
            readLock.unlock();
        }
    }

    /**
     * A report read (at report[from]): the caller's, in buffer, unless a
     * listener's call may not start, which leaves it for the next read.
     */
    private int taken(byte[] report, int from, int received, byte[] buffer, int offset, int length, CallGate calls) {
        if (calls != null && !calls.enter()) {
            pending = Arrays.copyOfRange(report, from, from + received);
            return 0;
        }
        if (report != pending) {
            return received;   // read into buffer already
        }
        pending = null;
        int count = Math.min(received, length);
        System.arraycopy(report, 0, buffer, offset, count);
        return count;
    }

    /** Takes the read lock within timeoutMillis (0: only if free; below 0: without limit). */
    private boolean lock(int timeoutMillis) throws HidException {
        try {
            if (timeoutMillis < 0) {
                readLock.lockInterruptibly();
                return true;
            }
            return timeoutMillis == 0 ? readLock.tryLock() : readLock.tryLock(timeoutMillis, TimeUnit.MILLISECONDS);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw interrupted();
        }
    }

    void write(byte[] report) throws HidException {
        control(handle -> {
            HIDClassConnector._hid_write(handle, report);
            return null;
        });
    }

    /** Runs call on the control handle. */
    <T> T control(Call<T> call) throws HidException {
        controlLock.lock();
        try {
            check();
            try {
                return call.run(control);
            } catch (HIDException e) {
                throw failure(e, control, false);
            }
        } finally {
            controlLock.unlock();
        }
    }

    /** Runs call on the control handle with hidapi's process-wide state to itself. */
    <T> T controlAlone(Call<T> call) throws HidException {
        synchronized (Registry.LOCK) {
            return control(call);
        }
    }

    /** Throws if no call may go to the device now. */
    void check() throws HidException {
        if (closed) {
            throw new HidException(Reason.CLOSED, path + " is closed");
        }
        if (gone) {
            throw new HidException(Reason.DEVICE_GONE, path + " is gone: the device was unplugged");
        }
        if (Thread.currentThread().isInterrupted()) {
            throw interrupted();
        }
    }

    private HidException interrupted() {
        return new HidException(Reason.INTERRUPTED, path + ": the waiting thread was interrupted");
    }

    /**
     * What a native failure on handle means, by the system's error number:
     * call with that handle's lock held. A read that fails with none ended in
     * hidapi's poll hang-up.
     */
    private HidException failure(HIDException e, long handle, boolean reading) {
        String text = e.getHidapiError() != null ? e.getHidapiError() : Registry.error(handle);
        if (closed) {
            return new HidException(Reason.CLOSED, path + " is closed", e, text);
        }
        int errno = Registry.errno(handle);
        if (errno == Errno.ENODEV || reading && (errno == 0 || errno == Errno.EIO)) {
            gone = true;
            return new HidException(Reason.DEVICE_GONE, path + " is gone: the device was unplugged", e, text);
        }
        if (!reading && (errno == 0 || errno == Errno.ENOTTY)) {
            return new HidException(Reason.UNSUPPORTED, path + ": " + e.getMessage() + " (" + text + ")", e, text);
        }
        return new HidException(Reason.IO, path + ": " + e.getMessage(), e, text);
    }

    /**
     * Wakes the channel's read when the reading thread is interrupted: the
     * JDK's own hook for interruptible I/O calls implCloseChannel then.
     */
    private static final class Interruptor extends AbstractInterruptibleChannel {
        private final Channel channel;

        Interruptor(Channel channel) {
            this.channel = channel;
        }

        void enter() {
            begin();
        }

        void leave() {
            try {
                end(true);
            } catch (AsynchronousCloseException e) {
                // interrupted: the thread's status stays set, and check() says so
            }
        }

        @Override
        protected void implCloseChannel() {
            channel.wake();
        }
    }
}
