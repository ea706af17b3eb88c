package com.orvanta.hid.descriptor;

import java.io.BufferedReader;
import java.io.IOException;
import java.io.Reader;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import java.util.Locale;
import java.util.Objects;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

/**
 * A recording of a HID device: its report descriptor, what the kernel calls it, and the input
 * reports it sent, each with its time. An immutable value, equal to another with the same
 * device and events (its {@link #warnings()} aside).
 *
 * <p>Its text is the one the kernel HID community's recorder writes, one line each:
 * <pre>
 * R: 52 05 01 09 02 a1 01 ...          the report descriptor: its length, then its bytes in hex
 * N: Orvanta Labs Mouse                the kernel's HID name: the rest of the line
 * P: usb-0000:00:14.0-1/input0         the physical path: the rest of the line
 * I: 3 1209 0001                       bus, vendor and product in hex (bus 3 USB, 5 Bluetooth, 18 I2C, 1c SPI)
 * E: 000000.000000 4 01 00 00 00       an input report: seconds.microseconds from the first, length, bytes
 * E: 000000.008012 4 00 ff 01 00
 * </pre>
 * Blank lines and lines starting with {@code #} are comments. {@code D: n} starts device n
 * (the lines before any are device 0's): a text of several devices reads only with the device
 * picked, {@link #read(Reader, int)}. Lines of any other letter ({@code B:} and the like) are
 * skipped, each letter with one of the {@link #warnings()}. Reading takes numbers zero-padded or
 * not, microseconds of 1 to 6 digits (the digits are microseconds: {@code 1.5} is 1 s and
 * 5 &micro;s, as the recorders' own replay reads them), and whitespace at the start and end of a
 * line (but that {@code N:} and {@code P:} keep what follows {@code "N: "} whole); it fails on
 * anything else with the line at fault, and keeps nothing.
 *
 * <pre>{@code
 * Recording recording;
 * try (Reader in = Files.newBufferedReader(Paths.get("mouse.hid"))) {
 *     recording = Recording.read(in);
 * }
 * ReportDescriptor descriptor = ReportDescriptor.parse(recording.descriptor());
 * for (Recording.Event e : recording.events()) {
 *     System.out.println(e.micros() + " us: " + descriptor.decodeInput(e.report()));
 * }
 * }</pre>
 */
public final class Recording {
    /** The most bytes of a report descriptor, as the kernel takes them. */
    private static final int MAX_DESCRIPTOR = 4096;
    /** The most bytes of a report, report ID included, as hidraw carries them. */
    private static final int MAX_REPORT = 16384;

    /** One input report of a recording, with its time. An immutable value. */
    public static final class Event {
        private final long micros;
        private final byte[] report;

        /**
         * @param micros its time, in microseconds from the recording's first report; 0 or more
         * @param report the report as the device sent it (the report ID first where the device
         *     numbers its reports): 1 to 16384 bytes
         * @throws NullPointerException if report is null
         * @throws IllegalArgumentException if micros is negative or report has no bytes or too many
         */
        public Event(long micros, byte[] report) {
            if (micros < 0) {
                throw new IllegalArgumentException("an event's time is 0 or more microseconds, not " + micros);
            }
            this.micros = micros;
            this.report = checkedReport(Objects.requireNonNull(report, "report"));
        }

        private static byte[] checkedReport(byte[] report) {
            if (report.length == 0 || report.length > MAX_REPORT) {
                throw new IllegalArgumentException("a report is 1 to " + MAX_REPORT + " bytes, not " + report.length);
            }
            return report.clone();
        }

        /** @return its time, in microseconds from the recording's first report */
        public long micros() {
            return micros;
        }

        /** @return the report (a copy) */
        public byte[] report() {
            return report.clone();
        }

        @Override
        public boolean equals(Object o) {
            return o instanceof Event && ((Event) o).micros == micros && Arrays.equals(((Event) o).report, report);
        }

        @Override
        public int hashCode() {
            return 31 * Long.hashCode(micros) + Arrays.hashCode(report);
        }

        /** @return its line as a recording holds it: {@code E: 000001.000250 3 01 02 03} */
        @Override
        public String toString() {
            StringBuilder line = new StringBuilder("E: ");
            padded(line, micros / 1_000_000).append('.');
            String fraction = Long.toString(micros % 1_000_000);
            for (int pad = 6 - fraction.length(); pad > 0; pad--) {
                line.append('0');
            }
            return hex(line.append(fraction).append(' ').append(report.length), report).toString();
        }

        private static StringBuilder padded(StringBuilder line, long seconds) {
            String digits = Long.toString(seconds);
            for (int pad = 6 - digits.length(); pad > 0; pad--) {
                line.append('0');
            }
            return line.append(digits);
        }
    }

    private final byte[] descriptor;
    private final String name;
    private final String physicalPath;
    private final int bus;
    private final int vendorId;
    private final int productId;
    private final List<Event> events;
    private final List<String> warnings;

    /**
     * A recording of these values, without warnings.
     *
     * @param descriptor the report descriptor, 1 to 4096 bytes
     * @param name the kernel's HID name, or null for none (no {@code N:} line)
     * @param physicalPath the physical path, or null for none (no {@code P:} line)
     * @param bus the kernel's bus number (3 USB, 5 Bluetooth, 0x18 I2C, 0x1C SPI), 0 to 0xFFFF;
     *     or -1, with both IDs -1, for none (no {@code I:} line)
     * @param vendorId 0 to 0xFFFF, or -1 with bus
     * @param productId 0 to 0xFFFF, or -1 with bus
     * @param events the input reports, in order
     * @throws NullPointerException if descriptor, events or an event is null
     * @throws IllegalArgumentException if a value is out of its range, or a name or path spans lines
     */
    public Recording(byte[] descriptor, String name, String physicalPath, int bus, int vendorId, int productId,
            List<Event> events) {
        this(checkedDescriptor(descriptor), oneLine("name", name), oneLine("physical path", physicalPath),
                checkedIds(bus, vendorId, productId), vendorId, productId, copy(events),
                Collections.<String>emptyList());
    }

    private Recording(byte[] descriptor, String name, String physicalPath, int bus, int vendorId, int productId,
            List<Event> events, List<String> warnings) {
        this.descriptor = descriptor;
        this.name = name;
        this.physicalPath = physicalPath;
        this.bus = bus;
        this.vendorId = vendorId;
        this.productId = productId;
        this.events = events;
        this.warnings = warnings;
    }

    private static byte[] checkedDescriptor(byte[] descriptor) {
        if (Objects.requireNonNull(descriptor, "descriptor").length == 0 || descriptor.length > MAX_DESCRIPTOR) {
            throw new IllegalArgumentException("a report descriptor is 1 to " + MAX_DESCRIPTOR + " bytes, not "
                    + descriptor.length);
        }
        return descriptor.clone();
    }

    private static String oneLine(String what, String text) {
        if (text != null && (text.indexOf('\n') >= 0 || text.indexOf('\r') >= 0)) {
            throw new IllegalArgumentException("a recording's " + what + " is one line: " + text);
        }
        return text;
    }

    private static int checkedIds(int bus, int vendorId, int productId) {
        boolean none = bus == -1 && vendorId == -1 && productId == -1;
        if (!none && ((bus | vendorId | productId) & ~0xFFFF) != 0) {
            throw new IllegalArgumentException(String.format(Locale.ROOT,
                    "bus, vendor and product are 0 to 0xffff, or all -1 for none: %d, %d, %d", bus, vendorId, productId));
        }
        return bus;
    }

    private static List<Event> copy(List<Event> events) {
        List<Event> copy = new ArrayList<>(Objects.requireNonNull(events, "events"));
        for (Event e : copy) {
            Objects.requireNonNull(e, "event");
        }
        return Collections.unmodifiableList(copy);
    }

    /**
     * Reads a recording of one device.
     *
     * @param in the text; read to its end, not closed
     * @return the recording
     * @throws NullPointerException if in is null
     * @throws IOException if in fails
     * @throws RecordingException if the text breaks the format, or holds several devices
     */
    public static Recording read(Reader in) throws IOException, RecordingException {
        return new Reading(-1).read(Objects.requireNonNull(in, "in"));
    }

    /**
     * Reads one device's recording from a text that may hold several: its {@code R:},
     * {@code N:}, {@code P:} and {@code I:} lines and its events, those that follow its
     * {@code D:} line (or precede any, for device 0). The other devices' lines must be well
     * formed too.
     *
     * @param in the text; read to its end, not closed
     * @param device the device's number, as its {@code D:} line gives it
     * @return the recording
     * @throws NullPointerException if in is null
     * @throws IllegalArgumentException if device is negative
     * @throws IOException if in fails
     * @throws RecordingException if the text breaks the format, or has no such device
     */
    public static Recording read(Reader in, int device) throws IOException, RecordingException {
        Objects.requireNonNull(in, "in");
        if (device < 0) {
            throw new IllegalArgumentException("a device number is 0 or more, not " + device);
        }
        return new Reading(device).read(in);
    }

    /**
     * Writes the recording as {@link #read(Reader)} reads it, each line ending in {@code \n}:
     * {@code R:}, then {@code N:}, {@code P:} and {@code I:} where it has them, then one
     * {@code E:} line per event ({@link Event#toString()}).
     *
     * @param out where it goes
     * @throws NullPointerException if out is null
     * @throws IOException if out fails
     */
    public void write(Appendable out) throws IOException {
        Objects.requireNonNull(out, "out");
        out.append(hex(new StringBuilder("R: ").append(descriptor.length), descriptor)).append('\n');
        if (name != null) {
            out.append("N: ").append(name).append('\n');
        }
        if (physicalPath != null) {
            out.append("P: ").append(physicalPath).append('\n');
        }
        if (bus >= 0) {
            out.append(String.format(Locale.ROOT, "I: %x %04x %04x", bus, vendorId, productId)).append('\n');
        }
        for (Event e : events) {
            out.append(e.toString()).append('\n');
        }
    }

    private static StringBuilder hex(StringBuilder line, byte[] bytes) {
        for (byte b : bytes) {
            line.append(' ').append(Character.forDigit((b & 0xFF) >> 4, 16)).append(Character.forDigit(b & 0xF, 16));
        }
        return line;
    }

    /** @return the report descriptor (a copy), 1 to 4096 bytes */
    public byte[] descriptor() {
        return descriptor.clone();
    }

    /** @return the kernel's HID name, or null where the recording has none */
    public String name() {
        return name;
    }

    /** @return the physical path (where the device is attached), or null where the recording has none */
    public String physicalPath() {
        return physicalPath;
    }

    /** @return the kernel's bus number (3 USB, 5 Bluetooth, 0x18 I2C, 0x1C SPI), or -1 where the recording has none */
    public int bus() {
        return bus;
    }

    /** @return the vendor ID, 0 to 0xFFFF, or -1 where the recording has none */
    public int vendorId() {
        return vendorId;
    }

    /** @return the product ID, 0 to 0xFFFF, or -1 where the recording has none */
    public int productId() {
        return productId;
    }

    /** @return the input reports, in order (unmodifiable) */
    public List<Event> events() {
        return events;
    }

    /**
     * @return what reading passed over, one line each ({@code line 7: B: lines skipped}); empty for
     *     a recording made otherwise. Not part of the value.
     */
    public List<String> warnings() {
        return warnings;
    }

    @Override
    public boolean equals(Object o) {
        if (!(o instanceof Recording)) {
            return false;
        }
        Recording r = (Recording) o;
        return bus == r.bus && vendorId == r.vendorId && productId == r.productId
                && Arrays.equals(descriptor, r.descriptor) && Objects.equals(name, r.name)
                && Objects.equals(physicalPath, r.physicalPath) && events.equals(r.events);
    }

    @Override
    public int hashCode() {
        return Objects.hash(Arrays.hashCode(descriptor), name, physicalPath, bus, vendorId, productId, events);
    }

    /** @return {@code recording of "Orvanta Labs Mouse", bus 3 1209:0001: a descriptor of 52 bytes, 12 events} */
    @Override
    public String toString() {
        return "recording of " + (name == null ? "an unnamed device" : '"' + name + '"')
                + (bus < 0 ? "" : String.format(Locale.ROOT, ", bus %x %04x:%04x", bus, vendorId, productId))
                + ": a descriptor of " + descriptor.length + " bytes, " + events.size()
                + (events.size() == 1 ? " event" : " events");
    }

    /** One reading of a text: the picked device's lines (or the only device's), line by line. */
    private static final class Reading {
        private static final Pattern SPACES = Pattern.compile("[ \t]+");
        private static final Pattern DECIMAL = Pattern.compile("[0-9]{1,9}");
        private static final Pattern HEX_ID = Pattern.compile("[0-9a-fA-F]{1,8}");
        private static final Pattern TIME = Pattern.compile("([0-9]{1,12})\\.([0-9]{1,6})");

        private final int picked;   // -1: the only device
        private int first = -1;     // the device seen first
        private int current;        // whose lines these are
        private boolean pickedSeen;
        private int line;
        private byte[] descriptor;
        private String name;
        private String physicalPath;
        private int[] ids;
        private final List<Event> events = new ArrayList<>();
        private final List<String> warnings = new ArrayList<>();
        private final boolean[] warned = new boolean[128];

        Reading(int picked) {
            this.picked = picked;
        }

        Recording read(Reader in) throws IOException, RecordingException {
            BufferedReader lines = in instanceof BufferedReader ? (BufferedReader) in : new BufferedReader(in);
            for (String text; (text = lines.readLine()) != null; ) {
                line++;
                take(text);
            }
            line = Math.max(line, 1);
            if (picked >= 0 && !pickedSeen) {
                throw fault("no device " + picked + " in the recording");
            }
            if (descriptor == null) {
                throw fault("no R: line: a recording starts with the report descriptor");
            }
            return new Recording(descriptor, name, physicalPath, ids == null ? -1 : ids[0], ids == null ? -1 : ids[1],
                    ids == null ? -1 : ids[2], Collections.unmodifiableList(events),
                    Collections.unmodifiableList(warnings));
        }

        private RecordingException fault(String problem) {
            return new RecordingException(line, problem);
        }

        private void take(String text) throws RecordingException {
            int at = 0;
            while (at < text.length() && (text.charAt(at) == ' ' || text.charAt(at) == '\t')) {
                at++;
            }
            if (at == text.length() || text.charAt(at) == '#') {
                return;
            }
            char kind = text.charAt(at);
            boolean letter = kind < 128 && Character.isLetter(kind);
            if (!letter || at + 1 == text.length() || text.charAt(at + 1) != ':') {
                throw fault("not a recording line (a letter and a colon, or # for a comment)");
            }
            String rest = text.substring(at + 2);
            if (kind == 'D') {
                device(rest.trim());
                return;
            }
            if ("RNPIE".indexOf(kind) < 0) {   // another recorder's, and no device's
                if (!warned[kind]) {
                    warned[kind] = true;
                    warnings.add("line " + line + ": " + kind + ": lines skipped");
                }
                return;
            }
            if (first < 0) {
                first = current;   // lines before any D: are device 0's
            }
            boolean mine = picked < 0 || current == picked;
            pickedSeen |= current == picked;
            switch (kind) {
                case 'R': {
                    byte[] bytes = bytes("R", rest, MAX_DESCRIPTOR);
                    if (mine && descriptor != null) {
                        throw fault("a second R: line for the device");
                    }
                    descriptor = mine ? bytes : descriptor;
                    break;
                }
                case 'N':
                case 'P': {
                    String value = rest.startsWith(" ") ? rest.substring(1) : rest;
                    if (mine && (kind == 'N' ? name : physicalPath) != null) {
                        throw fault("a second " + kind + ": line for the device");
                    }
                    if (mine && kind == 'N') {
                        name = value;
                    } else if (mine) {
                        physicalPath = value;
                    }
                    break;
                }
                case 'I': {
                    int[] read = ids(rest.trim());
                    if (mine && ids != null) {
                        throw fault("a second I: line for the device");
                    }
                    ids = mine ? read : ids;
                    break;
                }
                case 'E': {
                    Event event = event(rest.trim());
                    if (mine && descriptor == null) {
                        throw fault("an event before the device's R: line");
                    }
                    if (mine) {
                        events.add(event);
                    }
                    break;
                }
                default:
                    throw new AssertionError(kind);
            }
        }

        private void device(String value) throws RecordingException {
            if (!DECIMAL.matcher(value).matches()) {
                throw fault("D: takes a device number in decimal, not '" + value + "'");
            }
            current = Integer.parseInt(value);
            pickedSeen |= current == picked;
            if (first < 0) {
                first = current;
            } else if (picked < 0 && current != first) {
                throw fault("a second device (D: " + current + " after device " + first
                        + "): this recording holds several, so read it with one picked");
            }
        }

        /** "LENGTH HEX..." with 1 to max bytes. */
        private byte[] bytes(String kind, String value, int max) throws RecordingException {
            String[] words = SPACES.split(value.trim(), -1);
            if (!DECIMAL.matcher(words[0]).matches()) {
                throw fault(kind + ": takes a length in decimal, then that many bytes in hex");
            }
            int length = Integer.parseInt(words[0]);
            if (length < 1 || length > max) {
                throw fault(kind + ": takes 1 to " + max + " bytes, not " + length);
            }
            int given = words.length - 1;
            if (given != length) {
                throw fault(kind + ": says " + length + " bytes, but " + given + " follow");
            }
            byte[] bytes = new byte[length];
            for (int i = 0; i < length; i++) {
                String word = words[i + 1];
                int high = word.length() == 2 ? hexDigit(word.charAt(0)) : 0;
                int low = word.length() <= 2 ? hexDigit(word.charAt(word.length() - 1)) : -1;
                if (high < 0 || low < 0) {
                    throw fault("'" + word + "' is not a byte in hex");
                }
                bytes[i] = (byte) (high << 4 | low);
            }
            return bytes;
        }

        /** ASCII only: Character.digit would take other scripts' digits and fullwidth letters. */
        private static int hexDigit(char c) {
            return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        }

        private int[] ids(String value) throws RecordingException {
            String[] words = SPACES.split(value, -1);
            if (words.length != 3 || !HEX_ID.matcher(words[0]).matches() || !HEX_ID.matcher(words[1]).matches()
                    || !HEX_ID.matcher(words[2]).matches()) {
                throw fault("I: takes bus, vendor and product in hex");
            }
            int[] ids = new int[3];
            for (int i = 0; i < 3; i++) {
                long id = Long.parseLong(words[i], 16);
                if (id > 0xFFFF) {
                    throw fault("I: takes numbers of 0 to ffff, not " + words[i]);
                }
                ids[i] = (int) id;
            }
            return ids;
        }

        private Event event(String value) throws RecordingException {
            int space = value.indexOf(' ');
            int tab = value.indexOf('\t');
            int gap = space < 0 ? tab : tab < 0 ? space : Math.min(space, tab);
            Matcher time = TIME.matcher(gap < 0 ? value : value.substring(0, gap));
            if (!time.matches()) {
                throw fault("E: takes a time, seconds.microseconds (1 to 6 digits), then a length and bytes");
            }
            long micros = Long.parseLong(time.group(1)) * 1_000_000 + Integer.parseInt(time.group(2));
            return new Event(micros, bytes("E", gap < 0 ? "" : value.substring(gap), MAX_REPORT));
        }
    }
}
