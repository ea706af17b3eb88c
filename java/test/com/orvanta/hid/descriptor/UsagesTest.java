package com.orvanta.hid.descriptor;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.List;
import org.junit.jupiter.api.Test;

/** Usage names as usb.ids spells them, the generated ones, and the way back from a name. */
class UsagesTest {
    /** The name usb.ids gives page:id, read from the file itself: "Page / Usage", or null. */
    static String fromFile(List<String> lines, int page, int id) {
        String pageName = null;
        for (String line : lines) {
            if (line.startsWith("HUT ")) {
                pageName = Integer.parseInt(line.substring(4, 6), 16) == page ? line.substring(8) : null;
            } else if (pageName != null && line.startsWith("\t") && Integer.parseInt(line.substring(1, 4), 16) == id) {
                return pageName + " / " + line.substring(6);
            }
        }
        return null;
    }

    @Test
    void namesAreSpeltAsTheFileSpellsThem() throws Exception {
        Path ids = Paths.get("/usr/share/misc/usb.ids");
        assumeTrue(Files.isReadable(ids), "no /usr/share/misc/usb.ids to compare with: skipped");
        List<String> lines = Files.readAllLines(ids, StandardCharsets.UTF_8);
        int[][] spots = {{0x01, 0x30}, {0x01, 0x02}, {0x07, 0x04}, {0x07, 0x34}, {0x09, 0x01}, {0x0C, 0xE9},
            {0x0D, 0x42}, {0x0F, 0x5A}, {0x84, 0x30}};
        for (int[] spot : spots) {
            String expected = fromFile(lines, spot[0], spot[1]);
            assertEquals(expected, Usages.name(Usages.of(spot[0], spot[1])));
            assertEquals(Usages.of(spot[0], spot[1]), Usages.forName(expected));
        }
        assertEquals("Generic Desktop Controls / Direction-X", Usages.name(0x00010030));
        assertEquals("Generic Desktop Controls", Usages.pageName(1));
    }

    @Test
    void buttonsAndOrdinalsBeyondTheFileAreNumberedAndTheRestPrintsInHex() {
        assertEquals("Buttons / Button 6", Usages.name(Usages.of(0x09, 6)));
        assertEquals("Buttons / Button 65535", Usages.name(Usages.of(0x09, 0xFFFF)));
        assertEquals("Ordinal / Instance 4", Usages.name(Usages.of(0x0A, 4)));
        assertEquals(Usages.of(0x09, 1), Usages.forName("buttons / button 1"));   // the file says "Button 1 (Primary)"
        assertEquals(Usages.of(0x09, 300), Usages.forName("Buttons / Button 300"));
        assertEquals(Usages.of(0x0A, 9), Usages.forName("ORDINAL / INSTANCE 9"));
        // a page the file lacks, a usage it lacks, a vendor page
        assertEquals("0x0020 / 0x0031", Usages.name(0x00200031));
        assertEquals("Consumer / 0x0800", Usages.name(0x000C0800));
        assertEquals("0xff00 / 0x0001", Usages.name(0xFF000001));
        assertEquals("0x0006", Usages.pageName(0x06));
        for (int usage : new int[] {0x00200031, 0x000C0800, 0xFF000001, 0x00010030, 0x00090000}) {
            assertEquals(usage, Usages.forName(Usages.name(usage)));
        }
    }

    @Test
    void namesThatNameNothingAreRefused() {
        for (String name : new String[] {"", "Direction-X", "Generic Desktop Controls / 0x0030", "Buttons / Button 0",
            "Buttons / Button 65536", "Buttons / Button 01", "0x0001 / Direction-X", "Generic Desktop Controls/Direction-X",
            " Generic Desktop Controls / Direction-X", "Consumer / Button 3"}) {
            assertThrows(IllegalArgumentException.class, () -> Usages.forName(name), name);
        }
        assertThrows(NullPointerException.class, () -> Usages.forName(null));
        assertThrows(IllegalArgumentException.class, () -> Usages.of(0x10000, 0));
        assertThrows(IllegalArgumentException.class, () -> Usages.of(1, -1));
        assertThrows(IllegalArgumentException.class, () -> Usages.pageName(0x10000));
    }
}
