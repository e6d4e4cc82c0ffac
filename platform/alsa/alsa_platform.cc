// Linux: the machine's mixer is ALSA.
#include "platform/alsa/alsa_mixer.h"
#include "platform/mixer/platform_mixer.h"
#include "platform/os/console.h"

namespace quorvel {
namespace {

constexpr const char* kDefaultDevice = "default";

}  // namespace

Result open_platform_mixer(std::string_view spec, std::unique_ptr<MixerService>& out) {
  out.reset();
  if (spec.empty()) {
    // The machine's sound cards; without one, ALSA's default control
    // device when it opens: on a desktop with PipeWire or PulseAudio and
    // no sound card, the sound server's mixer. Neither means no mixer, and
    // so does a machine without alsa-lib, which is said first.
    if (Result loaded = load_alsa(); !loaded) {
      report_error("no ALSA mixer: " + loaded.message());
      return Result();
    }
    std::vector<std::string> cards = alsa_card_devices();
    if (!cards.empty()) {
      out = make_alsa_mixer(std::move(cards));
    } else if (!open_alsa_mixer(kDefaultDevice, out)) {
      out.reset();
    }
    return Result();
  }
  const std::size_t colon = spec.find(':');
  const std::string_view kind = spec.substr(0, colon);
  if (colon == std::string_view::npos || kind != "alsa") {
    return Result::failure("unknown mixer kind \"" + std::string(kind) +
                           "\" (use sim:PATH, or alsa:NAME for an ALSA control device)");
  }
  const std::string name(spec.substr(colon + 1));
  if (name.empty()) return Result::failure("no ALSA control device named after \"alsa:\"");
  return open_alsa_mixer(name, out);
}

}  // namespace quorvel
