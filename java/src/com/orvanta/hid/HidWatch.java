package com.orvanta.hid;

import com.orvanta.hid.HidException.Reason;
import com.orvanta.jni.HIDNatives;
import com.orvanta.jni.exceptions.HIDException;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.concurrent.BlockingQueue;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.atomic.AtomicBoolean;
import java.util.concurrent.atomic.AtomicInteger;

/**
 * Tells a {@link HidWatchListener} of HID devices as they come and go, from
 * the system's own device events (udev), without polling: from {@link Hid#watch}.
 * Close it when done; {@link #close()} returns at once, and its threads end
 * soon after.
 *
 * <p>Two threads of its own: one only takes the events (so that none is lost
 * however slow the listener), the other lists each new device and calls the
 * listener. The first frees the native watch once it and close() are both
 * done with it.
 */
public final class HidWatch implements AutoCloseable {
    private static final String[] END = new String[0];

    private final long monitor;
    private final HidWatchListener listener;
    private final boolean present;
    private final int vendorId;
    private final int productId;
    private final BlockingQueue<String[]> events = new LinkedBlockingQueue<>();
    private final AtomicBoolean closed = new AtomicBoolean();
    private final CallGate calls = new CallGate();
    // the receiving thread and close(): the last to let go frees the monitor
    private final AtomicInteger users = new AtomicInteger(2);
    // what each node was attached with; the dispatcher's alone
    private final Map<String, List<HidDeviceInfo>> attached = new HashMap<>();

    HidWatch(HidWatchListener listener, boolean present, int vendorId, int productId) throws HidException {
        this.listener = listener;
        this.present = present;
        this.vendorId = vendorId;
        this.productId = productId;
        try {
            // before any listing: a device that comes meanwhile is in the events
            monitor = HIDNatives._monitor_open();
        } catch (HIDException e) {
            throw new HidException(Reason.IO, "cannot watch for HID devices: " + e.getMessage(), e, null);
        }
        Thread receiver = new Thread(this::receive, "portula-watch-events");
        Thread dispatcher = new Thread(this::dispatch, "portula-watch");
        receiver.setDaemon(true);
        dispatcher.setDaemon(true);
        receiver.start();
        dispatcher.start();
    }

    /** @return whether the watch still runs: false once closed */
    public boolean isOpen() {
        return !closed.get();
    }

    /**
     * Stops the watch, at once: no call to the listener starts after it
     * returns; one under way may finish. The listener may close its watch.
     */
    @Override
    public void close() {
        if (!closed.compareAndSet(false, true)) {
            return;
        }
        calls.close();
        HIDNatives._monitor_wake(monitor);
        events.add(END);
        letGo();
    }

    private void letGo() {
        if (users.decrementAndGet() == 0) {
            HIDNatives._monitor_close(monitor);
        }
    }

    private void receive() {
        try {
            while (true) {
                String[] batch;
                try {
                    batch = HIDNatives._monitor_wait(monitor, -1);
                } catch (HIDException e) {
                    batch = null;   // an invalid handle cannot be: it is this watch's own
                }
                if (batch == null) {
                    return;   // woken: closing
                }
                if (batch.length > 0) {
                    events.add(batch);
                }
            }
        } finally {
            letGo();
        }
    }

    private void dispatch() {
        if (present) {
            try {
                for (HidDeviceInfo d : Hid.devices(vendorId, productId)) {
                    attach(d.path(), singletonList(d));
                }
            } catch (HidException e) {
                report(e);
            }
        }
        while (true) {
            String[] batch;
            try {
                batch = events.take();
            } catch (InterruptedException e) {
                return;
            }
            for (int i = 0; i + 2 < batch.length && !calls.isClosed(); i += 3) {
                if (batch[0 + i].equals("add")) {
                    added(batch[i + 1], batch[i + 2]);
                } else {
                    removed(batch[i + 1]);
                }
            }
            if (batch == END || calls.isClosed()) {
                return;
            }
        }
    }

    private void added(String node, String ids) {
        if (node.isEmpty() || attached.containsKey(node)) {
            return;   // listed already, or hidapi could not open it anyway
        }
        int vendor = vendorId;
        int product = productId;
        if (!ids.isEmpty()) {
            vendor = Integer.parseInt(ids.substring(0, 4), 16);
            product = Integer.parseInt(ids.substring(5), 16);
            if ((vendorId != 0 && vendor != vendorId) || (productId != 0 && product != productId)) {
                return;
            }
        }
        List<HidDeviceInfo> records = new ArrayList<>();
        try {
            for (HidDeviceInfo d : Hid.devices(vendor, product)) {
                if (node.equals(d.path())) {
                    records.add(d);
                }
            }
        } catch (HidException e) {
            report(e);
        }
        if (!records.isEmpty()) {   // else it went before it could be listed
            attach(node, records);
        }
    }

    private void attach(String node, List<HidDeviceInfo> records) {
        if (node == null) {
            return;   // no node, so no event will ever name it
        }
        List<HidDeviceInfo> known = attached.get(node);
        if (known == null) {
            attached.put(node, known = new ArrayList<>());
        }
        for (HidDeviceInfo d : records) {
            known.add(d);
            call(d, true);
        }
    }

    private void removed(String node) {
        List<HidDeviceInfo> records = attached.remove(node);
        if (records != null) {
            for (HidDeviceInfo d : records) {
                call(d, false);
            }
        }
    }

    private void call(HidDeviceInfo device, boolean attach) {
        if (!calls.enter()) {
            return;
        }
        try {
            if (attach) {
                listener.attached(device);
            } else {
                listener.detached(device);
            }
        } catch (RuntimeException | Error e) {
            report(e);
        } finally {
            calls.done();
        }
    }

    private static void report(Throwable e) {
        Thread t = Thread.currentThread();
        t.getUncaughtExceptionHandler().uncaughtException(t, e);
    }

    private static List<HidDeviceInfo> singletonList(HidDeviceInfo d) {
        List<HidDeviceInfo> one = new ArrayList<>(1);
        one.add(d);
        return one;
    }
}
