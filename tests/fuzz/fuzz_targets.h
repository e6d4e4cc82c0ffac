// The fuzz targets: each takes any bytes and traps when the program breaks
// one of its rules on them. Built into the fuzzers (with libFuzzer's entry
// point) and into the tests, which replay the saved inputs.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorvel {

// The bytes as a mixer document, loaded and restored onto a simulated
// device.
int fuzz_restore(const std::uint8_t* data, std::size_t size);

// The bytes as a simulated device's file: loaded, written back, loaded
// again; the two devices must be the same.
int fuzz_device_file(const std::uint8_t* data, std::size_t size);

}  // namespace quorvel
