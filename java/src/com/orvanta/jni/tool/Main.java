package com.orvanta.jni.tool;

import com.orvanta.jni.HIDClassConnector;
import com.orvanta.jni.HIDDevice;
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
 * opens one, writes a report to one or reads a report from one.
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
            "  list [--vid HEX] [--pid HEX]   the HID devices present: path, VID:PID, manufacturer, product",
            "  open VID:PID                   checks that the first device with these IDs can be opened",
            "  write PATH HEX...              sends one output report, report ID first (0 if unnumbered)",
            "  read PATH LENGTH               waits for one input report, prints LENGTH bytes in hex",
            "",
            "COMMAND --help describes one command. Exit codes: 0 done, 1 failed, 2 usage error.");

    private static final String LIST = String.join("\n",
            "usage: java -jar portula.jar list [--vid HEX] [--pid HEX]",
            "",
            "Prints a table of the HID devices present: path, VID:PID (hex), manufacturer, product",
            "(\"-\" when the device reports none). --vid and --pid (hex, e.g. 1209 or 0x1209) keep",
            "only the devices with those IDs.");

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
            "usage: java -jar portula.jar read PATH LENGTH",
            "",
            "Opens the device at PATH, waits for one input report and prints LENGTH bytes in hex:",
            "the report, then zeros. It waits as long as the device sends nothing. LENGTH is 1 to",
            "16384, the largest report hidraw carries.");

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
    private static final class UsageException extends Exception {
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
                default:
                    return read(rest);
            }
        } catch (UsageException e) {
            err.println("portula " + command + ": " + e.getMessage());
            err.println(e.usage);
            return USAGE;
        } catch (HIDException e) {
            err.println("portula " + command + ": " + e.getMessage());
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
            default:
                return null;
        }
    }

    private int list(List<String> args) throws UsageException, HIDException {
        int vid = 0;
        int pid = 0;
        for (int i = 0; i < args.size(); i++) {
            String option = args.get(i);
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
        HIDDevice[] devices;
        long handle = HIDClassConnector._hid_init();
        try {
            devices = HIDClassConnector._enumerateDevices(handle, vid, pid);
        } finally {
            HIDClassConnector._free(handle);
        }
        List<String[]> rows = new ArrayList<>();
        rows.add(new String[] {"PATH", "VID:PID", "MANUFACTURER", "PRODUCT"});
        for (HIDDevice d : devices) {
            rows.add(new String[] {d.getPath(),
                    String.format("%04x:%04x", d.getVendor_id(), d.getProduct_id()),
                    orDash(d.getManufacturer()), orDash(d.getProduct_string())});
        }
        int[] width = new int[3];
        for (String[] row : rows) {
            for (int c = 0; c < width.length; c++) {
                width[c] = Math.max(width[c], row[c].length());
            }
        }
        for (String[] row : rows) {
            out.println(stripTrailing(String.format("%-" + width[0] + "s  %-" + width[1] + "s  %-" + width[2]
                    + "s  %s", (Object[]) row)));
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
        long handle = HIDClassConnector._hid_init();
        try {
            HIDClassConnector._hid_open(handle, vid, pid);
            HIDClassConnector._hid_close(handle);
        } finally {
            HIDClassConnector._free(handle);
        }
        out.printf("opened %04x:%04x%n", vid, pid);
        return 0;
    }

    private int write(List<String> args) throws UsageException, HIDException {
        if (args.size() < 2) {
            throw new UsageException("expects a path and at least one byte", WRITE);
        }
        byte[] report = new byte[args.size() - 1];
        for (int i = 0; i < report.length; i++) {
            report[i] = (byte) parseHex(args.get(i + 1), 0xFF, "byte", WRITE);
        }
        long handle = HIDClassConnector._hid_init();
        try {
            HIDClassConnector._hid_open(handle, args.get(0));
            HIDClassConnector._hid_write(handle, report);
        } finally {
            HIDClassConnector._free(handle);
        }
        out.printf("wrote %d bytes to %s%n", report.length, args.get(0));
        return 0;
    }

    private int read(List<String> args) throws UsageException, HIDException {
        if (args.size() != 2) {
            throw new UsageException("expects a path and a length", READ);
        }
        int length;
        try {
            length = Integer.parseInt(args.get(1));
        } catch (NumberFormatException e) {
            length = -1;
        }
        if (length < 1 || length > MAX_REPORT) {
            throw new UsageException("'" + args.get(1) + "' is not a length from 1 to " + MAX_REPORT
                    + " (hidraw's largest report)", READ);
        }
        byte[] report;
        long handle = HIDClassConnector._hid_init();
        try {
            HIDClassConnector._hid_open(handle, args.get(0));
            report = HIDClassConnector._hid_read(handle, length);
        } finally {
            HIDClassConnector._free(handle);
        }
        out.println(hex(report));
        return 0;
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
