package com.orvanta.hid.descriptor;

import com.orvanta.hid.HidException;

/**
 * A report descriptor that breaks the HID rules as the Linux kernel applies them: its
 * {@link #reason()} is {@link HidException.Reason#MALFORMED}, and it says where
 * ({@link #offset()}, the byte offset of the item at fault) and what ({@link #problem()}).
 */
public final class ReportDescriptorException extends HidException {
    private static final long serialVersionUID = 1L;

    private final int offset;
    private final String problem;

    ReportDescriptorException(int offset, String problem) {
        super(Reason.MALFORMED, "report descriptor, offset " + offset + ": " + problem);
        this.offset = offset;
        this.problem = problem;
    }

    /** @return the byte offset in the descriptor of the item at fault (its length for what is missing at the end) */
    public int offset() {
        return offset;
    }

    /** @return what is wrong, without the offset */
    public String problem() {
        return problem;
    }
}
