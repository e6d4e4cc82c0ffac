// Fuzz target: any bytes as a mixer document, loaded and restored onto a
// simulated device. Whatever the input, the program must neither crash nor
// leave the device in a state its own rules forbid.
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <sstream>

#include "apply/reconcile.h"
#include "docio/load.h"
#include "fuzz/fuzz_targets.h"
#include "platform/sim/sim_mixer.h"
#include "snapshot/snapshot.h"
#include "support/recording_mixer.h"

namespace {

quorvel::SimDevice fuzz_device() {
  using namespace quorvel;
  SimDevice device;
  device.name = "Fuzz Card";
  SimDestination speakers;
  speakers.name = "Speakers";
  speakers.line_id = 0xFFFF0000;
  speakers.controls = {
      sim_control(1, ctrl::kVolume, "Volume", 0, 65535, 65535, {1, 2}),
      sim_control(2, ctrl::kMute, "Mute", 0, 1, 0, {0}),
      sim_control(3, ctrl::kPan, "Pan", -32768, 32767, 0, {0, 0}),
      sim_control(4, ctrl::kPeakMeter, "Peak", -32768, 32767, 0, {0}),
      sim_list_control(5, ctrl::kMixer, "Mix", {{"A", 1}, {"B", 0}}),
  };
  SimSource a;
  a.name = "A";
  a.line_type = 0x1008;
  a.controls = {sim_control(6, ctrl::kVolume, "A Volume", 0, 65535, 65535, {3, 4}),
                sim_control(7, ctrl::kUnsigned, "A Unsigned", 0, -1, 0, {5})};
  SimSource b;
  b.name = "B";
  b.line_type = 0x1008;
  b.channels = 6;
  b.controls = {sim_control(8, ctrl::kFader, "B Fader", 0, 100, 100, {6})};
  speakers.sources = {a, b};
  SimDestination recording;
  recording.name = "Recording";
  recording.line_id = 0xFFFF0001;
  recording.component_type = kComponentDstWaveIn;
  recording.controls = {sim_list_control(9, ctrl::kMux, "Select", {{"Mic", 1}})};
  SimSource mic;
  mic.name = "Mic";
  mic.line_type = 0x1003;
  mic.channels = 1;
  mic.controls = {sim_control(10, ctrl::kVolume, "Mic Volume", 0, 65535, 65535, {7})};
  recording.sources = {mic};
  device.destinations = {speakers, recording};
  return device;
}

}  // namespace

namespace quorvel {

int fuzz_restore(const std::uint8_t* data, std::size_t size) {
  std::ostringstream sink;
  std::streambuf* saved_err = std::cerr.rdbuf(sink.rdbuf());

  SimMixer mixer(fuzz_device());
  testing::RecordingMixer recorder(mixer);
  InputDocument input;
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (load_from_bytes(input, bytes, "fuzz.xml")) {
    pugi::xml_document snapshot;
    std::optional<std::string> name;
    // A snapshot that fails has said why; the restore runs on what it holds,
    // as the program's does.
    (void)build_snapshot(snapshot, recorder, name);
    (void)reconcile_documents(input.dom, snapshot, recorder);
  }
  std::cerr.rdbuf(saved_err);

  // The device's own rules still hold: a MUX has exactly one item selected,
  // and no handle is left open.
  std::vector<std::int32_t> mux = mixer.values(9);
  if (mux.size() != 1 || mux[0] != 1) __builtin_trap();
  if (recorder.open_handles() != 0) __builtin_trap();
  return 0;
}

}  // namespace quorvel

#ifdef QUORVEL_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return quorvel::fuzz_restore(data, size);
}
#endif
