// Snapshot, reconciliation and applying on simulated devices of 1,000 to
// 100,000 controls, each timed on its own.
#include <benchmark/benchmark.h>

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "app/console_reporter.h"
#include "apply/apply.h"
#include "apply/reconcile.h"
#include "platform/document/document_model.h"
#include "platform/sim/sim_device_file.h"
#include "platform/sim/sim_mixer.h"
#include "snapshot/snapshot.h"
#include "support/synthetic_device.h"

namespace quorvel {
namespace {

struct Fixture {
  explicit Fixture(std::size_t controls)
      : mixer(make_sim_device(controls, 4, static_cast<std::uint32_t>(controls / 400 + 2))) {}

  // The snapshot of the mixer as it stands, into `document`.
  void snapshot(Document& document) {
    std::optional<std::string> name;
    if (Result built = build_snapshot(document, mixer, name, console()); !built) {
      throw std::runtime_error("the benchmark device's snapshot failed: " + built.message());
    }
  }

  SimMixer mixer;
};

void BM_Snapshot(benchmark::State& state) {
  Fixture fixture(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    Document document;
    std::optional<std::string> name;
    benchmark::DoNotOptimize(build_snapshot(document, fixture.mixer, name, console()));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// The snapshot written straight in the saved-file format, as a save writes
// it.
void BM_SavedSnapshot(benchmark::State& state) {
  Fixture fixture(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    std::string bytes;
    std::optional<std::string> name;
    benchmark::DoNotOptimize(build_saved_snapshot(bytes, fixture.mixer, name, console()));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_Reconcile(benchmark::State& state) {
  Fixture fixture(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    // Only the pairing is timed: building the documents and freeing them
    // (and the lists) are not.
    state.PauseTiming();
    auto input = std::make_unique<Document>();
    fixture.snapshot(*input);
    auto snapshot = std::make_unique<Document>();
    fixture.snapshot(*snapshot);
    state.ResumeTiming();
    PairedControls paired = pair_documents(*input, *snapshot);
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
  Document input;
  fixture.snapshot(input);
  Document snapshot;
  fixture.snapshot(snapshot);
  const PairedControls paired = pair_documents(input, snapshot);
  for (auto _ : state) {
    for (const auto& controls : paired.lists) {
      benchmark::DoNotOptimize(apply_line_controls(controls, fixture.mixer, console()));
    }
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// Writing the device file's bytes straight from the device.
void BM_DeviceFile(benchmark::State& state) {
  Fixture fixture(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(serialize_sim_device(fixture.mixer.device()));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_DeviceFile)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Snapshot)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SavedSnapshot)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reconcile)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Apply)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quorvel
