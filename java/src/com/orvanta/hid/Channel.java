package com.orvanta.hid;

import com.orvanta.hid.HidException.Reason;
import com.orvanta.jni.HIDClassConnector;
import com.orvanta.jni.HIDNatives;
import com.orvanta.jni.exceptions.HIDException;
import java.io.File;
import java.nio.Buffer;
import java.nio.ByteBuffer;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicBoolean;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.concurrent.locks.LockSupport;
import java.util.concurrent.locks.ReentrantLock;

/**
 * One open device's two native handles, on the same path: one that only
 * reads, and one for everything else. hidapi keeps state per open device (its
 * last error) that two threads must not touch at once; with a handle each, a
 * write never waits for a read. Each handle has its lock (for reads, a gate),
 * and closing waits for both, so no call can reach a freed device. Reads wait in slices of at most
 * {@link #SLICE_MILLIS}, so a close waits no longer than that for one.
 *
 * <p>The read gate is biased. The first thread to read owns it and passes it
 * with no atomic instruction: it raises {@code ownerBusy}, and the native read
 * goes to the device only while the process-wide gate epoch is still the one it
 * armed with. Close, and any other thread's read, move the epoch (a heavy
 * barrier on every thread), so the owner's next slice finds it moved and takes
 * the gate the usual way, and wait for the owner's slice in flight. A thread
 * that reads after another thread took the gate from its owner never owns it again.
 *
 * <p>This is also the action that closes a device dropped without close().
 */
final class Channel implements Runnable {
    static final int SLICE_MILLIS = 50;

    interface Call<T> {
        T run(long handle) throws HIDException;
    }

    final String path;
    private final long reader;
    private final long control;
    // 1 while a read is in flight: lighter than a lock on the path that
    // must cost next to nothing (no fence on the way out)
    private final AtomicInteger reading = new AtomicInteger();
    // the gate's owner; set, and cleared once revoked, under the gate by that thread
    private volatile Thread owner;
    // the owner's alone: the epoch its reads go with, or NONE
    private long armed = NONE;
    // 1 while the owner's slice is in flight
    private final AtomicInteger ownerBusy = new AtomicInteger();
    // set for good when another thread, or close, took the gate from its owner
    private volatile boolean revoked;
    private static final long NONE = -1;
    // the heavy barrier is to be had (not under every kernel or emulator)
    private static final boolean BIASED = HIDNatives._gate_epoch() >= 0;
    private final ReentrantLock controlLock = new ReentrantLock();
    private volatile boolean closed;
    private volatile boolean gone;
    private final AtomicBoolean released = new AtomicBoolean();
    // Reports land here natively and are copied out under the gate: cheaper
    // than the VM's copy into an array. The channel, which is the cleaner's
    // action, keeps it reachable until both handles are freed.
    private final ByteBuffer inbox = ByteBuffer.allocateDirect(HIDNatives.INBOX_BYTES);
    private final long inboxAddress = HIDNatives._inbox_address(inbox);

    private Channel(String path, long reader, long control) {
        this.path = path;
        this.reader = reader;
        this.control = control;
    }

    /** Opens path twice; call with Registry.LOCK held, as every open must be. */
    static Channel open(String path) throws HidException {
        long reader = openHandle(path);
        try {
            return new Channel(path, reader, openHandle(path));
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
            String text = Registry.error(handle);
            HIDClassConnector._free(handle);
            throw Registry.openFailure(path, e, text);
        }
    }

    boolean isOpen() {
        return !closed;
    }

    /**
     * Closes both handles, once. Waits for the calls in flight (a read's
     * current slice); any call after them sees the channel closed.
     */
    @Override
    public void run() {
        if (released.getAndSet(true)) {
            return;
        }
        closed = true;
        if (BIASED) {
            HIDNatives._gate_advance();
        }
        // Whoever started a read before seeing closed is seen here: the flag
        // and the count are each written, then the other read, both volatile.
        // An owner that armed after the epoch moved saw closed, and armed none.
        while (reading.get() != 0) {
            LockSupport.parkNanos(TimeUnit.MILLISECONDS.toNanos(1));
        }
        waitForOwner();
        controlLock.lock();
        controlLock.unlock();
        synchronized (Registry.LOCK) {
            HIDClassConnector._free(reader);
            HIDClassConnector._free(control);
        }
    }

    /**
     * Reads one report into buffer; 0 when timeoutMillis passed first (0: do
     * not wait; below 0: wait without limit). Allocates nothing.
     */
    int read(byte[] buffer, int offset, int length, int timeoutMillis) throws HidException {
        long start = timeoutMillis > 0 ? System.nanoTime() : 0;
        if (owner == Thread.currentThread()) {
            int received = readOwned(buffer, offset, length, timeoutMillis, start);
            if (received != HIDNatives.GATE_MOVED) {
                return received;
            }
        }
        if (!reading.compareAndSet(0, 1)) {
            waitToRead(start, timeoutMillis);
        }
        try {
            claim();
            while (true) {
                int slice = slice(timeoutMillis, start);
                check();
                int received;
                try {
                    received = HIDNatives._hid_read_inbox(reader, HIDNatives.ANY_EPOCH, inboxAddress, length,
                            Math.max(slice, 0));
                } catch (HIDException e) {
                    throw failure(e, reader);
                }
                if (received > 0 || slice <= 0) {
                    return copyOut(buffer, offset, received);
                }
            }
        } finally {
            reading.lazySet(0);
        }
    }

    /** The owner's read: GATE_MOVED as soon as a slice finds the gate taken from it. */
    private int readOwned(byte[] buffer, int offset, int length, int timeoutMillis, long start) throws HidException {
        while (true) {
            int slice = slice(timeoutMillis, start);
            int received;
            ownerBusy.lazySet(1);
            try {
                check();   // outside the catch below: a HidException is an HIDException too
                try {
                    received = HIDNatives._hid_read_inbox(reader, armed, inboxAddress, length, Math.max(slice, 0));
                } catch (HIDException e) {
                    // the native raises only once it saw the epoch stand: the handle is live
                    throw failure(e, reader);
                }
                copyOut(buffer, offset, received);   // before a thread that takes the gate reads into the inbox
            } finally {
                ownerBusy.lazySet(0);
            }
            if (received != 0 || slice <= 0) {
                return received;
            }
        }
    }

    /** The report the inbox holds, if any, into buffer; received as it came. */
    private int copyOut(byte[] buffer, int offset, int received) {
        if (received > 0) {
            ((Buffer) inbox).clear();   // through Buffer: Java 8 has no ByteBuffer.clear()
            inbox.get(buffer, offset, received);
        }
        return received;
    }

    /** The next slice's length: 0 for no wait, below 0 once a timeout ran out. */
    private static int slice(int timeoutMillis, long start) {
        if (timeoutMillis <= 0) {
            return timeoutMillis == 0 ? 0 : SLICE_MILLIS;
        }
        long left = timeoutMillis - TimeUnit.NANOSECONDS.toMillis(System.nanoTime() - start);
        return left <= 0 ? -1 : (int) Math.min(left, SLICE_MILLIS);
    }

    /**
     * Under the gate: takes the gate from another thread that owns it, for
     * good, or makes it this thread's, or arms this owner again.
     */
    private void claim() {
        Thread me = Thread.currentThread();
        Thread holder = owner;
        if (holder == null) {
            if (!BIASED || revoked) {
                return;
            }
            owner = me;
        } else if (holder != me) {
            if (!revoked) {
                revoked = true;
                HIDNatives._gate_advance();
                waitForOwner();
            }
            return;
        } else if (revoked) {
            owner = null;
            return;
        }
        // The epoch first, then closed: a close that moved the epoch after
        // this read it is waited for; one before it is seen here.
        long epoch = HIDNatives._gate_epoch();
        armed = closed ? NONE : epoch;
    }

    /** Waits for the owner's slice in flight: call after moving the epoch. */
    private void waitForOwner() {
        while (ownerBusy.get() != 0) {
            LockSupport.parkNanos(TimeUnit.MILLISECONDS.toNanos(1));
        }
    }

    /** Another thread reads: wait for it, as long as the timeout allows. */
    private void waitToRead(long start, int timeoutMillis) throws HidException {
        do {
            check();
            if (timeoutMillis >= 0 && System.nanoTime() - start >= TimeUnit.MILLISECONDS.toNanos(timeoutMillis)) {
                throw new HidException(Reason.BUSY, path + ": another thread is reading, and the timeout passed");
            }
            LockSupport.parkNanos(TimeUnit.MILLISECONDS.toNanos(1));
        } while (!reading.compareAndSet(0, 1));
    }

    void write(byte[] report) throws HidException {
        controlLock.lock();
        try {
            check();   // outside the catch below: a HidException is an HIDException too
            try {
                HIDClassConnector._hid_write(control, report);
            } catch (HIDException e) {
                throw failure(e, control);
            }
        } finally {
            controlLock.unlock();
        }
    }

    /** Runs call on the control handle. */
    <T> T control(Call<T> call) throws HidException {
        controlLock.lock();
        try {
            check();
            try {
                return call.run(control);
            } catch (HIDException e) {
                throw failure(e, control);
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

    /** What a native failure on handle means: call with that handle's lock held. */
    private HidException failure(HIDException e, long handle) {
        String text = e.getHidapiError() != null ? e.getHidapiError() : Registry.error(handle);
        if (closed) {
            return new HidException(Reason.CLOSED, path + " is closed", e, text);
        }
        if (!new File(path).exists() || Registry.says(text, "No such device", "Input/output error", "disconnected")) {
            gone = true;
            return new HidException(Reason.DEVICE_GONE, path + " is gone: the device was unplugged", e, text);
        }
        if (Registry.says(text, "not supported")) {
            return new HidException(Reason.UNSUPPORTED, path + ": " + e.getMessage() + " (" + text + ")", e, text);
        }
        return new HidException(Reason.IO, path + ": " + e.getMessage(), e, text);
    }
}
