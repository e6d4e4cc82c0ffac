// Fuzz target: any bytes as a mixer document, loaded and restored onto a
// simulated device. Whatever the input, the program must neither crash nor
// leave the device in a state its own rules forbid.
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <sstream>
#include <string_view>
#include <utility>

#include "app/console_reporter.h"
#include "apply/reconcile.h"
#include "docio/load.h"
#include "fuzz/fuzz_targets.h"
#include "platform/sim/sim_device_file.h"
#include "platform/sim/sim_mixer.h"
#include "snapshot/snapshot.h"

namespace {

// Two destinations with sources, every kind of value a restore writes
// (volumes, a switch, a pan, an unsigned control, a fader on six channels),
// a meter, a MIXER and a MUX of one item.
constexpr std::string_view kFuzzDevice =
    R"(<audio_mixer>Fuzz Card<destination line_id="-65536" channels="2">Speakers)"
    R"(<line_control ctrl_id="1" ctrl_type="1342373889" max="65535" steps="65535">Volume<value>1</value><value>2</value></line_control>)"
    R"(<line_control ctrl_id="2" ctrl_type="536936450" max="1">Mute<value>0</value></line_control>)"
    R"(<line_control ctrl_id="3" ctrl_type="1073872897" min="-32768" max="32767">Pan<value>0</value><value>0</value></line_control>)"
    R"(<line_control ctrl_id="4" ctrl_type="268566529" min="-32768" max="32767">Peak<value>0</value></line_control>)"
    R"(<line_control ctrl_id="5" ctrl_type="1895890945" max="1">Mix<mixer_list><item selected="1">A</item><item selected="0">B</item></mixer_list></line_control>)"
    R"(<source line_type="4104" channels="2">A)"
    R"(<line_control ctrl_id="6" ctrl_type="1342373889" max="65535" steps="65535">A Volume<value>3</value><value>4</value></line_control>)"
    R"(<line_control ctrl_id="7" ctrl_type="805502976" max="-1">A Unsigned<value>5</value></line_control></source>)"
    R"(<source line_type="4104" channels="6">B)"
    R"(<line_control ctrl_id="8" ctrl_type="1342373888" max="100" steps="100">B Fader<value>6</value></line_control></source></destination>)"
    R"(<destination line_id="-65535" component_type="7" channels="2">Recording)"
    R"(<line_control ctrl_id="9" ctrl_type="1879113729">Select<mux_list><item selected="1">Mic</item></mux_list></line_control>)"
    R"(<source line_type="4099" channels="1">Mic)"
    R"(<line_control ctrl_id="10" ctrl_type="1342373889" max="65535" steps="65535">Mic Volume<value>7</value></line_control>)"
    R"(</source></destination></audio_mixer>)";

}  // namespace

namespace quorvel {

int fuzz_restore(const std::uint8_t* data, std::size_t size) {
  std::ostringstream sink;
  std::streambuf* saved_err = std::cerr.rdbuf(sink.rdbuf());

  SimDevice device;
  if (!load_sim_device_bytes(kFuzzDevice, "fuzz device", device)) __builtin_trap();
  SimMixer mixer(std::move(device));
  InputDocument input;
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (load_from_bytes(input, bytes, "fuzz.xml")) {
    Document snapshot;
    std::optional<std::string> name;
    // A snapshot that fails has said why; the restore runs on what it holds,
    // as the program's does.
    (void)build_snapshot(snapshot, mixer, name, console());
    (void)reconcile_documents(input.document, snapshot, mixer, console());
  }
  std::cerr.rdbuf(saved_err);

  // The device's own rules still hold: a MUX has exactly one item selected.
  std::vector<std::int32_t> mux = mixer.values(9);
  if (mux.size() != 1 || mux[0] != 1) __builtin_trap();
  return 0;
}

}  // namespace quorvel

#ifdef QUORVEL_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return quorvel::fuzz_restore(data, size);
}
#endif
