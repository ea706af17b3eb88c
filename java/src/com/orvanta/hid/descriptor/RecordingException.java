package com.orvanta.hid.descriptor;

import com.orvanta.hid.HidException;

/**
 * A recording whose text breaks its format: its {@link #reason()} is
 * {@link HidException.Reason#MALFORMED}, and it says where ({@link #line()}) and what
 * ({@link #problem()}). Nothing of such a recording is kept.
 */
public final class RecordingException extends HidException {
    private static final long serialVersionUID = 1L;

    private final int line;
    private final String problem;

    RecordingException(int line, String problem) {
        super(Reason.MALFORMED, "recording, line " + line + ": " + problem);
        this.line = line;
        this.problem = problem;
    }

    /** @return the number of the line at fault, from 1 (the last line for what is missing at the end) */
    public int line() {
        return line;
    }

    /** @return what is wrong, without the line */
    public String problem() {
        return problem;
    }
}
