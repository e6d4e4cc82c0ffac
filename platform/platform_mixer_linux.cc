#include <iostream>

#include "platform/alsa_mixer.h"
#include "platform/platform_mixer.h"

namespace quorvel {

bool open_platform_mixer(std::string_view spec, std::unique_ptr<MixerService>& out,
                         std::string& error) {
  out.reset();
  if (spec.empty()) {
    // The machine's sound cards; none means no mixer.
    std::vector<std::string> cards = alsa_card_devices();
    if (!cards.empty()) out = make_alsa_mixer(std::move(cards));
    return true;
  }
  const std::size_t colon = spec.find(':');
  const std::string_view kind = spec.substr(0, colon);
  if (colon == std::string_view::npos || kind != "alsa") {
    error = "unknown mixer kind \"" + std::string(kind) +
            "\" (use sim:PATH, or alsa:NAME for an ALSA control device)";
    return false;
  }
  const std::string name(spec.substr(colon + 1));
  if (name.empty()) {
    error = "no ALSA control device named after \"alsa:\"";
    return false;
  }
  if (!probe_alsa_device(name, error)) return false;
  out = make_alsa_mixer({name});
  return true;
}

void show_message(const char* text, const char* title) {
  std::cerr << title << ": " << text << "\n";
}

}  // namespace quorvel
