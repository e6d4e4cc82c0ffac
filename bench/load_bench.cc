// Loading a saved document of 1,000 to 100,000 controls: the DOM's parse
// alone, the well-formedness check alone, the whole load (one pass of the
// conforming parser building the tree), and the simulated device read from
// such a file, in the saved form (UTF-16) and in UTF-8.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "docio/load.h"
#include "platform/os/file_read.h"
#include "platform/sim/sim_device_file.h"
#include "platform/xml/well_formed.h"
#include "platform/xml/xml_dom.h"
#include "platform/xml/xml_parse.h"
#include "support/synthetic_device.h"

namespace quorvel {
namespace {

// The saved document of a synthetic device, UTF-16 (as saved) or UTF-8.
std::string saved_document(std::size_t controls, bool utf16) {
  const auto sources = static_cast<std::uint32_t>(controls / 400 + 2);
  const SimDevice device = make_sim_device(controls, 4, sources);
  if (utf16) return serialize_sim_device(device);
  pugi::xml_document document;
  TreeSink tree(document);
  write_sim_device(device, tree);
  // The saved form's declaration names UTF-16; this form is UTF-8, and a
  // load refuses a document whose declaration says otherwise.
  document.first_child().attribute("encoding").set_value("UTF-8");
  std::ostringstream out;
  document.save(out, "\t", pugi::format_indent, pugi::encoding_utf8);
  return out.str();
}

void BM_DomParse(benchmark::State& state) {
  const std::string bytes =
      saved_document(static_cast<std::size_t>(state.range(0)), state.range(1) != 0);
  for (auto _ : state) {
    pugi::xml_document document;
    benchmark::DoNotOptimize(document.load_buffer(bytes.data(), bytes.size(), kParseOptions));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}

void BM_WellFormedCheck(benchmark::State& state) {
  const std::string bytes =
      saved_document(static_cast<std::size_t>(state.range(0)), state.range(1) != 0);
  const pugi::xml_encoding encoding =
      state.range(1) != 0 ? pugi::encoding_utf16_le : pugi::encoding_utf8;
  for (auto _ : state) {
    WellFormedness checked = check_well_formed(bytes, encoding);
    if (!checked.well_formed) state.SkipWithError(checked.reason.c_str());
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

// The simulated device read from its file: straight into the model, as
// the program does, and through a DOM tree, as it did before.
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
      std::string whole;
      loaded = read_file_whole(path, whole);
      if (loaded) loaded = load_sim_device_bytes(whole, "bench.xml", device);
    } else {
      loaded = load_sim_device(path, device, piece);
    }
    if (!loaded) state.SkipWithError(loaded.message().c_str());
  }
  std::filesystem::remove(path);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}

void BM_DeviceReadViaTree(benchmark::State& state) {
  const std::string bytes =
      saved_document(static_cast<std::size_t>(state.range(0)), state.range(1) != 0);
  for (auto _ : state) {
    pugi::xml_document document;
    SimDevice device;
    if (parse_xml_document(document, bytes).problem != XmlProblem::kNone) {
      state.SkipWithError("not parsed");
    }
    Result loaded = load_sim_device(document, device);
    if (!loaded) state.SkipWithError(loaded.message().c_str());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}

// Arguments: controls, and 1 for UTF-16 (0: UTF-8).
#define QUORVEL_LOAD_ARGS \
  ArgsProduct({{1000, 10000, 100000}, {1, 0}})->ArgNames({"controls", "utf16"}) \
      ->Unit(benchmark::kMillisecond)
BENCHMARK(BM_DomParse)->QUORVEL_LOAD_ARGS;
BENCHMARK(BM_WellFormedCheck)->QUORVEL_LOAD_ARGS;
BENCHMARK(BM_Load)->QUORVEL_LOAD_ARGS;
BENCHMARK(BM_DeviceRead)->QUORVEL_LOAD_ARGS;
BENCHMARK(BM_DeviceReadViaTree)->QUORVEL_LOAD_ARGS;
BENCHMARK(BM_DeviceReadFile)
    ->ArgsProduct({{100000}, {0, 1024, 2048, 4096, 8192}})
    ->ArgNames({"controls", "piece_kib"})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quorvel
