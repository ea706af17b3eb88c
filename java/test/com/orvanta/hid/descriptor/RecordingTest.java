package com.orvanta.hid.descriptor;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.orvanta.hid.HidException;
import java.io.InputStreamReader;
import java.io.Reader;
import java.io.StringReader;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import org.junit.jupiter.api.Test;

/** The recorders' text: samples of each tool's, every line kind and spelling, every malformed case, round trips. */
class RecordingTest {
    static final byte[] MOUSE = DecodeTest.bytes(0x05, 0x01, 0x09, 0x02, 0xa1, 0x01, 0x09, 0x01, 0xa1, 0x00, 0x05,
            0x09, 0x19, 0x01, 0x29, 0x03, 0x15, 0x00, 0x25, 0x01, 0x95, 0x03, 0x75, 0x01, 0x81, 0x02, 0x95, 0x01,
            0x75, 0x05, 0x81, 0x01, 0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x09, 0x38, 0x15, 0x81, 0x25, 0x7f, 0x75,
            0x08, 0x95, 0x03, 0x81, 0x06, 0xc0, 0xc0);
    static final byte[] KEYBOARD = DecodeTest.bytes(0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x05, 0x07, 0x19, 0xE0, 0x29,
            0xE7, 0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0x95, 0x06, 0x75, 0x08, 0x25, 0x65,
            0x19, 0x00, 0x29, 0x65, 0x81, 0x00, 0xC0);

    static Recording read(String text) throws Exception {
        return Recording.read(new StringReader(text));
    }

    private static Reader sample(String name) {
        return new InputStreamReader(RecordingTest.class.getResourceAsStream("recordings/" + name),
                StandardCharsets.UTF_8);
    }

    private static Recording.Event event(long micros, int... bytes) {
        return new Recording.Event(micros, DecodeTest.bytes(bytes));
    }

    private static String written(Recording recording) throws Exception {
        StringBuilder text = new StringBuilder();
        recording.write(text);
        return text.toString();
    }

    @Test
    void samplesOfEachRecordersTextRead() throws Exception {
        // the classic recorder: the descriptor dumped in comments, decoded comments before each event
        Recording mouse = Recording.read(sample("mouse.hid"));
        assertArrayEquals(MOUSE, mouse.descriptor());
        assertEquals("Orvanta Labs Mouse", mouse.name());
        assertEquals("usb-0000:00:14.0-3/input0", mouse.physicalPath());
        assertEquals(List.of(3, 0x1209, 0x0001), List.of(mouse.bus(), mouse.vendorId(), mouse.productId()));
        assertEquals(List.of(event(0, 1, 0, 0, 0), event(183_949, 0, 0, 0, 0), event(1_959_698, 0, 5, 0xfd, 0),
                event(2_103_899, 0, 0, 0, 0xff)), mouse.events());
        assertEquals(List.of(), mouse.warnings());
        ReportValues values = ReportDescriptor.parse(mouse.descriptor()).decodeInput(mouse.events().get(2).report());
        assertEquals(-3, values.get(Usages.of(0x01, 0x31)));

        // the newer recorder: D: 0 even for one device, seconds unpadded; a Bluetooth bus
        Recording keyboard = Recording.read(sample("keyboard-bluetooth.hid"));
        assertArrayEquals(KEYBOARD, keyboard.descriptor());
        assertEquals(List.of(5, 0x1209, 0x8002), List.of(keyboard.bus(), keyboard.vendorId(), keyboard.productId()));
        assertEquals("00:1a:7d:da:71:13", keyboard.physicalPath());
        assertEquals(List.of(0L, 95_311L, 2_000_004L), times(keyboard));
        assertEquals(keyboard, Recording.read(sample("keyboard-bluetooth.hid"), 0));

        // two devices with D: and B: lines: refused at the second device unless one is picked
        RecordingException several = assertThrows(RecordingException.class,
                () -> Recording.read(sample("two-devices.hid")));
        assertEquals(7, several.line(), several.getMessage());
        assertTrue(several.problem().startsWith("a second device (D: 1 after device 0)"), several.getMessage());
        Recording first = Recording.read(sample("two-devices.hid"), 0);
        assertArrayEquals(KEYBOARD, first.descriptor());
        assertEquals("Orvanta Labs Receiver Keyboard", first.name());
        assertEquals(List.of(0L, 120_000L), times(first));
        assertEquals(List.of("line 13: B: lines skipped"), first.warnings());
        Recording second = Recording.read(sample("two-devices.hid"), 1);
        assertArrayEquals(MOUSE, second.descriptor());
        assertEquals("usb-0000:00:14.0-4/input1", second.physicalPath());
        assertEquals(List.of(event(10_000, 0, 5, 0xfd, 0), event(130_000, 1, 0, 0, 0)), second.events());
        RecordingException none = assertThrows(RecordingException.class,
                () -> Recording.read(sample("two-devices.hid"), 2));
        assertEquals("no device 2 in the recording", none.problem());
        assertEquals(21, none.line());
    }

    private static List<Long> times(Recording recording) {
        List<Long> times = new ArrayList<>();
        for (Recording.Event e : recording.events()) {
            times.add(e.micros());
        }
        return times;
    }

    @Test
    void everyLineKindInEachSpellingTheFormatAllows() throws Exception {
        Recording r = read("  # a comment, indented\r\n"
                + "\r\n"
                + "\t\r\n"
                + "N: Caf\u00e9 Mouse  \r\n"           // the rest of the line, trailing spaces and all
                + "R: 3 5 01\t0A   \r\n"               // bytes of one digit, tabs, capitals, trailing blanks
                + "P:\r\n"                              // an empty path
                + "x: skipped\r\n"
                + "I: 0018 1209 1 \r\n"                 // zero-padded or not
                + "E: 0.0 1 ff\r\n"
                + "E: 000001.5 2 00 01  \r\n"          // 1 s and 5 microseconds
                + "  E: 12.123456 1 7\r\n"
                + "B: 1\r\n"
                + "x: again\r\n"
                + "E:\t3.000010\t1\t80");               // no newline at the end
        assertArrayEquals(DecodeTest.bytes(5, 1, 10), r.descriptor());
        assertEquals("Caf\u00e9 Mouse  ", r.name());
        assertEquals("", r.physicalPath());
        assertEquals(List.of(0x18, 0x1209, 1), List.of(r.bus(), r.vendorId(), r.productId()));
        assertEquals(List.of(event(0, 0xff), event(1_000_005, 0, 1), event(12_123_456, 7), event(3_000_010, 0x80)),
                r.events());
        assertEquals(List.of("line 7: x: lines skipped", "line 12: B: lines skipped"), r.warnings());

        // another recorder's lines belong to no device: one device, first named by D:
        assertEquals(List.of("line 1: B: lines skipped"), read("B: 1\nD: 1\nR: 1 c0\n").warnings());

        // N:, P:, I: are optional; a descriptor alone is a recording
        Recording bare = read("R: 1 c0\n");
        assertNull(bare.name());
        assertNull(bare.physicalPath());
        assertEquals(List.of(-1, -1, -1), List.of(bare.bus(), bare.vendorId(), bare.productId()));
        assertEquals(List.of(), bare.events());
    }

    @Test
    void malformedRecordingsFailAtTheirLineAndKeepNothing() throws Exception {
        String r = "R: 1 05\n";
        String good = r + String.join("", Collections.nCopies(500, "E: 0.000001 2 01 02\n"));
        Object[][] cases = {
            {"R: 3 05 01", 1, "R: says 3 bytes, but 2 follow"},
            {"R: 2 05 0g", 1, "'0g' is not a byte in hex"},
            {"R: 2 05 101", 1, "'101' is not a byte in hex"},
            {"R: 2 05 -1", 1, "'-1' is not a byte in hex"},
            {"R: 2 \u0660\u0661 05", 1, "'\u0660\u0661' is not a byte in hex"},   // Arabic-Indic digits
            {"R: 2 05 \uff21\uff22", 1, "'\uff21\uff22' is not a byte in hex"},   // fullwidth letters
            {"R: x 05", 1, "R: takes a length in decimal, then that many bytes in hex"},
            {"R:", 1, "R: takes a length in decimal, then that many bytes in hex"},
            {"R: 0", 1, "R: takes 1 to 4096 bytes, not 0"},
            {"R: 4097 00", 1, "R: takes 1 to 4096 bytes, not 4097"},
            {r + "R: 1 05", 2, "a second R: line for the device"},
            {r + "N: a\nN: b", 3, "a second N: line for the device"},
            {r + "P: a\nP: b", 3, "a second P: line for the device"},
            {r + "I: 3 1 1\nI: 3 1 1", 3, "a second I: line for the device"},
            {r + "E: 0.000001 2 01", 2, "E: says 2 bytes, but 1 follow"},
            {r + "E: 0.000001 1 01 02", 2, "E: says 1 bytes, but 2 follow"},
            {r + "E: 0.000001 1 zz", 2, "'zz' is not a byte in hex"},
            {r + "E: 0.0 0", 2, "E: takes 1 to 16384 bytes, not 0"},
            {r + "E: 0.0 16385 00", 2, "E: takes 1 to 16384 bytes, not 16385"},
            {r + "E: 1.1234567 1 00", 2, "E: takes a time, seconds.microseconds (1 to 6 digits), then a length and bytes"},
            {r + "E: 1 1 00", 2, "E: takes a time, seconds.microseconds (1 to 6 digits), then a length and bytes"},
            {r + "E: -1.0 1 00", 2, "E: takes a time, seconds.microseconds (1 to 6 digits), then a length and bytes"},
            {r + "E: 0.5", 2, "E: takes a length in decimal, then that many bytes in hex"},
            {"# the descriptor comes later\nE: 0.0 1 00\n" + r, 2, "an event before the device's R: line"},
            {"N: x\nI: 3 1209 0001\n", 2, "no R: line: a recording starts with the report descriptor"},
            {"", 1, "no R: line: a recording starts with the report descriptor"},
            {"# nothing but comments\n\n", 2, "no R: line: a recording starts with the report descriptor"},
            {r + "I: 3 1209", 2, "I: takes bus, vendor and product in hex"},
            {r + "I: 3 1209 00g1", 2, "I: takes bus, vendor and product in hex"},
            {r + "I: 3 1209 10000", 2, "I: takes numbers of 0 to ffff, not 10000"},
            {r + "I: ffffffff 1 2", 2, "I: takes numbers of 0 to ffff, not ffffffff"},
            {r + "I: 3 80000000 2", 2, "I: takes numbers of 0 to ffff, not 80000000"},
            {r + "hello", 2, "not a recording line (a letter and a colon, or # for a comment)"},
            {r + ": 1", 2, "not a recording line (a letter and a colon, or # for a comment)"},
            {r + "\u00e9: 1", 2, "not a recording line (a letter and a colon, or # for a comment)"},
            {r + "D: one", 2, "D: takes a device number in decimal, not 'one'"},
            {r + "D: 1\nR: 1 06", 2, "a second device (D: 1 after device 0): this recording holds several, so read it"
                    + " with one picked"},
            // a fault at the end of a long recording: nothing of it is kept
            {good + "E: 9.0 1 0x", 502, "'0x' is not a byte in hex"},
        };
        for (Object[] c : cases) {
            String text = (String) c[0];
            RecordingException e = assertThrows(RecordingException.class, () -> read(text), text);
            assertEquals(HidException.Reason.MALFORMED, e.reason());
            assertEquals(c[2], e.problem(), text);
            assertEquals(c[1], e.line(), text);
            assertEquals("recording, line " + c[1] + ": " + c[2], e.getMessage());
        }
        // a picked device's text is checked whole: the others' lines too
        RecordingException other = assertThrows(RecordingException.class,
                () -> Recording.read(new StringReader("D: 0\nR: 1 05\nD: 1\nE: 0.0 1 zz\n"), 0));
        assertEquals(4, other.line());
        assertEquals(500, read(good).events().size());
    }

    @Test
    void writtenThenReadGivesAnEqualValue() throws Exception {
        byte[] longest = new byte[16384];
        Arrays.fill(longest, (byte) 0xa5);
        Recording recording = new Recording(MOUSE, "Orvanta \u00e9 Mouse ", "usb-0000:00:14.0-3/input0", 0x18,
                0x1209, 0x8001, List.of(event(0, 1, 0, 0, 0), event(999_999, 0, 0, 0, 0xff),
                new Recording.Event(1_000_000_000_001L, longest)));
        String text = written(recording);
        assertTrue(text.startsWith("R: 52 05 01 09 02 a1 01 09 01 a1 00 05 09 19 01 29 03 15 00 25 01 95 03 75 01 81"
                + " 02 95 01 75 05 81 01 05 01 09 30 09 31 09 38 15 81 25 7f 75 08 95 03 81 06 c0 c0\n"
                + "N: Orvanta \u00e9 Mouse \n"
                + "P: usb-0000:00:14.0-3/input0\n"
                + "I: 18 1209 8001\n"
                + "E: 000000.000000 4 01 00 00 00\n"
                + "E: 000000.999999 4 00 00 00 ff\n"
                + "E: 1000000.000001 16384 a5 a5 "), text.substring(0, 400));
        assertTrue(text.endsWith(" a5\n"));
        Recording back = read(text);
        assertEquals(recording, back);
        assertEquals(recording.hashCode(), back.hashCode());
        assertEquals(text, written(back));

        // optional lines stay out, and out again
        Recording bare = new Recording(new byte[] {(byte) 0xc0}, null, null, -1, -1, -1, List.of());
        assertEquals("R: 1 c0\n", written(bare));
        assertEquals(bare, read(written(bare)));
        // a recording read with warnings equals the same one written without
        for (String name : new String[] {"mouse.hid", "keyboard-bluetooth.hid"}) {
            Recording sample = Recording.read(sample(name));
            assertEquals(sample, read(written(sample)), name);
        }
        Recording first = Recording.read(sample("two-devices.hid"), 0);
        assertEquals(first, read(written(first)));
        assertNotEquals(first, Recording.read(sample("two-devices.hid"), 1));
        assertEquals("recording of \"Orvanta Labs Receiver Keyboard\", bus 3 1209:0003: a descriptor of 35 bytes,"
                + " 2 events", first.toString());
    }

    @Test
    void valuesRefuseWhatTheirTextCannotHold() throws Exception {
        List<Recording.Event> none = List.of();
        assertThrows(NullPointerException.class, () -> new Recording(null, null, null, -1, -1, -1, none));
        assertThrows(NullPointerException.class, () -> new Recording(MOUSE, null, null, -1, -1, -1, null));
        assertThrows(NullPointerException.class,
                () -> new Recording(MOUSE, null, null, -1, -1, -1, Arrays.asList((Recording.Event) null)));
        assertThrows(NullPointerException.class, () -> new Recording.Event(0, null));
        assertThrows(NullPointerException.class, () -> Recording.read(null));
        assertThrows(NullPointerException.class, () -> Recording.read(null, 0));
        assertThrows(NullPointerException.class, () -> read("R: 1 c0").write(null));
        for (Runnable bad : new Runnable[] {
            () -> new Recording(new byte[0], null, null, -1, -1, -1, none),
            () -> new Recording(new byte[4097], null, null, -1, -1, -1, none),
            () -> new Recording(MOUSE, "two\nlines", null, -1, -1, -1, none),
            () -> new Recording(MOUSE, null, "a\rb", -1, -1, -1, none),
            () -> new Recording(MOUSE, null, null, 3, -1, -1, none),
            () -> new Recording(MOUSE, null, null, -1, 0x1209, 1, none),
            () -> new Recording(MOUSE, null, null, 0x10000, 1, 1, none),
            () -> new Recording(MOUSE, null, null, 3, 1, -2, none),
            () -> new Recording.Event(-1, new byte[1]),
            () -> new Recording.Event(0, new byte[0]),
            () -> new Recording.Event(0, new byte[16385]),
        }) {
            assertThrows(IllegalArgumentException.class, bad::run);
        }
        assertThrows(IllegalArgumentException.class, () -> Recording.read(new StringReader("R: 1 c0"), -1));

        // what it hands out is its own
        byte[] descriptor = MOUSE.clone();
        byte[] report = {1, 2};
        List<Recording.Event> events = new ArrayList<>(List.of(new Recording.Event(0, report)));
        Recording r = new Recording(descriptor, null, null, -1, -1, -1, events);
        descriptor[0] = 0;
        report[0] = 0;
        events.clear();
        r.descriptor()[1] = 0;
        r.events().get(0).report()[1] = 0;
        assertArrayEquals(MOUSE, r.descriptor());
        assertArrayEquals(new byte[] {1, 2}, r.events().get(0).report());
        assertThrows(UnsupportedOperationException.class, () -> r.events().clear());
        assertThrows(UnsupportedOperationException.class, () -> read("B: 1\nR: 1 c0").warnings().clear());
    }
}
