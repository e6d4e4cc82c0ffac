// Snapshot, reconciliation and applying on simulated devices of 1,000 to
// 100,000 controls, each timed on its own.
#include <benchmark/benchmark.h>

#include <memory>
#include <stdexcept>
#include <sstream>

#include "apply/apply.h"
#include "apply/reconcile.h"
#include "platform/sim/sim_device_file.h"
#include "platform/sim/sim_mixer.h"
#include "platform/xml/xml_dom.h"
#include "snapshot/snapshot.h"
#include "support/synthetic_device.h"

namespace quorvel {
namespace {

struct Fixture {
  explicit Fixture(std::size_t controls)
      : mixer(make_sim_device(controls, 4, static_cast<std::uint32_t>(controls / 400 + 2))) {
    std::optional<std::string> name;
    if (Result built = build_snapshot(saved, mixer, name); !built) {
      throw std::runtime_error("the benchmark device's snapshot failed: " + built.message());
    }
  }
  SimMixer mixer;
  pugi::xml_document saved;
};

void BM_Snapshot(benchmark::State& state) {
  Fixture fixture(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    pugi::xml_document document;
    std::optional<std::string> name;
    benchmark::DoNotOptimize(build_snapshot(document, fixture.mixer, name));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// The snapshot as the outline a restore pairs with.
void BM_SnapshotOutline(benchmark::State& state) {
  Fixture fixture(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    DocumentOutline outline;
    std::optional<std::string> name;
    benchmark::DoNotOptimize(build_snapshot_outline(outline, fixture.mixer, name));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_Reconcile(benchmark::State& state) {
  Fixture fixture(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    // Only the pairing is timed: copying the documents and freeing them
    // (and the lists) are not.
    state.PauseTiming();
    auto input = std::make_unique<pugi::xml_document>();
    input->reset(fixture.saved);
    DocumentOutline snapshot;
    std::optional<std::string> name;
    benchmark::DoNotOptimize(build_snapshot_outline(snapshot, fixture.mixer, name));
    state.ResumeTiming();
    PairedControls paired = pair_documents(*input, snapshot);
    benchmark::DoNotOptimize(paired);
    state.PauseTiming();
    paired = PairedControls();
    input.reset();
    snapshot.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_Apply(benchmark::State& state) {
  Fixture fixture(static_cast<std::size_t>(state.range(0)));
  pugi::xml_document input;
  input.reset(fixture.saved);
  pugi::xml_document snapshot;
  snapshot.reset(fixture.saved);
  const PairedControls paired = pair_documents(input, snapshot);
  for (auto _ : state) {
    for (const auto& controls : paired.lists) {
      benchmark::DoNotOptimize(apply_line_controls(controls, fixture.mixer));
    }
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// Serialising a snapshot in the saved-file format (argument 1), and the
// library's own serialiser on the same document for comparison (0).
void BM_Serialize(benchmark::State& state) {
  Fixture fixture(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    if (state.range(1) != 0) {
      benchmark::DoNotOptimize(serialize_document(fixture.saved));
    } else {
      std::ostringstream out;
      fixture.saved.save(out, "\t", pugi::format_indent | pugi::format_write_bom,
                         pugi::encoding_utf16_le);
      benchmark::DoNotOptimize(out.str());
    }
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// Writing the device file's bytes straight from the device (argument 1),
// and the same writer's tree of it, serialised (0).
void BM_DeviceFile(benchmark::State& state) {
  Fixture fixture(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    if (state.range(1) != 0) {
      benchmark::DoNotOptimize(serialize_sim_device(fixture.mixer.device()));
    } else {
      pugi::xml_document document;
      TreeSink tree(document);
      write_sim_device(fixture.mixer.device(), tree);
      benchmark::DoNotOptimize(serialize_document(document));
    }
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_Serialize)->ArgsProduct({{100000}, {0, 1}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeviceFile)->ArgsProduct({{100000}, {0, 1}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Snapshot)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SnapshotOutline)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reconcile)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Apply)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quorvel
