package com.orvanta.jni.exceptions;

/**
 * The one exception the native library raises. Besides its message it carries
 * the place in the native code where it was raised: the native function, its
 * source file and line.
 */
public class HIDException extends Exception {
    private static final long serialVersionUID = 1L;

    private String function;
    private String file;
    private int line;
    private String hidapiError;

    /** @param message what failed, in a fixed English text */
    public HIDException(String message) {
        super(message);
    }

    /**
     * Called by the native library, once, before the exception is thrown.
     * The location also becomes the top frame of the stack trace.
     *
     * @param function the exported native function that raised it
     * @param file the native source file
     * @param line the line in that file
     */
    public void __jni_setLocation(String function, String file, int line) {
        this.function = function;
        this.file = file;
        this.line = line;
        StackTraceElement[] trace = getStackTrace();
        StackTraceElement[] withNative = new StackTraceElement[trace.length + 1];
        withNative[0] = new StackTraceElement("<native>", function, file, line);
        System.arraycopy(trace, 0, withNative, 1, trace.length);
        setStackTrace(withNative);
    }

    /** @return the native function that raised this exception, or null if not raised natively */
    public String getFunction() {
        return function;
    }

    /** @return the native source file that raised this exception, or null */
    public String getFile() {
        return file;
    }

    /** @return the line in {@link #getFile()}, or 0 */
    public int getLine() {
        return line;
    }

    /**
     * Called by the native library, where hidapi reported its own text for
     * the failure, before the exception is thrown.
     *
     * @param text hidapi's description of the failure
     */
    public void __jni_setHidapiError(String text) {
        this.hidapiError = text;
    }

    /**
     * @return hidapi's own description of the failure (for example
     *     "Failed to open a device with path '/dev/hidraw3': Permission denied"),
     *     or null where it gave none; it comes beside the message, never in its place
     */
    public String getHidapiError() {
        return hidapiError;
    }

    @Override
    public String toString() {
        String text = super.toString();
        if (hidapiError != null) {
            text += " (hidapi: " + hidapiError + ")";
        }
        if (function == null) {
            return text;
        }
        return text + " [at " + function + " (" + file + ":" + line + ")]";
    }
}
