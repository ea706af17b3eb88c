package com.orvanta.packaging;

import static com.orvanta.packaging.ToolTest.tool;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.File;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/**
 * The tool's recordings on emulated devices, from portula.jar in child JVMs: record (reports
 * pushed while it records; stopped by count, time, Ctrl-C and unplugging), decode, read --decode.
 */
class RecordingToolTest {
    /** The keypad (the harness's second device) as record writes it. */
    private static final List<String> KEYPAD = List.of(
            "R: 33 06 00 ff 09 01 a1 01 15 00 26 ff 00 75 08 95 40 09 01 81 02 95 40 09 01 91 02 95 40 09 01 b1 02 c0",
            "N: Orvanta Labs Keypad \u00e9 \u4e2d\u6587",
            "P: usb-0000:00:14.0-2/input0",
            "I: 3 1209 0002");

    @TempDir
    Path temp;

    private static List<String> with(List<String> header, String... events) {
        List<String> lines = new ArrayList<>(header);
        lines.addAll(List.of(events));
        return lines;
    }

    /** The lines of a recording that the tool printed among the harness's own. */
    private static List<String> recordingLines(ChildJvm child) {
        List<String> lines = new ArrayList<>();
        for (String line : child.out.split("\n")) {
            if (line.matches("[A-Z]: .*")) {
                lines.add(line);
            }
        }
        return lines;
    }

    @Test
    void recordWritesTheDeviceThenEachReportAsItComesUntilCountOrTime() throws Exception {
        Path file = temp.resolve("keypad.hid");
        // one report queued before, one pushed while it records
        ChildJvm counted = tool("--push", "keypad:0102", "--push-later", "400", "keypad:0a0b0c", "record", "@keypad@",
                "--count", "2", "--out", file.toString());
        assertEquals(0, counted.exit, counted.all());
        List<String> lines = Files.readAllLines(file, StandardCharsets.UTF_8);
        assertEquals(with(KEYPAD, "E: 000000.000000 2 01 02"), lines.subList(0, 5), counted.all());
        assertEquals(6, lines.size(), lines.toString());
        assertTrue(lines.get(5).matches("E: 00000[0-9]\\.[0-9]{6} 3 0a 0b 0c") && !lines.get(5).startsWith(
                "E: 000000.000000"), lines.get(5));
        assertTrue(Files.readString(file).endsWith("0c\n"));

        // to standard output, for a second: the report pushed within it, and then it stops by itself
        ChildJvm timed = tool("--push-later", "300", "keypad:07", "record", "@keypad@", "--seconds", "1");
        assertEquals(0, timed.exit, timed.all());
        assertEquals(with(KEYPAD, "E: 000000.000000 1 07"), recordingLines(timed), timed.all());

        // the file made is one that decode reads
        ChildJvm decoded = tool("decode", file.toString());
        assertEquals(0, decoded.exit, decoded.all());
        assertTrue(decoded.out.startsWith("000000.000000 input report 0: 0xff00 / 0x0001 = 1 2 absent absent "),
                decoded.all());
    }

    @Test
    void aRecordingEndsCompleteWhenTheDeviceGoesOrUsageIsWrong() throws Exception {
        Path file = temp.resolve("gone.hid");
        ChildJvm gone = tool("--push", "keypad:01", "--unplug-later", "500", "keypad", "record", "@keypad@", "--out",
                file.toString());
        assertEquals(1, gone.exit, gone.all());
        assertTrue(gone.err.startsWith("portula record: /dev/hidraw1 is gone: the device was unplugged\n"), gone.all());
        assertEquals(with(KEYPAD, "E: 000000.000000 1 01"), Files.readAllLines(file, StandardCharsets.UTF_8));

        // a device that cannot be opened leaves no file; a file that cannot be written says so
        Path never = temp.resolve("never.hid");
        ChildJvm missing = tool("record", "/dev/hidraw-none", "--out", never.toString());
        assertEquals(1, missing.exit, missing.all());
        assertFalse(Files.exists(never));
        ChildJvm unwritable = tool("record", "@keypad@", "--out", temp.toString());
        assertEquals(1, unwritable.exit, unwritable.all());
        assertTrue(unwritable.err.startsWith("portula record: " + temp + ": "), unwritable.all());

        for (String[] args : new String[][] {{"record"}, {"record", "@keypad@", "--seconds", "1", "--count", "2"},
            {"record", "@keypad@", "--count", "0"}, {"record", "@keypad@", "--out"}}) {
            ChildJvm bad = tool(args);
            assertEquals(2, bad.exit, bad.all());
            assertTrue(bad.err.contains("usage: java -jar portula.jar record PATH"), bad.all());
        }
    }

    @Test
    void ctrlCEndsARecordingCompleteAndFlushed() throws Exception {
        Path file = temp.resolve("interrupted.hid");
        Path output = temp.resolve("child.txt");
        List<String> command = new ArrayList<>(List.of(
                // a JVM leaves SIGINT ignored where its parent did (a shell's background job):
                // env gives it the default a terminal's Ctrl-C finds
                "env", "--default-signal=INT", ChildJvm.property("portula.java.emulated"), "-Xcheck:jni",
                "-Djava.library.path=" + ChildJvm.property("portula.testbed.dir"),
                "-Djava.io.tmpdir=" + System.getProperty("java.io.tmpdir"), "-cp",
                String.join(File.pathSeparator, ChildJvm.property("portula.jar"),
                        ChildJvm.property("portula.testbed.jar"), ChildJvm.harnessJar()),
                ToolHarness.class.getName(), "tool", "--push-later", "100", "keypad:0102", "--push-later", "300",
                "keypad:0304", "record", "@keypad@", "--out", file.toString()));
        Process child = new ProcessBuilder(command).redirectErrorStream(true).redirectOutput(output.toFile()).start();
        try {
            long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(120);
            while (events(file) < 2 && child.isAlive() && System.nanoTime() < deadline) {
                Thread.sleep(20);
            }
            assertEquals(2, events(file), Files.readString(output));
            assertEquals(0, new ProcessBuilder("kill", "-INT", Long.toString(child.pid())).start().waitFor());
            assertTrue(child.waitFor(60, TimeUnit.SECONDS), "the recording did not stop on SIGINT");
        } finally {
            child.destroyForcibly();
        }
        String said = Files.readString(output);
        assertEquals(130, child.exitValue(), said);   // the VM's exit on SIGINT, after its shutdown hooks
        assertFalse(said.contains("portula record:") || said.contains("WARNING") || said.contains("Exception"), said);
        List<String> lines = Files.readAllLines(file, StandardCharsets.UTF_8);
        assertEquals(with(KEYPAD, "E: 000000.000000 2 01 02"), lines.subList(0, 5));
        assertEquals(6, lines.size(), lines.toString());
        assertTrue(lines.get(5).matches("E: 00000[0-9]\\.[0-9]{6} 2 03 04"), lines.get(5));
        assertTrue(Files.readString(file).endsWith("04\n"));
    }

    private static long events(Path file) throws Exception {
        return Files.exists(file) ? Files.readAllLines(file).stream().filter(l -> l.startsWith("E: ")).count() : 0;
    }

    @Test
    void decodePrintsEachReportByNameWithItsTime() throws Exception {
        String mouse = "R: 52 " + ToolTest.MOUSE + "\n";
        String keyboard = "R: 35 05 01 09 06 a1 01 05 07 19 e0 29 e7 15 00 25 01 75 01 95 08 81 02 95 06 75 08 25 65"
                + " 19 00 29 65 81 00 c0\n";
        Path one = Files.writeString(temp.resolve("mouse.hid"), "# a mouse\n" + mouse + "N: Mouse\nB: 1\n"
                + "E: 000000.000000 4 01 05 fd 00\nE: 000001.000250 2 00 ff\n", StandardCharsets.UTF_8);
        ChildJvm decoded = tool("decode", one.toString());
        assertEquals(0, decoded.exit, decoded.all());
        String names = "input report 0: Buttons / Button 1 (Primary) = %s, Buttons / Button 2 (Secondary) = 0,"
                + " Buttons / Button 3 (Tertiary) = 0, Generic Desktop Controls / Direction-X = %s,"
                + " Generic Desktop Controls / Direction-Y = %s, Generic Desktop Controls / Wheel = %s";
        // a report cut short: what it lacks is absent
        assertEquals("000000.000000 " + String.format(names, 1, 5, -3, 0) + "\n000001.000250 "
                + String.format(names, 0, -1, "absent", "absent") + "\n", decoded.out, decoded.all());
        assertEquals("portula decode: " + one + ": line 4: B: lines skipped\n", decoded.err, decoded.all());

        // two devices: each picked by its number; an array's keys held down in []
        Path two = Files.writeString(temp.resolve("two.hid"), "D: 0\n" + keyboard + "D: 1\n" + mouse
                + "D: 0\nE: 0.000000 7 02 00 04 00 00 00 00\nD: 1\nE: 0.100000 4 00 00 00 01\n");
        ChildJvm first = tool("decode", "--device", "0", two.toString());
        assertEquals(0, first.exit, first.all());
        assertTrue(first.out.startsWith("000000.000000 input report 0: Keyboard / Control Left = 0, Keyboard / Shift"
                + " Left = 1, "), first.all());
        assertTrue(first.out.endsWith(", [Keyboard / A]\n"), first.all());
        ChildJvm second = tool("decode", two.toString(), "--device", "1");
        assertEquals("000000.100000 " + String.format(names, 0, 0, 0, 1) + "\n", second.out, second.all());
        ChildJvm both = tool("decode", two.toString());
        assertEquals(1, both.exit, both.all());
        assertEquals("portula decode: " + two + ": line 3: a second device (D: 1 after device 0): this recording"
                + " holds several, so pick one with --device N\n", both.err, both.all());
        ChildJvm described = tool("descriptor", two.toString());
        assertEquals("portula descriptor: " + two + ": line 3: a second device (D: 1 after device 0): this"
                + " recording holds several, so pick one with --device N\n", described.err, described.all());
        ChildJvm mouseOnly = tool("descriptor", "--device", "1", two.toString());
        assertEquals(0, mouseOnly.exit, mouseOnly.all());
        assertTrue(mouseOnly.out.startsWith("== " + two + ": 52 bytes"), mouseOnly.all());

        // an array whose selectors are too wide to look up: its bytes
        Path wide = Files.writeString(temp.resolve("wide.hid"), "R: 16 05 09 19 01 29 04 15 01 25 04 75 48 95 01"
                + " 81 00\nE: 0.000000 9 03 00 00 00 00 00 00 00 01\n");
        ChildJvm wideDecoded = tool("decode", wide.toString());
        assertEquals("000000.000000 input report 0: [bytes 03 00 00 00 00 00 00 00 01]\n", wideDecoded.out,
                wideDecoded.all());

        // what it cannot decode fails with where, and exit code 1
        Path bad = Files.writeString(temp.resolve("bad.hid"), mouse + "E: 0.0 4 01 02 03\n");
        Path badDescriptor = Files.writeString(temp.resolve("bad-descriptor.hid"), "R: 3 05 01 c0\n");
        String[][] failures = {
            {bad.toString(), "portula decode: " + bad + ": line 2: E: says 4 bytes, but 3 follow\n"},
            {badDescriptor.toString(), "portula decode: " + badDescriptor
                    + ": its report descriptor, offset 2: End Collection without Collection\n"},
            {temp.resolve("none.hid").toString(), "portula decode: " + temp.resolve("none.hid") + ": no such file\n"},
            {temp.toString(), "portula decode: " + temp + ": not a regular file\n"},
        };
        for (String[] f : failures) {
            ChildJvm failed = tool("decode", f[0]);
            assertEquals(1, failed.exit, failed.all());
            assertEquals(f[1], failed.err, failed.all());
        }
        for (String[] args : new String[][] {{"decode"}, {"decode", "--device", "x", one.toString()}}) {
            assertEquals(2, tool(args).exit, String.join(" ", args));
        }
    }

    @Test
    void readDecodePrintsOneReportByName() throws Exception {
        StringBuilder report = new StringBuilder();
        StringBuilder values = new StringBuilder();
        for (int i = 1; i <= 64; i++) {
            report.append(String.format("%02x", i));
            values.append(' ').append(i);
        }
        ChildJvm read = tool("--push", "keypad:" + report, "read", "--decode", "@keypad@");
        assertEquals(0, read.exit, read.all());
        assertEquals("input report 0: 0xff00 / 0x0001 =" + values + "\n", read.out, read.all());
        // the options after the path, as for read itself
        ChildJvm nothing = tool("read", "@keypad@", "--decode", "--timeout", "100");
        assertEquals(1, nothing.exit, nothing.all());
        assertTrue(nothing.err.startsWith("portula read: no input report from /dev/hidraw1 within 100 ms"),
                nothing.all());
        ChildJvm withLength = tool("read", "--decode", "@keypad@", "4");
        assertEquals(2, withLength.exit, withLength.all());
        assertTrue(withLength.err.startsWith("portula read: --decode expects a path alone"), withLength.all());
    }
}
