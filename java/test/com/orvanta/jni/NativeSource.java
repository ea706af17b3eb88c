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
            lines = read("portula.cpp");
        }
        return lines;
    }

    /** A source file of the bridge, beside portula.cpp. */
    private static List<String> read(String file) {
        String source = System.getProperty("portula.bridge.source");
        assertTrue(source != null, "run with -Dportula.bridge.source=<bridge/portula.cpp>");
        try {
            return Files.readAllLines(Path.of(source).resolveSibling(file), StandardCharsets.UTF_8);
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    /**
     * Runs call, which must raise message from HIDNatives' native method
     * (the JNI name's part after the class, such as "_1hid_1error"), at a line
     * of file that raises it.
     */
    static HIDException assertRaisesIn(String file, String message, String method, Executable call) {
        HIDException e = assertThrows(HIDException.class, call);
        assertEquals(message, e.getMessage());
        assertEquals("Java_com_orvanta_jni_HIDNatives_" + method, e.getFunction());
        assertEquals(file, e.getFile());
        List<String> source = read(file);
        // a throw, of this message or of one its caller names (a shared helper)
        assertTrue(source.get(e.getLine() - 1).contains("PORTULA_THROW"), file + ":" + e.getLine());
        assertTrue(source.stream().anyMatch(l -> l.contains("\"" + message + "\"")), message + " in " + file);
        return e;
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
