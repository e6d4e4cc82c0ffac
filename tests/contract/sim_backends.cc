// The contract suite on the simulated device: a device file with something
// of every kind the contract speaks of.
#include "contract/mixer_contract.h"
#include "platform/sim/sim_device_file.h"
#include "platform/sim/sim_mixer.h"

namespace quorvel::testing {
namespace {

// A stereo destination with a volume, a mute, a pan, a meter, a control
// whose bounds only make sense unsigned (0x80000000..0xFFFFFFF0), a MUX and
// a MIXER over its three sources (one mono, one without controls); a
// six-channel destination with a volume, a switch whose channels are apart
// and a uniform one, a mono source and a source without channels, whose
// control is not shown. (A name is the text that opens its element.)
constexpr const char* kContractCard = R"(<audio_mixer>Contract Card<destination
 line_id="-65536" channels="2" component_type="4">Speakers<line_control ctrl_id="1"
 ctrl_type="1342373889" steps="65535" min="0" max="65535">Volume<value>100</value><value>200</value>
 </line_control><line_control ctrl_id="2" ctrl_type="536936450" steps="0" min="0" max="1">Mute<value>0</value>
 </line_control><line_control ctrl_id="3" ctrl_type="1073872897" steps="65535" min="-32768"
 max="32767">Pan<value>0</value>
 </line_control><line_control ctrl_id="4" ctrl_type="268566529" steps="0" min="-32768"
 max="32767">Meter<value>5</value>
 </line_control><line_control ctrl_id="5" ctrl_type="805502976" steps="0" min="-2147483648"
 max="-16">Big<value>-1879048192</value>
 </line_control><line_control ctrl_id="6" ctrl_type="1879113729" steps="0" min="0" max="2">Select<mux_list>
  <item selected="1">A</item><item selected="0">B</item><item selected="0">C</item></mux_list>
 </line_control><line_control ctrl_id="7" ctrl_type="1895890945" steps="0" min="0" max="2">Mix<mixer_list>
  <item selected="0">A</item><item selected="1">B</item><item selected="0">C</item></mixer_list>
 </line_control>
 <source channels="1" line_type="4096">A<line_control ctrl_id="10" ctrl_type="536936450" steps="0"
  min="0" max="1">A Mute<value>1</value></line_control></source>
 <source channels="2" line_type="4104">B<line_control ctrl_id="11" ctrl_type="1342373889"
  steps="65535" min="0" max="65535">B Volume<value>1000</value><value>2000</value></line_control></source>
 <source channels="2" line_type="4096">C</source>
</destination>
<destination line_id="-65535" channels="6" component_type="7">Recording<line_control ctrl_id="20"
 ctrl_type="1342373889" steps="65535" min="0" max="65535">Recording Volume<value>600</value>
 <value>601</value><value>602</value><value>603</value><value>604</value><value>605</value>
 </line_control><line_control ctrl_id="22" ctrl_type="536936450" steps="0" min="0"
 max="1">Recording Mute<value>1</value><value>0</value><value>1</value><value>0</value>
 <value>1</value><value>0</value>
 </line_control><line_control ctrl_id="23" ctrl_type="536936449" steps="0" min="0"
 max="1">Recording Boost<value>1</value></line_control>
 <source channels="1" line_type="4099">Mic<line_control ctrl_id="21" ctrl_type="1342373889"
  steps="65535" min="0" max="65535">Mic Volume<value>7</value></line_control></source>
 <source channels="0" line_type="4096">Silent<line_control ctrl_id="24" ctrl_type="1342373889"
  steps="65535" min="0" max="65535">Silent Volume<value>0</value></line_control></source>
</destination></audio_mixer>)";

SimDevice contract_device() {
  SimDevice device;
  const Result loaded = load_sim_device_bytes(kContractCard, "contract card", device);
  if (!loaded) ADD_FAILURE() << loaded.message();
  return device;
}

class SimInstance : public BackendInstance {
 public:
  Mixer& mixer() override { return mixer_; }
  std::unique_ptr<Mixer> another_mixer() override {
    return std::make_unique<SimMixer>(contract_device());
  }

 private:
  SimMixer mixer_{contract_device()};
};

std::vector<MixerBackend> sim_backends() {
  return {MixerBackend{"ContractCard",
                       [] { return std::make_unique<SimInstance>(); },
                       {{Feature::kSharedDevice, "each simulated mixer serves a device of its own"}}}};
}

INSTANTIATE_MIXER_CONTRACT(Sim, sim_backends());

}  // namespace
}  // namespace quorvel::testing
