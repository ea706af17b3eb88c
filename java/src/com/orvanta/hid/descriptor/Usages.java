package com.orvanta.hid.descriptor;

import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStream;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.util.HashMap;
import java.util.Locale;
import java.util.Map;
import java.util.TreeMap;

/**
 * Usages as this package writes them, one {@code int}: the usage page in the high 16 bits, the
 * usage ID in the low 16 ({@code page << 16 | id}), and their names. The names are those of the
 * HID usage list in {@code usb.ids} (Debian's package {@code usb.ids}, read when the jar was
 * built), spelt as that file spells them: {@code "Generic Desktop Controls / Direction-X"}.
 * Buttons and ordinals the file does not list are {@code "Buttons / Button 9"} and
 * {@code "Ordinal / Instance 4"}; pages and usages it lacks print in hex:
 * {@code "0xff00 / 0x0001"}, {@code "Consumer / 0x0800"}.
 */
public final class Usages {
    private static final int BUTTONS = 0x09;
    private static final int ORDINAL = 0x0A;

    private Usages() {
    }

    /**
     * @param page the usage page, 0 to 0xFFFF
     * @param id the usage ID, 0 to 0xFFFF
     * @return the usage, {@code page << 16 | id}
     * @throws IllegalArgumentException if either is out of range
     */
    public static int of(int page, int id) {
        if ((page & ~0xFFFF) != 0 || (id & ~0xFFFF) != 0) {
            throw new IllegalArgumentException("usage page and ID are 0 to 0xffff: " + page + ", " + id);
        }
        return page << 16 | id;
    }

    /**
     * @param usage a usage, {@code page << 16 | id}
     * @return its name, {@code "Page / Usage"}
     */
    public static String name(int usage) {
        int page = usage >>> 16;
        int id = usage & 0xFFFF;
        String name = Table.NAMES.get(usage);
        if (name == null && id != 0 && (page == BUTTONS || page == ORDINAL)) {
            name = (page == BUTTONS ? "Button " : "Instance ") + id;
        }
        return pageName(page) + " / " + (name != null ? name : hex(id));
    }

    /**
     * @param page a usage page, 0 to 0xFFFF
     * @return its name, or its number in hex ({@code "0xff00"}) where the list has none
     * @throws IllegalArgumentException if page is out of range
     */
    public static String pageName(int page) {
        if ((page & ~0xFFFF) != 0) {
            throw new IllegalArgumentException("a usage page is 0 to 0xffff: " + page);
        }
        String name = Table.PAGES.get(page);
        return name != null ? name : hex(page);
    }

    /**
     * The usage of a name as {@link #name} prints it, in any case. {@code "Buttons / Button N"} and
     * {@code "Ordinal / Instance N"} name every button and ordinal, also those the list spells
     * otherwise ({@code "Buttons / Button 1"} is {@code "Buttons / Button 1 (Primary)"}).
     *
     * @param name a name such as {@code "Generic Desktop Controls / Direction-X"}
     * @return its usage, {@code page << 16 | id}
     * @throws NullPointerException if name is null
     * @throws IllegalArgumentException if no usage has that name
     */
    public static int forName(String name) {
        String key = java.util.Objects.requireNonNull(name, "name").toLowerCase(Locale.ROOT);
        Integer known = Table.BY_NAME.get(key);
        if (known != null) {
            return known;
        }
        int slash = key.indexOf(" / ");
        if (slash > 0) {
            int page = parsePage(key.substring(0, slash));
            String rest = key.substring(slash + 3);
            int id = page == BUTTONS && rest.startsWith("button ") ? parseDecimal(rest.substring(7))
                    : page == ORDINAL && rest.startsWith("instance ") ? parseDecimal(rest.substring(9))
                    : parseHex(rest);
            // a usage in hex only where it prints so
            if (page >= 0 && id >= 0 && (!rest.startsWith("0x") || name(of(page, id)).equalsIgnoreCase(name))) {
                return of(page, id);
            }
        }
        throw new IllegalArgumentException("no usage is named '" + name + "'");
    }

    private static int parsePage(String text) {
        Integer page = Table.PAGES_BY_NAME.get(text);
        if (page != null) {
            return page;
        }
        int hex = parseHex(text);
        return hex >= 0 && !Table.PAGES.containsKey(hex) ? hex : -1;
    }

    /** 0x and four hex digits, or -1. */
    private static int parseHex(String text) {
        if (text.length() != 6 || !text.startsWith("0x")) {
            return -1;
        }
        int value = 0;
        for (int i = 2; i < 6; i++) {
            int digit = Character.digit(text.charAt(i), 16);
            if (digit < 0) {
                return -1;
            }
            value = value << 4 | digit;
        }
        return value;
    }

    /** 1 to 65535 in decimal without leading zeros, or -1. */
    private static int parseDecimal(String text) {
        if (text.isEmpty() || text.length() > 5 || text.charAt(0) == '0') {
            return -1;
        }
        int value = 0;
        for (int i = 0; i < text.length(); i++) {
            char c = text.charAt(i);
            if (c < '0' || c > '9') {
                return -1;
            }
            value = value * 10 + (c - '0');
        }
        return value <= 0xFFFF ? value : -1;
    }

    static String hex(int value) {
        return String.format("0x%04x", value);
    }

    /**
     * The list, read once from the jar: usb.ids' lines {@code HUT pp  Page} and, below each,
     * {@code <tab>iii  Usage}, in hex. Without it every name prints in hex.
     */
    private static final class Table {
        static final Map<Integer, String> PAGES = new TreeMap<>();   // sorted: the lowest of two same names wins
        static final Map<Integer, String> NAMES = new TreeMap<>();
        static final Map<String, Integer> PAGES_BY_NAME = new HashMap<>();
        static final Map<String, Integer> BY_NAME = new HashMap<>();

        static {
            try (InputStream in = Usages.class.getResourceAsStream("usages.txt")) {
                if (in != null) {
                    read(new BufferedReader(new InputStreamReader(in, StandardCharsets.UTF_8)));
                }
            } catch (IOException | RuntimeException e) {
                PAGES.clear();
                NAMES.clear();
            }
            for (Map.Entry<Integer, String> page : PAGES.entrySet()) {
                PAGES_BY_NAME.putIfAbsent(page.getValue().toLowerCase(Locale.ROOT), page.getKey());
            }
            for (Map.Entry<Integer, String> usage : NAMES.entrySet()) {
                BY_NAME.putIfAbsent(name(usage.getKey()).toLowerCase(Locale.ROOT), usage.getKey());
            }
        }

        private static void read(BufferedReader lines) throws IOException {
            int page = -1;
            for (String line; (line = lines.readLine()) != null; ) {
                int gap = line.indexOf("  ");
                if (gap < 0) {
                    continue;
                }
                String name = line.substring(gap + 2);
                if (line.startsWith("HUT ")) {
                    page = Integer.parseInt(line.substring(4, gap).trim(), 16);
                    PAGES.putIfAbsent(page, name);
                } else if (line.startsWith("\t") && page >= 0) {
                    NAMES.putIfAbsent(page << 16 | Integer.parseInt(line.substring(1, gap).trim(), 16), name);
                }
            }
        }
    }
}
