package com.orvanta.hid.internal;

import java.util.ArrayList;
import java.util.Collection;
import java.util.IdentityHashMap;
import java.util.List;
import java.util.Map;

/**
 * Not an API: the HID devices this JVM has open, for portula's test kit (the
 * module exports this package to it alone). com.orvanta.hid registers each
 * open device's closing action with its path.
 */
public final class OpenDevices {
    private static final Map<Runnable, String> OPEN = new IdentityHashMap<>();

    private OpenDevices() {
    }

    /** A device at path is open; close closes it. */
    public static synchronized void opened(Runnable close, String path) {
        OPEN.put(close, path);
    }

    /** The device close closes is closed. */
    public static synchronized void closed(Runnable close) {
        OPEN.remove(close);
    }

    /**
     * Closes every device open at one of these paths.
     *
     * @return the path of each device closed, once per device
     */
    public static List<String> closeAt(Collection<String> paths) {
        List<Runnable> closing = new ArrayList<>();
        List<String> closed = new ArrayList<>();
        synchronized (OpenDevices.class) {
            for (Map.Entry<Runnable, String> device : OPEN.entrySet()) {
                if (paths.contains(device.getValue())) {
                    closing.add(device.getKey());
                    closed.add(device.getValue());
                }
            }
        }
        // unlocked: a close waits for its device's calls under way, which may register others
        for (Runnable close : closing) {
            close.run();
        }
        return closed;
    }
}
