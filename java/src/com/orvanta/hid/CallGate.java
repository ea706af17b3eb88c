package com.orvanta.hid;

import java.util.concurrent.atomic.AtomicInteger;

/**
 * Lets calls to a listener start until it is closed. Closing waits for no
 * call: one under way may finish, and none starts after.
 */
final class CallGate {
    private static final int IDLE = 0;
    private static final int CALLING = 1;
    private static final int CLOSED = 2;
    private final AtomicInteger state = new AtomicInteger(IDLE);

    /** Whether a call may start now; if so, call {@link #done()} after it. */
    boolean enter() {
        return state.compareAndSet(IDLE, CALLING);
    }

    void done() {
        state.compareAndSet(CALLING, IDLE);
    }

    void close() {
        state.set(CLOSED);
    }

    boolean isClosed() {
        return state.get() == CLOSED;
    }
}
