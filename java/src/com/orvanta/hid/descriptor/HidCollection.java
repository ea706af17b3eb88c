package com.orvanta.hid.descriptor;

import java.util.ArrayList;
import java.util.Collections;
import java.util.List;

/**
 * One Collection of a report descriptor: its type, its usage, the collections nested in it and the
 * fields declared directly within it. An immutable value, equal to another collection with the
 * same type, usage, fields and nested collections.
 */
public final class HidCollection {
    /** The kinds of collection; a value HID 1.11 does not name is {@link #OTHER}, see {@link #rawType()}. */
    public enum Type {
        /** 0x00: values measured at one point. */
        PHYSICAL,
        /** 0x01: a device as applications know it (a mouse, a keyboard). */
        APPLICATION,
        /** 0x02: values that belong together. */
        LOGICAL,
        /** 0x03: the fields of one report. */
        REPORT,
        /** 0x04: an array of selectors. */
        NAMED_ARRAY,
        /** 0x05: modifies the meaning of the usage it holds. */
        USAGE_SWITCH,
        /** 0x06: modifies the meaning of the usage that holds it. */
        USAGE_MODIFIER,
        /** 0x07 to 0xFF: reserved or vendor-defined. */
        OTHER;

        static Type of(int raw) {
            Type[] all = values();
            return raw < all.length - 1 ? all[raw] : OTHER;
        }
    }

    /** All collections of one descriptor, in the order they open, with the extent of each subtree. */
    static final class Tree {
        final int[] rawTypes;
        final int[] usages;
        final int[] depths;
        final int[] ends;   // index after the last collection nested in each
        final List<List<ReportField>> fields;

        Tree(int[] rawTypes, int[] usages, int[] depths, int[] ends, List<List<ReportField>> fields) {
            this.rawTypes = rawTypes;
            this.usages = usages;
            this.depths = depths;
            this.ends = ends;
            this.fields = fields;
        }

        /** @return the top-level collections, each with its nested ones */
        List<HidCollection> build() {
            int n = rawTypes.length;
            HidCollection[] nodes = new HidCollection[n];
            List<List<HidCollection>> children = new ArrayList<>(n);
            for (int i = 0; i < n; i++) {
                children.add(new ArrayList<>());
            }
            List<HidCollection> top = new ArrayList<>();
            int[] parent = new int[n];
            int[] open = new int[n + 1];
            for (int i = 0; i < n; i++) {
                int depth = depths[i];
                open[depth] = i;
                parent[i] = depth == 0 ? -1 : open[depth - 1];
            }
            for (int i = 0; i < n; i++) {   // each list a view, filled below
                nodes[i] = new HidCollection(this, i, Collections.unmodifiableList(children.get(i)));
            }
            for (int i = 0; i < n; i++) {
                (parent[i] < 0 ? top : children.get(parent[i])).add(nodes[i]);
            }
            return Collections.unmodifiableList(top);
        }
    }

    private final Tree tree;
    private final int index;
    private final List<HidCollection> children;

    private HidCollection(Tree tree, int index, List<HidCollection> children) {
        this.tree = tree;
        this.index = index;
        this.children = children;
    }

    /** @return the type; {@link Type#OTHER} for a raw value HID 1.11 does not name */
    public Type type() {
        return Type.of(rawType());
    }

    /** @return the type as the Collection item gives it, 0 to 0xFF */
    public int rawType() {
        return tree.rawTypes[index];
    }

    /** @return its usage, {@code page << 16 | id}; 0 where the descriptor gives none */
    public int usage() {
        return tree.usages[index];
    }

    /** @return the collections nested directly in this one, in order */
    public List<HidCollection> children() {
        return children;
    }

    /** @return the fields declared directly within this collection, in order */
    public List<ReportField> fields() {
        return tree.fields.get(index);
    }

    // Compared and hashed collection by collection in the order they open, not
    // recursively: a hostile descriptor may nest over a thousand deep.
    @Override
    public boolean equals(Object o) {
        if (!(o instanceof HidCollection)) {
            return false;
        }
        HidCollection c = (HidCollection) o;
        int size = tree.ends[index] - index;
        if (c.tree.ends[c.index] - c.index != size) {
            return false;
        }
        for (int k = 0; k < size; k++) {
            int i = index + k;
            int j = c.index + k;
            if (tree.rawTypes[i] != c.tree.rawTypes[j] || tree.usages[i] != c.tree.usages[j]
                    || tree.depths[i] - tree.depths[index] != c.tree.depths[j] - c.tree.depths[c.index]
                    || !tree.fields.get(i).equals(c.tree.fields.get(j))) {
                return false;
            }
        }
        return true;
    }

    @Override
    public int hashCode() {
        int hash = 1;
        for (int i = index; i < tree.ends[index]; i++) {
            hash = 31 * (31 * (31 * hash + tree.rawTypes[i]) + tree.usages[i]) + tree.depths[i] - tree.depths[index];
            hash = 31 * hash + tree.fields.get(i).hashCode();
        }
        return hash;
    }

    /** @return one line: {@code application Generic Desktop Controls / Mouse: 1 collection, 0 fields} */
    @Override
    public String toString() {
        String type = type() == Type.OTHER ? String.format("collection 0x%02x", rawType())
                : type().name().toLowerCase(java.util.Locale.ROOT).replace('_', ' ');
        int fields = fields().size();
        return type + " " + Usages.name(usage()) + ": " + children.size()
                + (children.size() == 1 ? " collection, " : " collections, ") + fields
                + (fields == 1 ? " field" : " fields");
    }
}
