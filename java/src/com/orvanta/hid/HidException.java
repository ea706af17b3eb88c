package com.orvanta.hid;

import com.orvanta.jni.exceptions.HIDException;

/**
 * A failure of the device or the system, as this API reports it. It is an
 * {@link HIDException}, so one catch handles every failure of the library;
 * {@link #reason()} tells them apart. A caller's own mistake (a null or bad
 * argument, a call the object's state forbids) is an unchecked exception
 * instead, as in the JDK's own I/O. Where the
 * failure was raised in native code, the exception carries that place (its
 * top stack frame, {@link #getFunction()}, {@link #getFile()},
 * {@link #getLine()}) and the native exception as its cause; where hidapi
 * described it, its text is {@link #getHidapiError()}. A timeout is never an
 * exception.
 */
public class HidException extends HIDException {
    private static final long serialVersionUID = 1L;

    /** What went wrong, to act on. */
    public enum Reason {
        /** No device at that path, or none with those IDs (and serial number). */
        NOT_FOUND,
        /** The device exists, but this user may not open it: see the message for the udev rule. */
        PERMISSION_DENIED,
        /** The device was unplugged; open it again once it is back. */
        DEVICE_GONE,
        /** The {@link HidDevice} was closed (by this thread or another). */
        CLOSED,
        /**
         * Never thrown since 2.0: a bad argument is a {@link NullPointerException},
         * {@link IndexOutOfBoundsException} or {@link IllegalArgumentException}.
         */
        @Deprecated
        BAD_ARGUMENT,
        /**
         * Never thrown since 2.0: a read while a listener is set is an
         * {@link IllegalStateException}, and a read that waits for another
         * thread's ends, at worst, with its timeout.
         */
        @Deprecated
        BUSY,
        /** The waiting thread was interrupted; its interrupt status stays set. */
        INTERRUPTED,
        /** The platform's HID driver cannot do this (hidraw reads no indexed strings). */
        UNSUPPORTED,
        /** The device or its driver refused the request: see {@link #getHidapiError()}. */
        IO,
        /**
         * Data from a device, or from a file of one, breaks the HID rules (a report descriptor, a
         * recording): the message says what and where.
         */
        MALFORMED,
    }

    private final Reason reason;

    /** For the library's own subclasses, such as the one for malformed device data. */
    protected HidException(Reason reason, String message) {
        super(message);
        this.reason = reason;
    }

    /** A failure raised in native code: keeps its place, and hidapi's text where there is one. */
    HidException(Reason reason, String message, HIDException nativeFailure, String hidapiText) {
        super(message);
        this.reason = reason;
        initCause(nativeFailure);
        if (nativeFailure.getFunction() != null) {
            __jni_setLocation(nativeFailure.getFunction(), nativeFailure.getFile(), nativeFailure.getLine());
        }
        if (hidapiText != null && !hidapiText.isEmpty() && !hidapiText.equals("Success")) {
            __jni_setHidapiError(hidapiText);
        }
    }

    /** @return what went wrong */
    public Reason reason() {
        return reason;
    }
}
