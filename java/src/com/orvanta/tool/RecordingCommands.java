package com.orvanta.tool;

import com.orvanta.hid.Hid;
import com.orvanta.hid.HidDevice;
import com.orvanta.hid.HidException;
import com.orvanta.hid.descriptor.Recording;
import com.orvanta.hid.descriptor.RecordingException;
import com.orvanta.hid.descriptor.Report;
import com.orvanta.hid.descriptor.ReportDescriptor;
import com.orvanta.hid.descriptor.ReportDescriptorException;
import com.orvanta.hid.descriptor.ReportField;
import com.orvanta.hid.descriptor.ReportValues;
import com.orvanta.hid.descriptor.Usages;
import java.io.BufferedWriter;
import java.io.IOException;
import java.io.InputStreamReader;
import java.io.OutputStream;
import java.io.OutputStreamWriter;
import java.io.PrintStream;
import java.io.Reader;
import java.io.Writer;
import java.nio.charset.StandardCharsets;
import java.nio.file.AccessDeniedException;
import java.nio.file.Files;
import java.nio.file.InvalidPathException;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Locale;
import java.util.NoSuchElementException;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicBoolean;

/** The tool's {@code record} and {@code decode} commands, and the named values that decode and read print. */
final class RecordingCommands {
    static final String RECORD = String.join("\n",
            "usage: java -jar portula.jar record PATH [--out FILE] [--seconds N | --count N]",
            "",
            "Records the device at PATH (as list prints it) in the HID recorder's text: its report",
            "descriptor (R:), the kernel's name for it (N:), where it is attached (P:), its bus and IDs",
            "(I:), then a line for each input report (E:): its time from the first, seconds.microseconds,",
            "its length and bytes. It needs the access read needs. It writes to FILE with --out, else to",
            "standard output, each report as it comes, until Ctrl-C, for N seconds (--seconds) or for N",
            "reports (--count); what it wrote is complete whenever it stops. A device unplugged ends it",
            "too, with exit code 1.");

    static final String DECODE = String.join("\n",
            "usage: java -jar portula.jar decode [--device N] FILE",
            "",
            "Reads a recording (as record writes it) and prints each input report on a line: its time",
            "from the first, seconds.microseconds, then its values as the report descriptor lays them",
            "out, named by usage: a variable's value, an array's usages in [] (the keys held down),",
            "'absent' for a value cut off or null. --device N picks device N (its D: line) of a",
            "recording of several. Lines the recording skips are listed on standard error.");

    private RecordingCommands() {
    }

    static int record(List<String> args, PrintStream out, PrintStream err) throws Main.UsageException, HidException {
        String path = null;
        String file = null;
        int seconds = -1;
        int count = -1;
        for (int i = 0; i < args.size(); i++) {
            String arg = args.get(i);
            if (arg.equals("--out") || arg.equals("--seconds") || arg.equals("--count")) {
                if (i + 1 == args.size()) {
                    throw new Main.UsageException(arg + " needs a value", RECORD);
                }
                String value = args.get(++i);
                if (arg.equals("--out")) {
                    file = value;
                } else if (seconds >= 0 || count >= 0) {
                    throw new Main.UsageException("takes one of --seconds and --count", RECORD);
                } else if (arg.equals("--seconds")) {
                    seconds = positive(value, arg);
                } else {
                    count = positive(value, arg);
                }
            } else if (arg.startsWith("-") || path != null) {
                throw new Main.UsageException("unexpected argument '" + arg + "'", RECORD);
            } else {
                path = arg;
            }
        }
        if (path == null) {
            throw new Main.UsageException("expects a PATH", RECORD);
        }
        Path target = file == null ? null : path(file, RECORD);
        try (HidDevice device = Hid.open(path)) {
            Recording header = device.recordingHeader();
            OutputStream stream;
            try {
                stream = target == null ? out : Files.newOutputStream(target);
            } catch (IOException e) {
                err.println("portula record: " + file + ": " + why(e));
                return Main.FAILED;
            }
            Writer writer = new BufferedWriter(new OutputStreamWriter(stream, StandardCharsets.UTF_8));
            try {
                return record(device, header, writer, target == null ? out : null, seconds, count);
            } catch (IOException e) {
                err.println("portula record: " + (file == null ? "standard output" : file) + ": " + why(e));
                return Main.FAILED;
            } finally {
                if (target != null) {
                    try {
                        writer.close();
                    } catch (IOException e) {
                        // its own failure was reported, or the last flush had none
                    }
                }
            }
        }
    }

    /**
     * Writes the header, then each report as it comes, flushed at once. Ctrl-C (a shutdown hook)
     * closes the device, which ends the read under way, and waits for what was read to be
     * written: the recording then ends complete. Written to standard output (console), it also
     * ends when no one reads that any more ({@code record ... | head}).
     */
    private static int record(HidDevice device, Recording header, Writer writer, PrintStream console, int seconds,
            int count) throws IOException, HidException {
        AtomicBoolean stopping = new AtomicBoolean();
        CountDownLatch written = new CountDownLatch(1);
        Thread hook = new Thread(() -> {
            stopping.set(true);
            device.close();
            try {
                written.await(5, TimeUnit.SECONDS);
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
            }
        }, "portula record: stop");
        Runtime.getRuntime().addShutdownHook(hook);
        try {
            header.write(writer);
            writer.flush();
            long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(seconds);
            long first = 0;
            byte[] buffer = new byte[16384];
            for (int n = 0; count < 0 || n < count; ) {
                long left = seconds < 0 ? -1 : (deadline - System.nanoTime() + 999_999) / 1_000_000;
                if (seconds >= 0 && left <= 0) {
                    break;
                }
                int received = device.read(buffer, (int) Math.min(left, Integer.MAX_VALUE));
                if (received == 0) {
                    continue;
                }
                long now = System.nanoTime();
                if (n++ == 0) {
                    first = now;
                }
                writer.append(new Recording.Event((now - first) / 1000, Arrays.copyOf(buffer, received)).toString())
                        .append('\n');
                writer.flush();
                if (console != null && console.checkError()) {
                    break;   // a print stream keeps its failures to itself
                }
            }
            return 0;
        } catch (HidException e) {
            if (stopping.get()) {
                return 0;   // Ctrl-C closed the device under the read
            }
            throw e;
        } finally {
            try {
                writer.flush();   // a header cut short by Ctrl-C
            } catch (IOException e) {
                // what failed first is what the caller hears of
            }
            written.countDown();
            try {
                Runtime.getRuntime().removeShutdownHook(hook);
            } catch (IllegalStateException e) {
                // the VM is shutting down: the hook runs, and returns once written
            }
        }
    }

    static int decode(List<String> args, PrintStream out, PrintStream err) throws Main.UsageException {
        int device = -1;
        String name = null;
        for (int i = 0; i < args.size(); i++) {
            String arg = args.get(i);
            if (arg.equals("--device") && device < 0 && i + 1 < args.size()) {
                device = Main.parseDecimal(args.get(++i), 0, Integer.MAX_VALUE);
                if (device < 0) {
                    throw new Main.UsageException("--device takes a device number, 0 or more", DECODE);
                }
            } else if (arg.startsWith("-") || name != null) {
                throw new Main.UsageException("unexpected argument '" + arg + "'", DECODE);
            } else {
                name = arg;
            }
        }
        if (name == null) {
            throw new Main.UsageException("expects a FILE", DECODE);
        }
        Path file = path(name, DECODE);
        Recording recording;
        ReportDescriptor descriptor;
        try {
            recording = readRecording(file, device);
            descriptor = ReportDescriptor.parse(recording.descriptor());
        } catch (IOException e) {
            err.println("portula decode: " + name + ": " + why(e));
            return Main.FAILED;
        } catch (RecordingException e) {
            err.println("portula decode: " + name + ": line " + e.line() + ": " + problem(e));
            return Main.FAILED;
        } catch (ReportDescriptorException e) {
            err.println("portula decode: " + name + ": its report descriptor, offset " + e.offset() + ": "
                    + e.problem());
            return Main.FAILED;
        }
        for (String warning : recording.warnings()) {
            err.println("portula decode: " + name + ": " + warning);
        }
        ReportValues values = new ReportValues();
        for (Recording.Event event : recording.events()) {
            byte[] report = event.report();
            descriptor.decodeInput(report, 0, report.length, values);
            out.println(time(event.micros()) + " " + values(values, report));
        }
        return 0;
    }

    /** A regular file's recording, read as UTF-8 (bytes that are not become U+FFFD); device -1: the only one. */
    static Recording readRecording(Path file, int device) throws IOException, RecordingException {
        if (Files.exists(file) && !Files.isRegularFile(file)) {
            throw new IOException("not a regular file");
        }
        try (Reader in = new InputStreamReader(Files.newInputStream(file), StandardCharsets.UTF_8)) {
            return device < 0 ? Recording.read(in) : Recording.read(in, device);
        }
    }

    /** A recording's problem, where it holds several devices saying how the command line picks one. */
    static String problem(RecordingException e) {
        return e.problem().replace("read it with one picked", "pick one with --device N");
    }

    /** Why a file could not be read or written, in a few words. */
    static String why(IOException e) {
        if (e instanceof NoSuchFileException) {
            return "no such file";
        }
        if (e instanceof AccessDeniedException) {
            return "permission denied";
        }
        return e.getClass() == IOException.class ? e.getMessage() : "cannot read or write it: " + e.getMessage();
    }

    static Path path(String name, String usage) throws Main.UsageException {
        try {
            return Paths.get(name);
        } catch (InvalidPathException e) {
            throw new Main.UsageException("'" + name + "' is no path: " + e.getReason(), usage);
        }
    }

    private static int positive(String value, String option) throws Main.UsageException {
        int n = Main.parseDecimal(value, 1, Integer.MAX_VALUE);
        if (n < 0) {
            throw new Main.UsageException(option + " takes a whole number, 1 or more, not '" + value + "'", RECORD);
        }
        return n;
    }

    /** seconds.microseconds, as an E: line has it. */
    private static String time(long micros) {
        return String.format(Locale.ROOT, "%06d.%06d", micros / 1_000_000, micros % 1_000_000);
    }

    /**
     * A decoded report's values, every one, named by usage: {@code input report 1: Buttons /
     * Button 1 (Primary) = 1, ..., 0xff00 / 0x0001 = 1 2 3, [Keyboard/Keypad / Keyboard a and A]}:
     * a variable's slots in a row of one usage share its name, an array lists the usages it
     * selects. Padding and fields without usages are left out.
     */
    static String values(ReportValues values, byte[] report) {
        Report decoded = values.report();
        if (decoded == null) {
            return "a report the descriptor does not lay out:" + hex(report);
        }
        StringBuilder text = new StringBuilder().append(decoded.type()).append(" report ").append(decoded.id())
                .append(':');
        String comma = " ";
        for (ReportField f : decoded.fields()) {
            if (f.is(ReportField.Flag.CONSTANT) || f.usageRanges().isEmpty()) {
                continue;
            }
            if (f.isArray()) {
                text.append(comma).append('[');
                try {
                    List<String> names = new ArrayList<>();
                    if (f.bitSize() > 64) {   // selectors too wide to look up
                        for (int slot = 0; slot < f.count(); slot++) {
                            names.add("bytes" + hex(values.bytes(f, slot)));
                        }
                    } else {
                        for (int usage : values.activeUsages(f)) {
                            names.add(Usages.name(usage));
                        }
                    }
                    text.append(String.join(", ", names));
                } catch (NoSuchElementException e) {
                    text.append("absent");
                }
                text.append(']');
                comma = ", ";
                continue;
            }
            int[] usages = f.usages();
            for (int slot = 0; slot < f.count(); slot++) {
                if (slot > 0 && usages[slot] == usages[slot - 1]) {
                    text.append(' ');   // slots of one usage (a vendor's buffer) share its name
                } else {
                    text.append(comma).append(Usages.name(usages[slot])).append(" = ");
                }
                if (!values.has(f, slot)) {
                    text.append("absent");
                } else if (f.bitSize() > 64) {
                    text.append("bytes").append(hex(values.bytes(f, slot)));
                } else {
                    text.append(values.get(f, slot));
                }
                comma = ", ";
            }
        }
        return text.toString();
    }

    private static String hex(byte[] bytes) {
        StringBuilder text = new StringBuilder();
        for (byte b : bytes) {
            text.append(String.format(" %02x", b & 0xFF));
        }
        return text.toString();
    }
}
