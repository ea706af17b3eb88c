package com.orvanta.testkit;

import com.orvanta.hid.descriptor.Recording;
import java.util.List;
import java.util.concurrent.TimeUnit;

/**
 * A recording's input reports, played back into the device
 * {@link HidEmulator#replay} plugged in from it: one at a time on the test's
 * request ({@link #next()}), or all that remain on a thread of their own, at
 * the pace they were recorded or as fast as the application reads them
 * ({@link #play(boolean)}). The application reads each exactly as recorded.
 * Its methods may be called from any thread.
 */
public final class Replay {
    private final EmulatedDevice device;
    private final List<Recording.Event> events;
    private int next;   // under this
    private Thread player;   // under this

    Replay(EmulatedDevice device, List<Recording.Event> events) {
        this.device = device;
        this.events = events;
    }

    /** @return the device that plays the recording */
    public EmulatedDevice device() {
        return device;
    }

    /** @return how many of the recording's reports are still to be played */
    public synchronized int remaining() {
        return events.size() - next;
    }

    /**
     * Plays the next report now.
     *
     * @return false when none remains, or when 64 reports wait unread and the device dropped this
     *     one (as the kernel does)
     * @throws IllegalStateException while {@link #play(boolean)} plays, or the device is unplugged
     *     (the report then remains the next)
     */
    public synchronized boolean next() {
        if (player != null && player.isAlive()) {
            throw new IllegalStateException("the recording is playing on a thread of its own");
        }
        if (next == events.size()) {
            return false;
        }
        boolean pushed = device.pushInputReport(events.get(next).report());
        next++;   // not when unplugged: the report is still to come
        return pushed;
    }

    /**
     * Plays every report that remains, on a thread of its own ("portula-replay"), and returns at
     * once. At the recorded pace, each comes as long after the first of them as it did in the
     * recording; else each comes once fewer than 64 wait unread, so that the application, reading
     * as fast as it can, misses none. The thread ends with the last report, when the device is
     * unplugged, or on {@link #stop()}.
     *
     * @param recordedPace true: at the pace of the recording; false: as fast as the application reads
     * @throws IllegalStateException while it already plays
     */
    public synchronized void play(boolean recordedPace) {
        if (player != null && player.isAlive()) {
            throw new IllegalStateException("the recording is playing already");
        }
        player = new Thread(() -> playRest(recordedPace), "portula-replay " + device.path());
        player.setDaemon(true);
        player.start();
    }

    /**
     * Stops {@link #play(boolean)}: returns once its thread has ended, and no report comes after.
     * The reports not played remain, for {@link #next()} or another play. Does nothing when
     * none plays.
     */
    public void stop() {
        Thread playing;
        synchronized (this) {
            playing = player;
        }
        if (playing == null) {
            return;
        }
        playing.interrupt();
        boolean interrupted = false;
        while (playing.isAlive()) {
            try {
                playing.join();
            } catch (InterruptedException e) {
                interrupted = true;   // the caller's interrupt, kept for it
            }
        }
        if (interrupted) {
            Thread.currentThread().interrupt();
        }
    }

    /**
     * Waits for {@link #play(boolean)} to play its last report.
     *
     * @param timeout how long to wait at most
     * @param unit the timeout's unit
     * @return true when no report remains, false when the time ran out first
     * @throws InterruptedException when the waiting thread is interrupted
     */
    public boolean await(long timeout, TimeUnit unit) throws InterruptedException {
        Thread playing;
        synchronized (this) {
            playing = player;
        }
        if (playing != null) {
            playing.join(Math.max(1, java.util.Objects.requireNonNull(unit, "unit").toMillis(timeout)));
        }
        return remaining() == 0;
    }

    private void playRest(boolean recordedPace) {
        long start = System.nanoTime();
        long first = -1;
        while (true) {
            Recording.Event event;
            synchronized (this) {
                // pushes that succeed at once never sleep, so never see an interrupt
                if (next == events.size() || Thread.currentThread().isInterrupted()) {
                    return;
                }
                event = events.get(next);
            }
            try {
                if (recordedPace) {
                    first = first < 0 ? event.micros() : first;
                    long due = start + TimeUnit.MICROSECONDS.toNanos(event.micros() - first);
                    for (long wait = due - System.nanoTime(); wait > 0; wait = due - System.nanoTime()) {
                        TimeUnit.NANOSECONDS.sleep(wait);
                    }
                }
                while (!device.pushInputReport(event.report())) {
                    if (recordedPace) {
                        break;   // dropped, as the kernel drops a 65th unread report
                    }
                    TimeUnit.MILLISECONDS.sleep(1);   // the application has 64 unread: let it read
                }
            } catch (InterruptedException | IllegalStateException stop) {
                return;   // interrupted, or the device unplugged
            }
            synchronized (this) {
                next++;
            }
        }
    }
}
