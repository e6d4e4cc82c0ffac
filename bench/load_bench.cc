// Loading a saved document of 1,000 to 100,000 controls: the conforming
// parser's pass alone, the whole load (the same pass building the
// document), and the simulated device read from such a file, in the saved
// form (UTF-16) and in UTF-8.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "docio/load.h"
#include "platform/os/file_read.h"
#include "platform/sim/sim_device_file.h"
#include "platform/xml/xml_read.h"
#include "support/synthetic_device.h"

namespace quorvel {
namespace {

// UTF-16 LE bytes after a byte order mark as UTF-8.
std::string utf16le_to_utf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() / 2);
  auto unit = [&](std::size_t at) {
    return static_cast<char32_t>(static_cast<unsigned char>(bytes[at]) |
                                 static_cast<unsigned char>(bytes[at + 1]) << 8);
  };
  for (std::size_t at = 2; at + 1 < bytes.size(); at += 2) {
    char32_t c = unit(at);
    if (c >= 0xD800 && c < 0xDC00 && at + 3 < bytes.size()) {
      c = 0x10000 + ((c - 0xD800) << 10) + (unit(at + 2) - 0xDC00);
      at += 2;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// The saved document of a synthetic device, UTF-16 (as saved) or UTF-8.
std::string saved_document(std::size_t controls, bool utf16) {
  const auto sources = static_cast<std::uint32_t>(controls / 400 + 2);
  const std::string saved = serialize_sim_device(make_sim_device(controls, 4, sources));
  if (utf16) return saved;
  // The saved form's declaration names UTF-16; this form is UTF-8, and a
  // load refuses a document whose declaration says otherwise.
  std::string text = utf16le_to_utf8(saved);
  const std::string declared = "encoding=\"UTF-16\"";
  text.replace(text.find(declared), declared.size(), "encoding=\"UTF-8\"");
  return text;
}

void BM_WellFormedCheck(benchmark::State& state) {
  const std::string bytes =
      saved_document(static_cast<std::size_t>(state.range(0)), state.range(1) != 0);
  const XmlEncoding encoding = detect_xml_encoding(std::string_view(bytes).substr(0, kXmlSourceHead));
  for (auto _ : state) {
    const Result checked = diagnose_xml(bytes, encoding);
    if (!checked) state.SkipWithError(checked.message().c_str());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}

void BM_Load(benchmark::State& state) {
  const std::string bytes =
      saved_document(static_cast<std::size_t>(state.range(0)), state.range(1) != 0);
  for (auto _ : state) {
    InputDocument document;
    Result loaded = load_from_bytes(document, bytes, "bench.xml");
    if (!loaded) state.SkipWithError(loaded.message().c_str());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}

// The simulated device read from its file, built as the parser goes.
void BM_DeviceRead(benchmark::State& state) {
  const std::string bytes =
      saved_document(static_cast<std::size_t>(state.range(0)), state.range(1) != 0);
  for (auto _ : state) {
    SimDevice device;
    Result loaded = load_sim_device_bytes(bytes, "bench.xml", device);
    if (!loaded) state.SkipWithError(loaded.message().c_str());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}

// The same from a file, read in pieces of the size given in KiB (0: the
// whole file read first, then its bytes).
void BM_DeviceReadFile(benchmark::State& state) {
  const std::string bytes = saved_document(static_cast<std::size_t>(state.range(0)), true);
  // A name of this process's own: benchmarks of other builds may run beside.
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() /
      ("quorvel-bench-device-" + std::to_string(reinterpret_cast<std::uintptr_t>(&bytes)) + "-" +
       std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  const auto piece = static_cast<std::size_t>(state.range(1)) * 1024;
  for (auto _ : state) {
    SimDevice device;
    Result loaded;
    if (piece == 0) {
      const Expected<std::string> whole = read_file_whole(path);
      loaded = whole ? load_sim_device_bytes(*whole, "bench.xml", device)
                     : Result::failure(whole.message());
    } else {
      loaded = load_sim_device(path, device, piece);
    }
    if (!loaded) state.SkipWithError(loaded.message().c_str());
  }
  std::filesystem::remove(path);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}

// Arguments: controls, and 1 for UTF-16 (0: UTF-8).
#define QUORVEL_LOAD_ARGS \
  ArgsProduct({{1000, 10000, 100000}, {1, 0}})->ArgNames({"controls", "utf16"}) \
      ->Unit(benchmark::kMillisecond)
BENCHMARK(BM_WellFormedCheck)->QUORVEL_LOAD_ARGS;
BENCHMARK(BM_Load)->QUORVEL_LOAD_ARGS;
BENCHMARK(BM_DeviceRead)->QUORVEL_LOAD_ARGS;
BENCHMARK(BM_DeviceReadFile)
    ->ArgsProduct({{100000}, {0, 1024, 2048, 4096, 8192}})
    ->ArgNames({"controls", "piece_kib"})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quorvel
