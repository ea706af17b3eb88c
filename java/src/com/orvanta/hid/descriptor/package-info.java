/**
 * HID report descriptors: what a device's reports mean, and how to read and build them.
 * {@link com.orvanta.hid.descriptor.ReportDescriptor#parse ReportDescriptor.parse} walks the
 * descriptor's items once, as the Linux kernel does, keeping the global items (with their Push
 * stack), the local items since the last main item and the open collections; each Input, Output
 * or Feature item adds a {@link com.orvanta.hid.descriptor.ReportField} to its
 * {@link com.orvanta.hid.descriptor.Report} (one per type and report ID) at the report's current
 * bit offset, and the collections form a tree of
 * {@link com.orvanta.hid.descriptor.HidCollection}s. Malformed bytes raise a
 * {@link com.orvanta.hid.descriptor.ReportDescriptorException} that gives the offset of the item
 * at fault; usage ranges stay ranges, so time and memory follow the descriptor's length (at most
 * 4096 bytes). Decoding finds the report by its ID byte and copies its bits, slot by slot, into a
 * {@link com.orvanta.hid.descriptor.ReportValues} the caller may reuse, which then looks values up
 * by usage ({@link com.orvanta.hid.descriptor.Usages}: {@code page << 16 | id}, or a name from
 * {@code usb.ids}) or by field and slot; a {@link com.orvanta.hid.descriptor.ReportBuilder} writes
 * values into a report's bits the same way round.
 *
 * <pre>{@code
 * ReportDescriptor descriptor = ReportDescriptor.parse(descriptorBytes);
 * int x = Usages.forName("Generic Desktop Controls / Direction-X");
 * ReportValues values = new ReportValues();
 * device.setInputReportListener((d, report) -> {
 *     descriptor.decodeInput(report, 0, report.length, values);
 *     if (values.has(x)) {
 *         System.out.println(values.get(x));
 *     }
 * });
 * device.write(descriptor.builder(ReportType.OUTPUT, 0).set(Usages.of(0x08, 0x01), 1).toBytes());
 * }</pre>
 */
package com.orvanta.hid.descriptor;
