// Report descriptors of the default emulated devices.
#pragma once

#include <cstdint>
#include <vector>

namespace testbed::detail {

// Vendor page 0xFF00: 64-byte input, output and feature reports, no IDs.
inline const std::vector<std::uint8_t>& unnumbered_descriptor() {
  static const std::vector<std::uint8_t> descriptor = {
      0x06, 0x00, 0xFF,  // Usage Page (Vendor 0xFF00)
      0x09, 0x01,        // Usage (1)
      0xA1, 0x01,        // Collection (Application)
      0x15, 0x00,        //   Logical Minimum (0)
      0x26, 0xFF, 0x00,  //   Logical Maximum (255)
      0x75, 0x08,        //   Report Size (8)
      0x95, 0x40,        //   Report Count (64)
      0x09, 0x01,        //   Usage (1)
      0x81, 0x02,        //   Input (Data, Var, Abs)
      0x95, 0x40,        //   Report Count (64)
      0x09, 0x01,        //   Usage (1)
      0x91, 0x02,        //   Output (Data, Var, Abs)
      0x95, 0x40,        //   Report Count (64)
      0x09, 0x01,        //   Usage (1)
      0xB1, 0x02,        //   Feature (Data, Var, Abs)
      0xC0,              // End Collection
  };
  return descriptor;
}

// Vendor page 0xFF00 with report IDs: 1 = 8-byte input and output,
// 2 = 32-byte input and output, 3 = 16-byte feature.
inline const std::vector<std::uint8_t>& numbered_descriptor() {
  static const std::vector<std::uint8_t> descriptor = {
      0x06, 0x00, 0xFF,  // Usage Page (Vendor 0xFF00)
      0x09, 0x01,        // Usage (1)
      0xA1, 0x01,        // Collection (Application)
      0x15, 0x00,        //   Logical Minimum (0)
      0x26, 0xFF, 0x00,  //   Logical Maximum (255)
      0x75, 0x08,        //   Report Size (8)
      0x85, 0x01,        //   Report ID (1)
      0x95, 0x08,        //   Report Count (8)
      0x09, 0x01,        //   Usage (1)
      0x81, 0x02,        //   Input (Data, Var, Abs)
      0x95, 0x08,        //   Report Count (8)
      0x09, 0x01,        //   Usage (1)
      0x91, 0x02,        //   Output (Data, Var, Abs)
      0x85, 0x02,        //   Report ID (2)
      0x95, 0x20,        //   Report Count (32)
      0x09, 0x01,        //   Usage (1)
      0x81, 0x02,        //   Input (Data, Var, Abs)
      0x95, 0x20,        //   Report Count (32)
      0x09, 0x01,        //   Usage (1)
      0x91, 0x02,        //   Output (Data, Var, Abs)
      0x85, 0x03,        //   Report ID (3)
      0x95, 0x10,        //   Report Count (16)
      0x09, 0x01,        //   Usage (1)
      0xB1, 0x02,        //   Feature (Data, Var, Abs)
      0xC0,              // End Collection
  };
  return descriptor;
}

}  // namespace testbed::detail
