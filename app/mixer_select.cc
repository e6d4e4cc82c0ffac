#include "app/mixer_select.h"

#include <vector>

#include "app/console_reporter.h"
#include "platform/os/console.h"

namespace quorvel {
namespace {

// The kinds that can be named, for messages: "sim:PATH, a simulated device
// file; alsa:NAME, an ALSA control device".
std::string known_kinds(std::span<const MixerRegistration> backends) {
  std::string known;
  for (const MixerRegistration& backend : backends) {
    if (backend.open_named == nullptr) continue;
    if (!known.empty()) known += "; ";
    known += std::string(backend.kind) + ":" + backend.name_form;
  }
  return known;
}

// The machine's mixer: the first default back-end that finds one. A
// back-end that claims the machine and fails to open ends the search with
// its failure.
MixerOpening open_default(std::span<const MixerRegistration> backends, Reporter& reporter) {
  std::vector<std::string> reasons;
  for (const MixerRegistration& backend : backends) {
    if (backend.open_default == nullptr) continue;
    MixerOpening opened = backend.open_default(reporter);
    if (opened && *opened) return opened;
    if (opened) continue;
    if (backend.claims_machine != nullptr && backend.claims_machine()) return opened;
    reasons.push_back(opened.message());
  }
  for (const std::string& reason : reasons) reporter.error(reason);
  return MixerOpening(nullptr);
}

}  // namespace

MixerOpening open_mixer(const std::optional<std::string>& value, Reporter& reporter) {
  return open_mixer(mixer_backends(), value, reporter);
}

MixerOpening open_mixer(std::span<const MixerRegistration> backends,
                        const std::optional<std::string>& value, Reporter& reporter) {
  if (!value || value->empty()) return open_default(backends, reporter);
  const std::string& text = *value;
  auto fail = [&](const std::string& reason) {
    return MixerOpening(Error{std::string(kMixerVariable) + "=" + text + ": " + reason});
  };
  // A mixer named is one the run must have.
  auto named = [&](MixerOpening opened) {
    if (!opened) return fail(opened.message());
    if (!*opened) return fail("no such mixer");
    return opened;
  };
  const std::size_t colon = text.find(':');
  if (colon == std::string::npos) {
    // A kind alone: that back-end's own default mixer, where it has one.
    for (const MixerRegistration& backend : backends) {
      if (text != backend.kind || backend.open_bare == nullptr) continue;
      return named(backend.open_bare(reporter));
    }
  }
  if (colon == std::string::npos || colon == 0) {
    return fail("not a mixer (use KIND:NAME: " + known_kinds(backends) + ")");
  }
  const std::string kind = text.substr(0, colon);
  const std::string name = text.substr(colon + 1);
  for (const MixerRegistration& backend : backends) {
    if (kind != backend.kind) continue;
    if (backend.open_named == nullptr) {
      return fail("a " + kind + " mixer cannot be named (leave " + kMixerVariable +
                  " unset for the machine's mixer)");
    }
    if (name.empty()) {
      return fail("nothing named after \"" + kind + ":\" (use " + kind + ":" +
                  backend.name_form + ")");
    }
    return named(backend.open_named(name, reporter));
  }
  return fail("unknown mixer kind \"" + kind + "\" (this build knows " + known_kinds(backends) +
              ")");
}

}  // namespace quorvel
