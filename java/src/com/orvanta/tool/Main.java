package com.orvanta.tool;

import com.orvanta.hid.Hid;
import com.orvanta.hid.HidDevice;
import com.orvanta.hid.HidDeviceInfo;
import com.orvanta.hid.HidWatch;
import com.orvanta.hid.HidWatchListener;
import com.orvanta.hid.descriptor.ReportDescriptor;
import com.orvanta.jni.exceptions.HIDException;
import java.io.FileDescriptor;
import java.io.FileOutputStream;
import java.io.PrintStream;
import java.io.UnsupportedEncodingException;
import java.nio.charset.Charset;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Locale;

/**
 * The command-line tool of {@code java -jar portula.jar}: lists HID devices,
 * opens one, writes a report to one or reads one from it, gets and sends
 * feature reports, prints what report descriptors say, records devices'
 * input reports and decodes recordings.
 *
 * <p>Exit codes: 0 on success, 1 when the library or a device operation
 * fails (the message and the native function, file and line go to standard
 * error), 2 for a usage error.
 */
public final class Main {
    /** A device operation or the library failed. */
    public static final int FAILED = 1;
    /** The command line was wrong. */
    public static final int USAGE = 2;
    private static final int MAX_REPORT = 16384;

    private static final String OVERALL = String.join("\n",
            "usage: java -jar portula.jar COMMAND [ARGS]",
            "",
            "commands:",
            "  list [--long] [--vid HEX] [--pid HEX]  the HID devices present: path, VID:PID, manufacturer, product",
            "  open VID:PID                   checks that the first device with these IDs can be opened",
            "  write PATH HEX...              sends one output report, report ID first (0 if unnumbered)",
            "  read [--timeout MS] PATH LENGTH  waits for one input report, prints LENGTH bytes in hex",
            "  read [--timeout MS] --decode PATH  waits for one input report, prints its values by name",
            "  feature get PATH ID LENGTH     asks for a feature report, prints it in hex, report ID first",
            "  feature send PATH ID HEX...    sends a feature report: ID, then the bytes",
            "  watch [--present] [--vid HEX] [--pid HEX] [--for MS]  prints devices as they come and go",
            "  descriptor [--json] [--device N] SOURCE...  parses report descriptors: items, reports' layouts",
            "  record PATH [--out FILE] [--seconds N | --count N]  records a device's input reports",
            "  decode [--device N] FILE       prints a recording's input reports by name, with their times",
            "",
            "COMMAND --help describes one command. Exit codes: 0 done, 1 failed, 2 usage error.");

    private static final String LIST = String.join("\n",
            "usage: java -jar portula.jar list [--long] [--vid HEX] [--pid HEX]",
            "",
            "Prints a table of the HID devices present: path, VID:PID (hex), manufacturer, product",
            "(\"-\" when the device reports none). --long adds the serial number, the release number,",
            "the usage page and usage, the interface number and the bus. --vid and --pid (hex, e.g. 1209",
            "or 0x1209) keep only the devices with those IDs.");

    private static final String OPEN = String.join("\n",
            "usage: java -jar portula.jar open VID:PID",
            "",
            "Opens the first device with these IDs (hex, e.g. 1209:ec40) and closes it again.");

    private static final String WRITE = String.join("\n",
            "usage: java -jar portula.jar write PATH HEX...",
            "",
            "Opens the device at PATH (as list prints it) and sends one output report: each HEX is",
            "one byte (e.g. 00 or 0x1f), the report ID first (00 for devices without numbered reports).");

    private static final String READ = String.join("\n",
            "usage: java -jar portula.jar read [--timeout MS] PATH LENGTH",
            "       java -jar portula.jar read [--timeout MS] --decode PATH",
            "",
            "Opens the device at PATH, waits for one input report and prints LENGTH bytes in hex:",
            "the report, then zeros. It waits as long as the device sends nothing, or at most MS",
            "milliseconds with --timeout (then it says so and exits with 1). LENGTH is 1 to 16384,",
            "the largest report hidraw carries. With --decode it prints the whole report's values",
            "instead, as the device's report descriptor lays them out, named by usage (as decode",
            "prints them). The options may also follow PATH.");

    private static final String FEATURE = String.join("\n",
            "usage: java -jar portula.jar feature get PATH ID LENGTH",
            "       java -jar portula.jar feature send PATH ID HEX...",
            "",
            "get asks the device at PATH for feature report ID (hex, 00 to ff) and prints it in hex,",
            "report ID first, at most LENGTH bytes (1 to 16383, the ID included). send sends feature",
            "report ID with the bytes given.");

    private static final String WATCH = String.join("\n",
            "usage: java -jar portula.jar watch [--present] [--vid HEX] [--pid HEX] [--for MS]",
            "",
            "Prints a line as each HID device comes (attached ...) and goes (detached ...), until",
            "interrupted, or for MS milliseconds. --present prints the devices already there first.",
            "--vid and --pid keep only the devices with those IDs.");

    private final PrintStream out;
    private final PrintStream err;

    private Main(PrintStream out, PrintStream err) {
        this.out = out;
        this.err = err;
    }

    /** Runs the tool and exits with its exit code. */
    public static void main(String[] args) {
        System.exit(run(args));
    }

    /**
     * Runs one command on standard output and error. Where their charset is
     * plain ASCII (a C locale), they are written in UTF-8 instead, which keeps
     * device names intact rather than turning them into '?'.
     *
     * @param args the command line, command first
     * @return the exit code: 0, {@link #FAILED} or {@link #USAGE}
     */
    public static int run(String[] args) {
        PrintStream out = console(System.out, FileDescriptor.out);
        PrintStream err = console(System.err, FileDescriptor.err);
        int code = run(args, out, err);
        out.flush();
        err.flush();
        return code;
    }

    private static PrintStream console(PrintStream stream, FileDescriptor fd) {
        String name = System.getProperty("stdout.encoding",
                System.getProperty("sun.stdout.encoding", Charset.defaultCharset().name()));
        if (!Charset.isSupported(name) || !Charset.forName(name).equals(StandardCharsets.US_ASCII)) {
            return stream;
        }
        stream.flush();
        try {
            return new PrintStream(new FileOutputStream(fd), true, "UTF-8");
        } catch (UnsupportedEncodingException e) {
            return stream;   // every Java has UTF-8
        }
    }

    /**
     * Runs one command.
     *
     * @param args the command line, command first
     * @param out where results and help go
     * @param err where errors go
     * @return the exit code: 0, {@link #FAILED} or {@link #USAGE}
     */
    public static int run(String[] args, PrintStream out, PrintStream err) {
        return new Main(out, err).dispatch(args);
    }

    /** A wrong command line; the message goes before the command's usage. */
    static final class UsageException extends Exception {
        private static final long serialVersionUID = 1L;
        final String usage;

        UsageException(String message, String usage) {
            super(message);
            this.usage = usage;
        }
    }

    private int dispatch(String[] args) {
        if (args.length == 0) {
            err.println(OVERALL);
            return USAGE;
        }
        String command = args[0];
        List<String> rest = new ArrayList<>(Arrays.asList(args).subList(1, args.length));
        if (command.equals("--help") || command.equals("-h") || command.equals("help")) {
            out.println(OVERALL);
            return 0;
        }
        String usage = usageOf(command);
        if (usage == null) {
            err.println("portula: unknown command '" + command + "'");
            err.println(OVERALL);
            return USAGE;
        }
        if (rest.contains("--help") || rest.contains("-h")) {
            out.println(usage);
            return 0;
        }
        try {
            switch (command) {
                case "list":
                    return list(rest);
                case "open":
                    return open(rest);
                case "write":
                    return write(rest);
                case "feature":
                    return feature(rest);
                case "watch":
                    return watch(rest);
                case "descriptor":
                    return DescriptorCommand.run(rest, out, err);
                case "record":
                    return RecordingCommands.record(rest, out, err);
                case "decode":
                    return RecordingCommands.decode(rest, out, err);
                default:
                    return read(rest);
            }
        } catch (UsageException e) {
            err.println("portula " + command + ": " + e.getMessage());
            err.println(e.usage);
            return USAGE;
        } catch (IllegalArgumentException | IndexOutOfBoundsException | IllegalStateException e) {
            // the API's own refusal of what the command line asked, before anything reached a device
            err.println("portula " + command + ": " + e.getMessage());
            err.println(usage);
            return USAGE;
        } catch (HIDException e) {
            err.println("portula " + command + ": " + e.getMessage());
            if (e.getHidapiError() != null) {
                err.println("  hidapi: " + e.getHidapiError());
            }
            if (e.getFunction() != null) {
                err.println("  at " + e.getFunction() + " (" + e.getFile() + ":" + e.getLine() + ")");
            }
            return FAILED;
        } catch (UnsatisfiedLinkError | NoClassDefFoundError e) {
            // the native library did not load: its message says what was looked for where
            err.println("portula " + command + ": " + e.getMessage());
            return FAILED;
        }
    }

    private static String usageOf(String command) {
        switch (command) {
            case "list":
                return LIST;
            case "open":
                return OPEN;
            case "write":
                return WRITE;
            case "read":
                return READ;
            case "feature":
                return FEATURE;
            case "watch":
                return WATCH;
            case "descriptor":
                return DescriptorCommand.USAGE;
            case "record":
                return RecordingCommands.RECORD;
            case "decode":
                return RecordingCommands.DECODE;
            default:
                return null;
        }
    }

    private int list(List<String> args) throws UsageException, HIDException {
        int vid = 0;
        int pid = 0;
        boolean wide = false;
        for (int i = 0; i < args.size(); i++) {
            String option = args.get(i);
            if (option.equals("--long")) {
                wide = true;
                continue;
            }
            if (!option.equals("--vid") && !option.equals("--pid")) {
                throw new UsageException("unexpected argument '" + option + "'", LIST);
            }
            if (i + 1 == args.size()) {
                throw new UsageException(option + " needs a hex ID", LIST);
            }
            int id = parseId(args.get(++i), LIST);
            if (option.equals("--vid")) {
                vid = id;
            } else {
                pid = id;
            }
        }
        List<String[]> rows = new ArrayList<>();
        rows.add(wide ? new String[] {"PATH", "VID:PID", "MANUFACTURER", "PRODUCT", "SERIAL", "RELEASE", "USAGE",
            "INTERFACE", "BUS"} : new String[] {"PATH", "VID:PID", "MANUFACTURER", "PRODUCT"});
        for (HidDeviceInfo d : Hid.devices(vid, pid)) {
            String[] row = {orDash(d.path()), String.format("%04x:%04x", d.vendorId(), d.productId()),
                orDash(d.manufacturer()), orDash(d.product())};
            if (wide) {
                row = Arrays.copyOf(row, 9);
                row[4] = orDash(d.serialNumber());
                row[5] = String.format("%x.%02x", d.releaseNumber() >> 8, d.releaseNumber() & 0xFF);
                row[6] = String.format("%04x:%04x", d.usagePage(), d.usage());
                row[7] = d.interfaceNumber() < 0 ? "-" : Integer.toString(d.interfaceNumber());
                row[8] = d.busType().toString().toLowerCase(Locale.ROOT);
            }
            rows.add(row);
        }
        int[] width = new int[rows.get(0).length - 1];
        for (String[] row : rows) {
            for (int c = 0; c < width.length; c++) {
                width[c] = Math.max(width[c], row[c].length());
            }
        }
        for (String[] row : rows) {
            StringBuilder line = new StringBuilder();
            for (int c = 0; c < row.length; c++) {
                line.append(row[c]);
                for (int pad = c < width.length ? width[c] - row[c].length() + 2 : 0; pad > 0; pad--) {
                    line.append(' ');
                }
            }
            out.println(stripTrailing(line.toString()));
        }
        return 0;
    }

    private int open(List<String> args) throws UsageException, HIDException {
        if (args.size() != 1) {
            throw new UsageException("expects one VID:PID", OPEN);
        }
        String[] ids = args.get(0).split(":", -1);
        if (ids.length != 2) {
            throw new UsageException("'" + args.get(0) + "' is not VID:PID", OPEN);
        }
        int vid = parseId(ids[0], OPEN);
        int pid = parseId(ids[1], OPEN);
        Hid.open(vid, pid).close();
        out.printf("opened %04x:%04x%n", vid, pid);
        return 0;
    }

    private int write(List<String> args) throws UsageException, HIDException {
        if (args.size() < 2) {
            throw new UsageException("expects a path and at least one byte", WRITE);
        }
        byte[] report = parseBytes(args.subList(1, args.size()), WRITE);
        try (HidDevice device = Hid.open(args.get(0))) {
            device.write(report);
        }
        out.printf("wrote %d bytes to %s%n", report.length, args.get(0));
        return 0;
    }

    private int read(List<String> options) throws UsageException, HIDException {
        int timeout = -1;
        boolean decode = false;
        List<String> args = new ArrayList<>();
        for (int i = 0; i < options.size(); i++) {
            if (options.get(i).equals("--timeout")) {
                timeout = i + 1 < options.size() ? parseDecimal(options.get(++i), 0, Integer.MAX_VALUE) : -1;
                if (timeout < 0) {
                    throw new UsageException("--timeout needs a number of milliseconds", READ);
                }
            } else if (options.get(i).equals("--decode")) {
                decode = true;
            } else {
                args.add(options.get(i));
            }
        }
        if (decode) {
            if (args.size() != 1) {
                throw new UsageException("--decode expects a path alone: the report is decoded whole", READ);
            }
            return readDecoded(args.get(0), timeout);
        }
        if (args.size() != 2) {
            throw new UsageException("expects a path and a length", READ);
        }
        int length = parseDecimal(args.get(1), 1, MAX_REPORT);
        if (length < 0) {
            throw new UsageException("'" + args.get(1) + "' is not a length from 1 to " + MAX_REPORT
                    + " (hidraw's largest report)", READ);
        }
        byte[] report = new byte[length];
        try (HidDevice device = Hid.open(args.get(0))) {
            if (device.read(report, timeout) == 0) {
                err.printf("portula read: no input report from %s within %d ms%n", args.get(0), timeout);
                return FAILED;
            }
        }
        out.println(hex(report));
        return 0;
    }

    private int readDecoded(String path, int timeout) throws HIDException {
        try (HidDevice device = Hid.open(path)) {
            // parsed before the wait: a malformed descriptor fails at once
            ReportDescriptor descriptor = ReportDescriptor.parse(device.reportDescriptor());
            byte[] report = device.read(timeout);
            if (report.length == 0) {
                err.printf("portula read: no input report from %s within %d ms%n", path, timeout);
                return FAILED;
            }
            out.println(RecordingCommands.values(descriptor.decodeInput(report), report));
        }
        return 0;
    }

    private int feature(List<String> args) throws UsageException, HIDException {
        boolean get = args.size() == 4 && args.get(0).equals("get");
        boolean send = args.size() >= 3 && args.get(0).equals("send");
        if (!get && !send) {
            throw new UsageException("expects get PATH ID LENGTH, or send PATH ID HEX...", FEATURE);
        }
        int id = parseHex(args.get(2), 0xFF, "report ID", FEATURE);
        try (HidDevice device = Hid.open(args.get(1))) {
            if (get) {
                int length = parseDecimal(args.get(3), 1, MAX_REPORT - 1);
                if (length < 0) {
                    throw new UsageException("'" + args.get(3) + "' is not a length from 1 to " + (MAX_REPORT - 1),
                            FEATURE);
                }
                out.println(hex(device.getFeatureReport(id, length)));
            } else {
                byte[] payload = parseBytes(args.subList(3, args.size()), FEATURE);
                device.sendFeatureReport(id, payload);
                out.printf("sent feature report %02x, %d bytes, to %s%n", id, payload.length + 1, args.get(1));
            }
        }
        return 0;
    }

    private int watch(List<String> args) throws UsageException, HIDException {
        boolean present = false;
        int vid = 0;
        int pid = 0;
        int millis = -1;
        for (int i = 0; i < args.size(); i++) {
            String option = args.get(i);
            if (option.equals("--present")) {
                present = true;
                continue;
            }
            if (i + 1 == args.size()) {
                throw new UsageException("unexpected argument '" + option + "'", WATCH);
            }
            String value = args.get(++i);
            if (option.equals("--vid")) {
                vid = parseId(value, WATCH);
            } else if (option.equals("--pid")) {
                pid = parseId(value, WATCH);
            } else if (option.equals("--for") && (millis = parseDecimal(value, 0, Integer.MAX_VALUE)) >= 0) {
                continue;
            } else {
                throw new UsageException("unexpected argument '" + option + " " + value + "'", WATCH);
            }
        }
        HidWatchListener printer = new HidWatchListener() {
            @Override
            public void attached(HidDeviceInfo device) {
                out.println("attached " + device);
                out.flush();
            }

            @Override
            public void detached(HidDeviceInfo device) {
                out.println("detached " + device);
                out.flush();
            }
        };
        HidWatch watch = Hid.watch(printer, present, vid, pid);
        try {
            if (millis >= 0) {
                Thread.sleep(millis);
            } else {
                Thread.currentThread().join();   // until the VM is interrupted
            }
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        } finally {
            watch.close();
        }
        return 0;
    }

    private static byte[] parseBytes(List<String> texts, String usage) throws UsageException {
        byte[] bytes = new byte[texts.size()];
        for (int i = 0; i < bytes.length; i++) {
            bytes[i] = (byte) parseHex(texts.get(i), 0xFF, "byte", usage);
        }
        return bytes;
    }

    /** The number, or -1 if text is none from min to max. */
    static int parseDecimal(String text, int min, int max) {
        try {
            int value = Integer.parseInt(text);
            return value >= min && value <= max ? value : -1;
        } catch (NumberFormatException e) {
            return -1;
        }
    }

    private static int parseId(String text, String usage) throws UsageException {
        return parseHex(text, 0xFFFF, "ID", usage);
    }

    private static int parseHex(String text, int max, String what, String usage) throws UsageException {
        String digits = text.toLowerCase(Locale.ROOT);
        if (digits.startsWith("0x")) {
            digits = digits.substring(2);
        }
        int digitsMax = Integer.toHexString(max).length();
        if (digits.isEmpty() || digits.length() > digitsMax || !digits.matches("[0-9a-f]+")) {
            throw new UsageException("'" + text + "' is not a hex " + what + " (at most "
                    + digitsMax + " hex digits)", usage);
        }
        return Integer.parseInt(digits, 16);
    }

    private static String stripTrailing(String line) {
        int end = line.length();
        while (end > 0 && Character.isWhitespace(line.charAt(end - 1))) {
            end--;
        }
        return line.substring(0, end);
    }

    private static String orDash(String text) {
        return text == null || text.isEmpty() ? "-" : text;
    }

    private static String hex(byte[] bytes) {
        StringBuilder text = new StringBuilder();
        for (byte b : bytes) {
            if (text.length() > 0) {
                text.append(' ');
            }
            text.append(String.format("%02x", b & 0xFF));
        }
        return text.toString();
    }
}
