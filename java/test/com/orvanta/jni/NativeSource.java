package com.orvanta.jni;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assertions.fail;

import com.orvanta.jni.exceptions.HIDException;
import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import org.junit.jupiter.api.function.Executable;

/** Where the bridge's source raises each message, to check the location an exception carries. */
final class NativeSource {
    static final String PREFIX = "Java_com_orvanta_jni_HIDClassConnector_";
    private static List<String> lines;

    private NativeSource() {
    }

    private static synchronized List<String> lines() {
        if (lines == null) {
            String source = System.getProperty("portula.bridge.source");
            assertTrue(source != null, "run with -Dportula.bridge.source=<bridge/portula.cpp>");
            try {
                lines = Files.readAllLines(Path.of(source), StandardCharsets.UTF_8);
            } catch (IOException e) {
                throw new UncheckedIOException(e);
            }
        }
        return lines;
    }

    /** The line (1-based) in the body of the C function that raises message. */
    static int lineOf(String cFunction, String message) {
        List<String> src = lines();
        int start = -1;
        for (int i = 0; i < src.size(); i++) {
            if (src.get(i).contains(" " + cFunction + "(") || src.get(i).startsWith(cFunction + "(")) {
                start = i;
                break;
            }
        }
        assertTrue(start >= 0, "no function " + cFunction + " in the bridge");
        for (int i = start + 1; i < src.size() && !src.get(i).startsWith("JNIEXPORT"); i++) {
            if (src.get(i).contains("PORTULA_THROW") && src.get(i).contains("\"" + message + "\"")) {
                return i + 1;
            }
        }
        fail("no throw of \"" + message + "\" in " + cFunction);
        return -1;
    }

    /**
     * Runs call, which must raise message from the entry point whose exported
     * name is PREFIX + entry (thrown under the name reported, defined as cFunction).
     */
    static HIDException assertRaises(String message, String reported, String cFunction, Executable call) {
        HIDException e = assertThrows(HIDException.class, call);
        assertEquals(message, e.getMessage());
        assertEquals(PREFIX + reported, e.getFunction());
        assertEquals("portula.cpp", e.getFile());
        assertEquals(lineOf(PREFIX + cFunction, message), e.getLine(), "line of " + message);
        // the location was set exactly once: one native frame on top of the Java ones
        StackTraceElement[] trace = e.getStackTrace();
        assertEquals("<native>", trace[0].getClassName());
        assertEquals(e.getFunction(), trace[0].getMethodName());
        assertTrue(!"<native>".equals(trace[1].getClassName()));
        return e;
    }

    static HIDException assertRaises(String message, String entry, Executable call) {
        return assertRaises(message, entry, entry, call);
    }
}
