package com.orvanta.packaging;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.regex.Pattern;
import org.junit.jupiter.api.Test;

/**
 * The command-line tool on emulated devices (echo 1209:ec40, keypad 1209:0002,
 * bare 16c0:05df without names), run from portula.jar in a child JVM.
 */
class ToolTest {
    private static final Pattern NATIVE_LOCATION =
            Pattern.compile("\n  at Java_com_orvanta_jni_HIDClassConnector_\\S+ \\(\\S*portula\\.cpp:[1-9][0-9]*\\)\n");

    static ChildJvm tool(String... args) throws Exception {
        List<String> all = new ArrayList<>(List.of("tool"));
        all.addAll(List.of(args));
        return JarTest.harness(ChildJvm.property("portula.java.emulated"), ChildJvm.property("portula.jar"),
                ChildJvm.property("portula.testbed.dir"), System.getProperty("java.io.tmpdir"),
                all.toArray(new String[0]));
    }

    /** The three emulated devices in a table with aligned columns, in any order. */
    static void assertTable(ChildJvm child) {
        String[] lines = child.out.split("\n");
        assertTrue(lines[0].matches("PATH +VID:PID +MANUFACTURER +PRODUCT"), child.all());
        int vidColumn = lines[0].indexOf("VID:PID");
        int productColumn = lines[0].indexOf("PRODUCT");
        List<String> rows = new ArrayList<>();
        for (int i = 1; i < lines.length; i++) {
            String line = lines[i];
            assertTrue(line.startsWith("/dev/hidraw"), child.all());
            assertTrue(line.substring(vidColumn).matches("[0-9a-f]{4}:[0-9a-f]{4}  .*"), child.all());
            assertTrue(line.charAt(productColumn - 1) == ' ' && line.charAt(productColumn) != ' ', child.all());
            rows.add(line.substring(vidColumn).replaceAll(" {2,}", "|"));
        }
        rows.sort(null);
        assertEquals(List.of("1209:0002|Orvanta Labs|Keypad \u00e9 \u4e2d\u6587", "1209:ec40|Orvanta Labs|Echo",
                "16c0:05df|-|-"), rows, child.all());
    }

    @Test
    void namesArriveWholeInACLocale() throws Exception {
        ChildJvm list = JarTest.harnessIn(Map.of("LC_ALL", "C"), ChildJvm.property("portula.java.emulated"),
                ChildJvm.property("portula.jar"), ChildJvm.property("portula.testbed.dir"),
                System.getProperty("java.io.tmpdir"), "tool", "list");
        assertEquals(0, list.exit, list.all());
        assertTable(list);
    }

    @Test
    void listFiltersByVendorAndProduct() throws Exception {
        ChildJvm byVendor = tool("list", "--vid", "16C0");
        assertEquals(0, byVendor.exit, byVendor.all());
        assertEquals(2, byVendor.out.split("\n").length, byVendor.all());
        assertTrue(byVendor.out.contains(" 16c0:05df  -"), byVendor.all());

        ChildJvm both = tool("list", "--vid", "0x1209", "--pid", "ec40");
        assertEquals(0, both.exit, both.all());
        assertEquals(2, both.out.split("\n").length, both.all());
        assertTrue(both.out.contains(" 1209:ec40  Orvanta Labs  Echo"), both.all());

        ChildJvm none = tool("list", "--pid", "beef");
        assertEquals(0, none.exit, none.all());
        assertEquals(1, none.out.split("\n").length, none.all());

        ChildJvm bad = tool("list", "--vid", "12345");
        assertEquals(2, bad.exit, bad.all());
        assertTrue(bad.err.startsWith("portula list: '12345' is not a hex ID"), bad.all());
        assertTrue(bad.err.contains("usage: java -jar portula.jar list"), bad.all());
    }

    @Test
    void openChecksADeviceAndReportsTheNativeLocationOfAFailure() throws Exception {
        ChildJvm ok = tool("open", "1209:EC40");
        assertEquals(0, ok.exit, ok.all());
        assertEquals("opened 1209:ec40\n", ok.out, ok.all());

        ChildJvm missing = tool("open", "1209:dead");
        assertEquals(1, missing.exit, missing.all());
        assertEquals("portula open: no HID device 1209:dead\n", missing.err, missing.all());
        // a failure raised natively says where, and what hidapi said
        ChildJvm gone = tool("write", "/dev/hidraw-none", "00", "01");
        assertEquals(1, gone.exit, gone.all());
        assertTrue(NATIVE_LOCATION.matcher(gone.err).find(), gone.all());
        assertTrue(gone.err.contains("\n  hidapi: Failed to open a device with path '/dev/hidraw-none'"), gone.all());

        ChildJvm bad = tool("open", "1209");
        assertEquals(2, bad.exit, bad.all());
    }

    @Test
    void writeSendsTheBytesReportIdFirst() throws Exception {
        ChildJvm ok = tool("write", "@echo@", "00", "1", "0x7f", "FF");
        assertEquals(0, ok.exit, ok.all());
        assertTrue(ok.out.startsWith("wrote 4 bytes to /dev/hidraw"), ok.all());
        assertEquals(List.of("DEVICE echo GOT 00 01 7f ff"), ok.lines("DEVICE"), ok.all());

        ChildJvm noDevice = tool("write", "/dev/hidraw99", "00", "01");
        assertEquals(1, noDevice.exit, noDevice.all());
        assertTrue(NATIVE_LOCATION.matcher(noDevice.err).find(), noDevice.all());

        ChildJvm notAByte = tool("write", "@echo@", "00", "100");
        assertEquals(2, notAByte.exit, notAByte.all());
        assertEquals(List.of(), notAByte.lines("DEVICE"), "nothing may be sent on a usage error");

        // more than hidraw carries: the API refuses it, which is the command line's error
        List<String> tooLong = new java.util.ArrayList<>(List.of("write", "@echo@"));
        tooLong.addAll(java.util.Collections.nCopies(16385, "00"));
        ChildJvm huge = tool(tooLong.toArray(new String[0]));
        assertEquals(2, huge.exit, huge.all());
        assertTrue(huge.err.startsWith("portula write: a report is 1 to 16384 bytes"), huge.all());
        assertEquals(List.of(), huge.lines("DEVICE"), "nothing may be sent on a usage error");
    }

    @Test
    void readPrintsTheReportThenZeros() throws Exception {
        ChildJvm ok = tool("--push", "keypad:0a0b0c", "read", "@keypad@", "6");
        assertEquals(0, ok.exit, ok.all());
        assertEquals("0a 0b 0c 00 00 00\n", ok.out, ok.all());

        ChildJvm zero = tool("read", "@keypad@", "0");
        assertEquals(2, zero.exit, zero.all());
        // hidraw carries at most 16384 bytes: more is a usage error, not a huge print
        for (String length : new String[] {"16385", "2147483647"}) {
            ChildJvm huge = tool("read", "@keypad@", length);
            assertEquals(2, huge.exit, huge.all());
            assertTrue(huge.err.startsWith("portula read: '" + length + "' is not a length from 1 to 16384"),
                    huge.all());
        }
    }

    @Test
    void listLongShowsEveryField() throws Exception {
        ChildJvm wide = tool("list", "--long", "--vid", "1209");
        assertEquals(0, wide.exit, wide.all());
        String[] lines = wide.out.split("\n");
        assertTrue(lines[0].matches("PATH +VID:PID +MANUFACTURER +PRODUCT +SERIAL +RELEASE +USAGE +INTERFACE +BUS"),
                wide.all());
        assertEquals(3, lines.length, wide.all());
        for (String line : lines) {
            if (line.contains("1209:ec40")) {
                assertTrue(line.matches(".* {2,}Orvanta Labs {2,}Echo {2,}E-1 {2,}1\\.00 {2,}ff00:0001 {2,}0 {2,}usb"),
                        line);
            }
        }
    }

    @Test
    void readWithATimeoutSaysWhenNothingCame() throws Exception {
        ChildJvm nothing = tool("read", "--timeout", "100", "@keypad@", "4");
        assertEquals(1, nothing.exit, nothing.all());
        assertTrue(nothing.err.startsWith("portula read: no input report from /dev/hidraw"), nothing.all());
        assertTrue(nothing.err.contains(" within 100 ms"), nothing.all());
        ChildJvm one = tool("--push", "keypad:0102", "read", "--timeout", "5000", "@keypad@", "3");
        assertEquals(0, one.exit, one.all());
        assertEquals("01 02 00\n", one.out, one.all());
        assertEquals(2, tool("read", "--timeout", "soon", "@keypad@", "3").exit);
    }

    @Test
    void featureReportsBothWays() throws Exception {
        ChildJvm sent = tool("feature", "send", "@echo@", "03", "0a", "0b");
        assertEquals(0, sent.exit, sent.all());
        assertTrue(sent.out.startsWith("sent feature report 03, 3 bytes, to /dev/hidraw"), sent.all());
        assertEquals(List.of("DEVICE echo FEATURE 03 0a 0b"), sent.lines("DEVICE echo FEATURE"), sent.all());
        ChildJvm got = tool("--feature", "echo:07aabbcc", "feature", "get", "@echo@", "7", "8");
        assertEquals(0, got.exit, got.all());
        assertTrue(got.out.startsWith("07 aa bb cc\n"), got.all());
        ChildJvm stalled = tool("feature", "get", "@echo@", "09", "8");
        assertEquals(1, stalled.exit, stalled.all());
        assertTrue(stalled.err.contains("\n  hidapi: ioctl (GFEATURE): "), stalled.all());
        assertEquals(2, tool("feature", "get", "@echo@", "100", "8").exit);
        assertEquals(2, tool("feature", "erase", "@echo@").exit);
    }

    @Test
    void watchPrintsDevicesAsTheyComeAndGo() throws Exception {
        ChildJvm watch = tool("--plug-later", "400", "watch", "--present", "--for", "2500");
        assertEquals(0, watch.exit, watch.all());
        List<String> lines = List.of(watch.out.split("\n"));
        assertEquals(5, lines.size(), watch.all());
        for (String present : lines.subList(0, 3)) {
            assertTrue(present.startsWith("attached /dev/hidraw"), watch.all());
        }
        assertTrue(lines.get(3).matches("attached /dev/hidraw3 1209:0abc \"Orvanta Labs\" \"Hot\" .*"), watch.all());
        assertEquals(lines.get(3).replace("attached", "detached"), lines.get(4), watch.all());
        assertEquals(2, tool("watch", "--for", "soon").exit);
    }

    /** A mouse: 3 buttons, 5 bits of padding, X, Y and a wheel; unnumbered. */
    static final String MOUSE = "05 01 09 02 a1 01 09 01 a1 00 05 09 19 01 29 03 15 00 25 01 95 03 75 01 81 02 95 01"
            + " 75 05 81 01 05 01 09 30 09 31 09 38 15 81 25 7f 75 08 95 03 81 06 c0 c0";

    static byte[] bytes(String hex) {
        String[] words = hex.split(" ");
        byte[] bytes = new byte[words.length];
        for (int i = 0; i < bytes.length; i++) {
            bytes[i] = (byte) Integer.parseInt(words[i], 16);
        }
        return bytes;
    }

    @Test
    void descriptorPrintsItemsAndLayoutsFromRawBytesAndRecordings() throws Exception {
        Path dir = Files.createTempDirectory("portula-descriptor");
        Path raw = Files.write(dir.resolve("mouse.bin"), bytes(MOUSE));
        Path recording = Files.writeString(dir.resolve("mouse.hid"),
                "# a recording\n\nN: Test Mouse\nI: 3 1209 0001\nR: 52 " + MOUSE + "\nE: 0.000 4 01 00 00 00\n");
        Path broken = Files.write(dir.resolve("broken.bin"), bytes("05 01 c0"));
        Path badRecording = Files.writeString(dir.resolve("bad.hid"), "R: 3 05 01\n");
        try {
            runDescriptor(dir, raw, recording, broken, badRecording);
        } finally {
            for (Path file : new Path[] {raw, recording, broken, badRecording, dir}) {
                Files.delete(file);
            }
        }
    }

    private static void runDescriptor(Path dir, Path raw, Path recording, Path broken, Path badRecording)
            throws Exception {

        ChildJvm text = tool("descriptor", raw.toString(), recording.toString());
        assertEquals(0, text.exit, text.all());
        assertTrue(text.out.startsWith("== " + raw + ": 52 bytes\n 0  05 01           Usage Page (Generic Desktop Controls)\n"),
                text.all());
        for (String line : new String[] {
            " 8  a1 00             Collection (Physical)",
            "14  29 03               Usage Maximum (Buttons / Button 3 (Tertiary))",
            "51  c0              End Collection",
            "input report 0: 4 bytes",
            "  bit 3: 1 x 5, Const,Array,Abs, logical 0 to 1",
            "  bit 8: 3 x 8, Data,Var,Rel, Generic Desktop Controls / Direction-X; Generic Desktop Controls / "
                    + "Direction-Y; Generic Desktop Controls / Wheel, logical -127 to 127",
            "== " + recording + ": 52 bytes (\"Test Mouse\", bus 3 1209:0001)"}) {
            assertTrue(text.out.contains("\n" + line + "\n"), line + "\n" + text.all());
        }

        ChildJvm json = tool("descriptor", "--json", raw.toString(), broken.toString(), badRecording.toString(),
                recording.toString());
        assertEquals(1, json.exit, json.all());
        String fields = "\"fields\":[{\"bit\":0,\"size\":1,\"count\":3,\"flags\":2,\"logicalMin\":0,\"logicalMax\":1,"
                + "\"physicalMin\":0,\"physicalMax\":1,\"unit\":0,\"unitExponent\":0,\"usages\":[589825,589826,589827]},"
                + "{\"bit\":3,\"size\":5,\"count\":1,\"flags\":1,\"logicalMin\":0,\"logicalMax\":1,\"physicalMin\":0,"
                + "\"physicalMax\":1,\"unit\":0,\"unitExponent\":0,\"usageRanges\":[]},{\"bit\":8,\"size\":8,\"count\":3,"
                + "\"flags\":6,\"logicalMin\":-127,\"logicalMax\":127,\"physicalMin\":-127,\"physicalMax\":127,\"unit\":0,"
                + "\"unitExponent\":0,\"usages\":[65584,65585,65592]}]";
        assertEquals(List.of(
                "{\"source\":\"" + raw + "\",\"bytes\":52,\"reports\":[{\"type\":\"input\",\"id\":0,\"bytes\":4," + fields + "}]}",
                "{\"source\":\"" + broken + "\",\"error\":\"End Collection without Collection\",\"offset\":2}",
                "{\"source\":\"" + badRecording + "\",\"error\":\"line 1: R: says 3 bytes, but 2 follow\","
                        + "\"offset\":null}",
                "{\"source\":\"" + recording + "\",\"bytes\":52,\"reports\":[{\"type\":\"input\",\"id\":0,\"bytes\":4," + fields
                        + "}]}"),
                List.of(json.out.split("\n")), json.all());

        // a directory or another node is not read (a hidraw node would give reports, not its descriptor)
        ChildJvm failed = tool("descriptor", broken.toString(), dir.resolve("none").toString(), dir.toString(),
                "/dev/null");
        assertEquals(1, failed.exit, failed.all());
        assertEquals("portula descriptor: " + broken + ": offset 2: End Collection without Collection\n"
                + "portula descriptor: " + dir.resolve("none") + ": no such file\n"
                + "portula descriptor: " + dir + ": not a regular file, nor a HID device the system lists\n"
                + "portula descriptor: /dev/null: not a regular file, nor a HID device the system lists\n",
                failed.err, failed.all());
        // a hidraw node: its descriptor as the kernel keeps it, beside a file's
        ChildJvm node = tool("descriptor", "@keypad@", raw.toString());
        assertEquals(0, node.exit, node.all());
        assertTrue(node.out.startsWith("== /dev/hidraw1: 33 bytes (1209:0002 \"Orvanta Labs\" \"Keypad \u00e9"
                + " \u4e2d\u6587\")\n 0  06 00 ff        Usage Page (0xff00)\n"), node.all());
        assertTrue(node.out.contains("\ninput report 0: 64 bytes\n"), node.all());
        assertTrue(node.out.contains("\n== " + raw + ": 52 bytes\n"), node.all());
        ChildJvm nodeJson = tool("descriptor", "--json", "@bare@");
        assertEquals(0, nodeJson.exit, nodeJson.all());
        assertTrue(nodeJson.out.startsWith("{\"source\":\"/dev/hidraw2\",\"bytes\":33,\"reports\":["), nodeJson.all());
        assertEquals(2, tool("descriptor").exit);
        assertEquals(2, tool("descriptor", "--jsn", raw.toString()).exit);
        assertEquals(2, tool("descriptor", raw.toString(), "--json").exit);
    }

    @Test
    void helpAndUsageErrors() throws Exception {
        String[] commands = {"list", "open", "write", "read", "feature", "watch", "descriptor", "record", "decode"};
        for (String command : commands) {
            ChildJvm help = tool(command, "--help");
            assertEquals(0, help.exit, help.all());
            assertTrue(help.out.startsWith("usage: java -jar portula.jar " + command), help.all());
        }
        ChildJvm overall = tool("--help");
        assertEquals(0, overall.exit, overall.all());
        for (String command : commands) {
            assertTrue(overall.out.contains("\n  " + command + " "), overall.all());
        }
        assertEquals(2, tool().exit);
        ChildJvm unknown = tool("erase");
        assertEquals(2, unknown.exit, unknown.all());
        assertTrue(unknown.err.startsWith("portula: unknown command 'erase'"), unknown.all());
    }
}
