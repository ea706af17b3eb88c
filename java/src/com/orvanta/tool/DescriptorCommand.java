package com.orvanta.tool;

import com.orvanta.hid.Hid;
import com.orvanta.hid.HidDeviceInfo;
import com.orvanta.hid.HidException;
import com.orvanta.hid.descriptor.Recording;
import com.orvanta.hid.descriptor.RecordingException;
import com.orvanta.hid.descriptor.Report;
import com.orvanta.hid.descriptor.ReportDescriptor;
import com.orvanta.hid.descriptor.ReportDescriptorException;
import com.orvanta.hid.descriptor.ReportField;
import java.io.IOException;
import java.io.InputStream;
import java.io.PrintStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;

/** The tool's {@code descriptor} command: each SOURCE's report descriptor, item by item and report by report. */
final class DescriptorCommand {
    static final String USAGE = String.join("\n",
            "usage: java -jar portula.jar descriptor [--json] [--device N] SOURCE...",
            "",
            "Parses each SOURCE's HID report descriptor as the Linux kernel does, then prints each item",
            "with its byte offset, bytes and meaning, indented by collection, and each report's layout:",
            "its fields' bit offsets on the wire (report ID byte included), sizes, flags, usages and ranges.",
            "A SOURCE is a file of the descriptor's raw bytes, a recording (as record writes it: a file",
            "whose first line starts with '#' or with a letter and a colon; --device N picks device N, its",
            "D: line, of a recording of several), or a hidraw node as list prints it (/dev/hidrawN: its",
            "descriptor as the kernel keeps it; no access to the node needed). --json prints one JSON",
            "object per SOURCE, one per line, instead. A SOURCE that fails says why on its line (--json:",
            "\"error\", \"offset\") and the others still print; the exit code is then 1.");

    /** A SOURCE that gives no descriptor: unreadable, a recording that breaks its format, a device that fails. */
    private static final class SourceException extends Exception {
        private static final long serialVersionUID = 1L;

        SourceException(String message) {
            super(message);
        }
    }

    /** One SOURCE's descriptor and what the source says of its device ("" where nothing). */
    private static final class Read {
        final byte[] descriptor;
        final String device;

        Read(byte[] descriptor, String device) {
            this.descriptor = descriptor;
            this.device = device;
        }
    }

    /** Reads what one SOURCE names: a file of raw bytes, a recording, or a hidraw node. */
    private interface Source {
        Read read() throws SourceException;
    }

    private final PrintStream out;
    private final PrintStream err;
    private final boolean json;

    private DescriptorCommand(PrintStream out, PrintStream err, boolean json) {
        this.out = out;
        this.err = err;
        this.json = json;
    }

    static int run(List<String> args, PrintStream out, PrintStream err) throws Main.UsageException {
        boolean json = false;
        int device = -1;
        List<Source> sources = new ArrayList<>();
        List<String> names = new ArrayList<>();
        for (int i = 0; i < args.size(); i++) {
            String arg = args.get(i);
            if (arg.equals("--json") && sources.isEmpty()) {
                json = true;
            } else if (arg.equals("--device") && device < 0 && sources.isEmpty() && i + 1 < args.size()) {
                device = Main.parseDecimal(args.get(++i), 0, Integer.MAX_VALUE);
                if (device < 0) {
                    throw new Main.UsageException("--device takes a device number, 0 or more", USAGE);
                }
            } else if (arg.startsWith("-")) {
                throw new Main.UsageException("unexpected option '" + arg + "'", USAGE);
            } else {
                sources.add(source(arg, device));
                names.add(arg);
            }
        }
        if (sources.isEmpty()) {
            throw new Main.UsageException("expects at least one SOURCE", USAGE);
        }
        DescriptorCommand command = new DescriptorCommand(out, err, json);
        int code = 0;
        for (int i = 0; i < sources.size(); i++) {
            code |= command.print(names.get(i), sources.get(i));
        }
        return code;
    }

    private static Source source(String argument, int device) throws Main.UsageException {
        Path path = RecordingCommands.path(argument, USAGE);
        if (Files.exists(path) && !Files.isRegularFile(path)) {
            return () -> readDevice(argument);   // a device node would be read for reports, not its descriptor
        }
        return () -> readFile(path, device);
    }

    /** The descriptor of a hidraw node the system lists, as the kernel keeps it (no access to the node needed). */
    private static Read readDevice(String path) throws SourceException {
        try {
            for (HidDeviceInfo d : Hid.devices()) {
                if (path.equals(d.path())) {
                    String names = (d.manufacturer() == null ? "" : " \"" + d.manufacturer() + '"')
                            + (d.product() == null ? "" : " \"" + d.product() + '"');
                    return new Read(Hid.reportDescriptor(d), String.format("%04x:%04x", d.vendorId(), d.productId())
                            + names);
                }
            }
        } catch (HidException e) {
            throw new SourceException(e.getMessage());
        }
        throw new SourceException("not a regular file, nor a HID device the system lists");
    }

    private static Read readFile(Path path, int device) throws SourceException {
        try {
            byte[] head = new byte[4096];
            int length;
            try (InputStream in = Files.newInputStream(path)) {
                length = in.read(head);
            }
            if (isText(head, Math.max(length, 0))) {
                Recording recording = RecordingCommands.readRecording(path, device);
                String name = recording.name() == null ? "" : '"' + recording.name() + '"';
                String ids = recording.bus() < 0 ? "" : String.format("bus %x %04x:%04x", recording.bus(),
                        recording.vendorId(), recording.productId());
                return new Read(recording.descriptor(), name + (name.isEmpty() || ids.isEmpty() ? "" : ", ") + ids);
            }
            if (Files.size(path) > 1 << 20) {
                throw new SourceException("over 1 MiB: no report descriptor");
            }
            return new Read(Files.readAllBytes(path), "");
        } catch (RecordingException e) {
            throw new SourceException("line " + e.line() + ": " + RecordingCommands.problem(e));
        } catch (IOException e) {
            throw new SourceException(RecordingCommands.why(e));
        }
    }

    /** Whether the first line that is not blank starts with '#' or with a letter and a colon. */
    private static boolean isText(byte[] content, int length) {
        int i = 0;
        while (i < length && (content[i] == ' ' || content[i] == '\t' || content[i] == '\r' || content[i] == '\n')) {
            i++;
        }
        if (i < length && content[i] == '#') {
            return true;
        }
        boolean letter = i < length && (content[i] | 0x20) >= 'a' && (content[i] | 0x20) <= 'z';
        return letter && i + 1 < length && content[i + 1] == ':';
    }

    /** Prints one source. @return 0, or {@link Main#FAILED} where it failed */
    private int print(String name, Source source) {
        Read read;
        ReportDescriptor descriptor;
        try {
            read = source.read();
            descriptor = ReportDescriptor.parse(read.descriptor);
        } catch (SourceException e) {
            return failed(name, e.getMessage(), -1);
        } catch (ReportDescriptorException e) {
            return failed(name, e.problem(), e.offset());
        }
        if (json) {
            out.println(json(name, descriptor));
        } else {
            text(name, read, descriptor);
        }
        return 0;
    }

    private int failed(String name, String problem, int offset) {
        if (json) {
            out.println("{\"source\":" + quote(name) + ",\"error\":" + quote(problem) + ",\"offset\":"
                    + (offset < 0 ? "null" : Integer.toString(offset)) + "}");
        } else {
            err.println("portula descriptor: " + name + ": " + (offset < 0 ? "" : "offset " + offset + ": ") + problem);
        }
        return Main.FAILED;
    }

    private void text(String name, Read read, ReportDescriptor descriptor) {
        byte[] bytes = descriptor.bytes();
        out.println("== " + name + ": " + bytes.length + " bytes" + (read.device.isEmpty() ? "" : " (" + read.device + ")"));
        int width = Integer.toString(bytes.length).length();
        for (ReportDescriptor.Item item : descriptor.items()) {
            StringBuilder line = new StringBuilder();
            String offset = Integer.toString(item.offset());
            for (int pad = width - offset.length(); pad > 0; pad--) {
                line.append(' ');
            }
            line.append(offset).append(' ');
            for (byte b : item.bytes()) {
                line.append(String.format(" %02x", b & 0xFF));
            }
            for (int pad = 5 - item.bytes().length; pad > 0; pad--) {
                line.append("   ");
            }
            line.append("  ");
            for (int depth = 0; depth < item.depth(); depth++) {
                line.append("  ");
            }
            out.println(line.append(item.meaning()));
        }
        for (Report report : descriptor.reports()) {
            out.println();
            out.println(report.type() + " report " + report.id() + ": " + report.length()
                    + (report.length() == 1 ? " byte" : " bytes"));
            for (ReportField field : report.fields()) {
                out.println("  " + field);
            }
        }
        out.println();
    }

    private static String json(String name, ReportDescriptor descriptor) {
        StringBuilder json = new StringBuilder();
        json.append("{\"source\":").append(quote(name)).append(",\"bytes\":").append(descriptor.bytes().length)
                .append(",\"reports\":[");
        String reportComma = "";
        for (Report report : descriptor.reports()) {
            json.append(reportComma).append("{\"type\":\"").append(report.type()).append("\",\"id\":")
                    .append(report.id()).append(",\"bytes\":").append(report.length()).append(",\"fields\":[");
            reportComma = ",";
            String fieldComma = "";
            for (ReportField f : report.fields()) {
                json.append(fieldComma).append("{\"bit\":").append(f.bitOffset()).append(",\"size\":")
                        .append(f.bitSize()).append(",\"count\":").append(f.count()).append(",\"flags\":")
                        .append(f.flags() & 0xFFFFFFFFL).append(",\"logicalMin\":").append(f.logicalMinimum())
                        .append(",\"logicalMax\":").append(f.logicalMaximum()).append(",\"physicalMin\":")
                        .append(f.physicalMinimum()).append(",\"physicalMax\":").append(f.physicalMaximum())
                        .append(",\"unit\":").append(f.unit() & 0xFFFFFFFFL).append(",\"unitExponent\":")
                        .append(f.unitExponent());
                fieldComma = ",";
                if (f.isArray()) {
                    json.append(",\"usageRanges\":[");
                    String comma = "";
                    for (ReportField.Range r : f.usageRanges()) {
                        json.append(comma).append('[').append(r.first() & 0xFFFFFFFFL).append(',')
                                .append(r.last() & 0xFFFFFFFFL).append(']');
                        comma = ",";
                    }
                } else {
                    json.append(",\"usages\":[");
                    int[] usages = f.usages();
                    for (int i = 0; i < usages.length; i++) {
                        json.append(i == 0 ? "" : ",").append(usages[i] & 0xFFFFFFFFL);
                    }
                }
                json.append("]}");
            }
            json.append("]}");
        }
        return json.append("]}").toString();
    }

    private static String quote(String text) {
        StringBuilder quoted = new StringBuilder("\"");
        for (int i = 0; i < text.length(); i++) {
            char c = text.charAt(i);
            if (c == '"' || c == '\\') {
                quoted.append('\\').append(c);
            } else if (c < 0x20 || c == 0x7F || Character.isSurrogate(c) && !validSurrogate(text, i)) {
                quoted.append(String.format("\\u%04x", (int) c));
            } else {
                quoted.append(c);
            }
        }
        return quoted.append('"').toString();
    }

    private static boolean validSurrogate(String text, int i) {
        char c = text.charAt(i);
        return Character.isHighSurrogate(c) ? i + 1 < text.length() && Character.isLowSurrogate(text.charAt(i + 1))
                : i > 0 && Character.isHighSurrogate(text.charAt(i - 1));
    }
}
