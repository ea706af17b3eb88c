#!/usr/bin/env python3
"""Writes the hand-made seeds of fuzz/corpus (seed-*): real kinds of devices,
their report descriptors written item by item from the HID usage tables
(pages: 0x01 Generic Desktop, 0x07 Keyboard, 0x08 LEDs, 0x09 Button,
0x0C Consumer, 0xFF00 vendor), with the input layout of fuzz/harness.cpp.
None is copied from a recording. Run from anywhere: python3 fuzz/make_seeds.py
"""
import os
import struct

# --- report descriptor items (short items: tag|type|size, little-endian data)
def item(prefix, value=None, size=None):
    if value is None:
        return bytes([prefix])
    if size is None:
        size = 1 if 0 <= value <= 0xFF else 2 if 0 <= value <= 0xFFFF else 4
    code = {1: 1, 2: 2, 4: 3}[size]
    return bytes([prefix | code]) + value.to_bytes(size, "little", signed=value < 0)

usage_page = lambda v: item(0x04, v)
usage = lambda v: item(0x08, v)
usage_min = lambda v: item(0x18, v)
usage_max = lambda v: item(0x28, v)
logical_min = lambda v: item(0x14, v, 1 if -128 <= v <= 127 else 2)
logical_max = lambda v: item(0x24, v, 1 if -128 <= v <= 127 else 2)
report_size = lambda v: item(0x74, v)
report_count = lambda v: item(0x94, v)
report_id = lambda v: item(0x84, v)
collection = lambda v: item(0xA0, v)
end_collection = bytes([0xC0])
inp = lambda v: item(0x80, v)
out = lambda v: item(0x90, v)
feature = lambda v: item(0xB0, v)
DATA_VAR_ABS, CONST, DATA_ARR_ABS, DATA_VAR_REL = 0x02, 0x01, 0x00, 0x06
APPLICATION, PHYSICAL, LOGICAL = 0x01, 0x00, 0x02

def cat(*parts):
    return b"".join(parts)

# Boot keyboard: modifiers, reserved byte, 5 LEDs out, 6 key codes.
keyboard = cat(
    usage_page(0x01), usage(0x06), collection(APPLICATION),
    usage_page(0x07), usage_min(0xE0), usage_max(0xE7), logical_min(0), logical_max(1),
    report_size(1), report_count(8), inp(DATA_VAR_ABS),
    report_count(1), report_size(8), inp(CONST),
    report_count(5), report_size(1), usage_page(0x08), usage_min(1), usage_max(5), out(DATA_VAR_ABS),
    report_count(1), report_size(3), out(CONST),
    report_count(6), report_size(8), logical_min(0), logical_max(101),
    usage_page(0x07), usage_min(0), usage_max(101), inp(DATA_ARR_ABS),
    end_collection)

# Boot mouse: 3 buttons, X, Y relative, in a physical pointer collection.
mouse = cat(
    usage_page(0x01), usage(0x02), collection(APPLICATION),
    usage(0x01), collection(PHYSICAL),
    usage_page(0x09), usage_min(1), usage_max(3), logical_min(0), logical_max(1),
    report_count(3), report_size(1), inp(DATA_VAR_ABS),
    report_count(1), report_size(5), inp(CONST),
    usage_page(0x01), usage(0x30), usage(0x31), usage(0x38), logical_min(-127), logical_max(127),
    report_size(8), report_count(3), inp(DATA_VAR_REL),
    end_collection, end_collection)

# Gamepad with numbered reports: 1 = 16 buttons, 4 axes, hat; 2 = rumble out;
# 3 = a feature report for its settings.
gamepad = cat(
    usage_page(0x01), usage(0x05), collection(APPLICATION),
    report_id(1),
    usage_page(0x09), usage_min(1), usage_max(16), logical_min(0), logical_max(1),
    report_size(1), report_count(16), inp(DATA_VAR_ABS),
    usage_page(0x01), usage(0x30), usage(0x31), usage(0x32), usage(0x35),
    logical_min(0), logical_max(255), report_size(8), report_count(4), inp(DATA_VAR_ABS),
    usage(0x39), logical_min(0), logical_max(7), item(0x34, 0), item(0x44, 315, 2), item(0x65, 0x14),
    report_size(4), report_count(1), inp(0x42),
    report_size(4), report_count(1), inp(CONST),
    report_id(2), usage_page(0xFF00), usage(0x01), logical_min(0), logical_max(255),
    report_size(8), report_count(4), out(DATA_VAR_ABS),
    report_id(3), usage(0x02), report_count(16), feature(DATA_VAR_ABS),
    end_collection)

# Vendor page, 64-byte reports both ways and a feature report, no IDs.
vendor = cat(
    usage_page(0xFF00), usage(0x01), collection(APPLICATION),
    logical_min(0), logical_max(255), report_size(8),
    report_count(64), usage(0x01), inp(DATA_VAR_ABS),
    report_count(64), usage(0x01), out(DATA_VAR_ABS),
    report_count(64), usage(0x01), feature(DATA_VAR_ABS),
    end_collection)

# A media keyboard's three top-level collections: keyboard (ID 1), consumer
# control (ID 2), system control (ID 3); hidapi lists it three times.
consumer = cat(
    usage_page(0x0C), usage(0x01), collection(APPLICATION), report_id(2),
    logical_min(0), item(0x26, 0x3FF, 2), usage_min(0), item(0x2A, 0x3FF, 2),
    report_size(16), report_count(1), inp(DATA_ARR_ABS), end_collection)
system = cat(
    usage_page(0x01), usage(0x80), collection(APPLICATION), report_id(3),
    usage_min(0x81), usage_max(0x83), logical_min(0), logical_max(1),
    report_size(1), report_count(3), inp(DATA_VAR_ABS), report_count(5), inp(CONST),
    end_collection)
multi = keyboard[:6] + report_id(1) + keyboard[6:] + consumer + system

# Joystick whose first collection has no usage of its own, and a logical
# collection inside: the pair hidapi reports comes later.
joystick = cat(
    usage_page(0x01), collection(APPLICATION), usage(0x04), collection(LOGICAL),
    usage(0x30), usage(0x31), logical_min(-127), logical_max(127), report_size(8), report_count(2),
    inp(DATA_VAR_ABS), end_collection, end_collection,
    usage(0x04), collection(APPLICATION), usage_page(0x09), usage(1), report_size(8),
    report_count(1), inp(DATA_VAR_ABS), end_collection)

# Descriptors that break the rules.
long_item = bytes([0xFE, 0x04, 0x10, 1, 2, 3, 4]) + vendor          # long item first
truncated = keyboard[:-1] + bytes([0x27, 0xFF])                     # a 4-byte item cut short
cut_long = vendor + bytes([0xFE])                                   # a long item's key alone
usage_only = cat(usage_page(0xFF01), usage(0x02))                   # no collection at all
many_collections = cat(*[usage(i & 0xFF) + collection(APPLICATION) + end_collection
                         for i in range(1300)])[:4096]              # 4096 bytes, ~1300 pairs
full = (vendor * 200)[:4096]

# --- the input layout ---------------------------------------------------------
def chunk(data):
    return struct.pack("<H", len(data)) + data

def seed(shape, faults, vid, pid, descriptor=b"", manufacturer=b"", product=b"", serial=b"",
         release=0x0100, interface=0, when=0, extra=b"", ops=b""):
    head = bytes([shape, faults]) + struct.pack("<HHHBB", vid, pid, release, interface, when)
    return head + chunk(manufacturer) + chunk(product) + chunk(serial) + chunk(descriptor) + extra + ops

M, P, S, NO_NODE, RAW, NUMBERED, CR, VANISH = 1, 2, 4, 8, 0x10, 0x20, 0x40, 0x80
NAMES = M | P | S
push = lambda data: bytes([0]) + struct.pack("<H", len(data) - 1) + data
read = lambda cap: bytes([1]) + struct.pack("<H", cap - 1)
read_blocking = lambda cap: bytes([2]) + struct.pack("<H", cap - 1)
write = lambda data: bytes([3]) + struct.pack("<H", len(data)) + data
get_feature = lambda data, cap: bytes([4]) + struct.pack("<H", len(data) - 1) + data + struct.pack("<H", cap - 1)
get_input = lambda data, cap: bytes([5]) + struct.pack("<H", len(data) - 1) + data + struct.pack("<H", cap - 1)
strings = lambda n: bytes([6, n])
flood = lambda count, length: bytes([7, count - 1]) + struct.pack("<H", length - 1)
unplug = bytes([8])

io = (push(bytes(range(8))) + read(64) + write(bytes([0]) + bytes(range(64))) + push(b"\x01" * 65)
      + read_blocking(16) + get_feature(bytes([0]) + bytes(64), 65) + strings(255))

seeds = {
    "keyboard": seed(NAMES | RAW, 0, 0x1209, 0x0001, keyboard, b"Orvanta", b"Keyboard", b"KB-0001",
                     ops=push(bytes(8)) + read(8) + write(bytes([0, 0x02])) + strings(32)),
    "mouse": seed(P | RAW, 0, 0x1209, 0x0002, mouse, product=b"Mouse", interface=1,
                  ops=push(bytes([1, 5, 0xFB])) + read_blocking(3) + read(3)),
    "gamepad-numbered": seed(NAMES | RAW, 0, 0x1209, 0x0003, gamepad, b"Orvanta", b"Pad", b"P1",
                             ops=push(bytes([1]) + bytes(7)) + read(64) + write(bytes([2, 0xFF, 0, 0xFF, 0]))
                             + get_feature(bytes([3]) + bytes(16), 17) + get_input(bytes([1]) + bytes(7), 8)),
    "vendor-64": seed(NAMES | RAW, 0, 0x1209, 0xEC40, vendor, b"Orvanta Labs", b"Echo", b"E1", ops=io),
    "multi-collection": seed(NAMES | RAW, 0, 0x1209, 0x0004, multi, b"Orvanta", b"Media Keyboard", b"MK",
                             ops=push(bytes([2, 0xE9, 0])) + read(3) + strings(8)),
    "joystick-logical": seed(NAMES | RAW, 0, 0x1209, 0x0005, joystick, b"Orvanta", b"Stick", b"J"),
    "long-item": seed(NAMES | RAW, 0, 0x1209, 0x0006, long_item, b"a", b"b", b"c", ops=io),
    "truncated-item": seed(NAMES | RAW, 0, 0x1209, 0x0007, truncated, b"a", b"b", b"c"),
    "cut-long-item": seed(NAMES | RAW, 0, 0x1209, 0x0008, cut_long, b"a", b"b", b"c"),
    "usage-no-collection": seed(NAMES | RAW, 0, 0x1209, 0x0009, usage_only),
    "many-collections": seed(NAMES | RAW, 0, 0x1209, 0x000A, many_collections),
    "full-4096": seed(NAMES | RAW, 0, 0x1209, 0x000B, full, ops=io),
    "empty-descriptor": seed(NAMES | RAW, 0, 0x1209, 0x000C, b"", b"x", b"y", b"z", ops=io),
    "default-numbered": seed(NAMES | NUMBERED, 0, 0x1209, 0x000D, ops=push(bytes([2]) + bytes(32)) + read(33)),
    # strings: empty, long, control characters, invalid and out-of-range UTF-8
    "strings-empty": seed(NAMES | RAW, 0, 0x1209, 0x0010, vendor, b"", b"", b"", ops=strings(1) + strings(0)),
    "strings-long": seed(NAMES | RAW, 0, 0x1209, 0x0011, vendor, "Größe 測試 🎮 ".encode() * 60,
                         b"P" * 4000, "序列号".encode() * 30, ops=strings(255) + strings(7)),
    "strings-control": seed(NAMES | RAW | CR, 0, 0x1209, 0x0012, vendor, bytes(range(1, 32)) + b"\x7f",
                            b"tab\there\x1b[31m", b"\x01\x02", ops=strings(64)),
    "strings-invalid-utf8": seed(NAMES | RAW, 0, 0x1209, 0x0013, vendor, b"\xff\xfe bad", b"\xed\xa0\x80 surrogate",
                                 b"\xc0\x80 overlong", ops=strings(64)),
    "strings-beyond-unicode": seed(NAMES | RAW, 0, 0x1209, 0x0014, vendor, b"\xf4\x90\x80\x80", b"\xfd\xbf\xbf\xbf\xbf\xbf",
                                   b"\xf8\x88\x80\x80\x80", ops=strings(16)),
    "strings-nul": seed(NAMES | RAW, 0, 0x1209, 0x0015, vendor, b"before\0after", b"\0", b"S\0N"),
    "strings-newline": seed(NAMES | RAW, 0, 0x1209, 0x0016, vendor, b"Evil", b"x\nHID_NAME=again\nHID_UNIQ=twice",
                            b"s\nHID_ID=0005:0000DEAD:0000BEEF", ops=strings(64)),
    "strings-absent": seed(RAW, 0, 0x1209, 0x0017, vendor, ops=strings(64)),
    # odd IDs and sysfs faults
    "ids-zero": seed(NAMES | RAW, 0, 0, 0, vendor, b"z", b"z", b"z", release=0, ops=io),
    "ids-max": seed(NAMES | RAW, 0x80, 0xFFFF, 0xFFFF, vendor, b"m", b"m", b"m", release=0xFFFF, interface=255, ops=io),
    "sysfs-no-bcd-no-descriptor": seed(NAMES | RAW, 0x01 | 0x04, 0x1209, 0x0020, vendor, b"a", b"b", b"c", ops=io),
    "sysfs-garbage-interface": seed(NAMES | RAW, 0x02, 0x1209, 0x0021, vendor, extra=chunk(b"-7fffffffffff\n")),
    "sysfs-other-descriptor": seed(NAMES | RAW, 0x08, 0x1209, 0x0022, vendor, extra=chunk(many_collections + b"\x09\x01" * 2000)),
    "uevent-bluetooth": seed(NAMES | RAW, 0x10, 0x1209, 0x0023, mouse, extra=chunk(b"0005:00001209:00000023")),
    "uevent-garbage-id": seed(NAMES | RAW, 0x10, 0x1209, 0x0024, mouse, extra=chunk(b"zz:zz")),
    "uevent-i2c": seed(NAMES | RAW, 0x10, 0x1209, 0x0027, mouse, extra=chunk(b"0018:00001209:00000027")),
    "uevent-spi": seed(NAMES | RAW, 0x10, 0x1209, 0x0028, mouse, extra=chunk(b"001C:00001209:00000028")),
    "uevent-unknown-bus": seed(NAMES | RAW, 0x10, 0x1209, 0x0029, mouse, extra=chunk(b"0099:00001209:00000029")),
    "uevent-past-1024-bytes": seed(NAMES | RAW, 0x10, 0x1209, 0x002A, mouse,
                                   extra=chunk(b"0003:00001209:0000002A\nHID_NAME=" + b"N" * 1500)),
    "uevent-no-uniq-no-name": seed(NAMES | RAW, 0x20 | 0x40, 0x1209, 0x0025, mouse),
    "no-node": seed(NAMES | RAW | NO_NODE, 0x80, 0x1209, 0x0026, vendor, b"a", b"b", b"c", ops=io),
    # devices that vanish, queues that overflow, reports of every size
    "vanish-before-open": seed(NAMES | RAW, 0, 0x1209, 0x0030, vendor, when=1, ops=io),
    "vanish-after-open": seed(NAMES | RAW, 0, 0x1209, 0x0031, vendor, when=2, ops=io),
    "vanish-on-open-by-path": seed(NAMES | RAW | VANISH, 0, 0x1209, 0x0032, vendor, ops=io),
    "twin-without-node": seed(NAMES | RAW, 0x80, 0x1209, 0x0033, vendor, b"a", b"b", b"c", when=3, ops=io),
    "unplug-mid-io": seed(NAMES | RAW, 0, 0x1209, 0x0034, vendor, ops=push(bytes(64)) + unplug + read(64)
                          + read_blocking(64) + write(bytes(65)) + strings(8) + get_feature(bytes(8), 8)),
    "flood": seed(NAMES | RAW, 0, 0x1209, 0x0035, vendor, ops=flood(96, 64) + read(64) * 70),
    "reports-extremes": seed(NAMES | RAW, 0, 0x1209, 0x0036, vendor,
                             ops=push(b"\x01") + read(1) + push(bytes(16384)) + read(16384) + push(bytes(16384))
                             + read(100) + write(b"\x00") + write(bytes(16384)) + write(bytes(16385))
                             + get_feature(bytes(16383), 16383) + read(16385)),
}

folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
os.makedirs(folder, exist_ok=True)
for name, data in seeds.items():
    with open(os.path.join(folder, "seed-" + name), "wb") as f:
        f.write(data)
print(f"{len(seeds)} seeds in {folder}")
