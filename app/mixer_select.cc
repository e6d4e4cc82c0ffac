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
Result open_default(std::span<const MixerRegistration> backends, Reporter& reporter,
                    std::unique_ptr<OpenedMixer>& out) {
  std::vector<std::string> reasons;
  for (const MixerRegistration& backend : backends) {
    if (backend.open_default == nullptr) continue;
    Result opened = backend.open_default(reporter, out);
    if (out) return Result();
    if (!opened && backend.claims_machine != nullptr && backend.claims_machine()) return opened;
    if (!opened) reasons.push_back(opened.message());
  }
  for (const std::string& reason : reasons) reporter.error(reason);
  return Result();
}

}  // namespace

Result open_mixer(const std::optional<std::string>& value, Reporter& reporter,
                  std::unique_ptr<OpenedMixer>& out) {
  return open_mixer(mixer_backends(), value, reporter, out);
}

Result open_mixer(std::span<const MixerRegistration> backends,
                  const std::optional<std::string>& value, Reporter& reporter,
                  std::unique_ptr<OpenedMixer>& out) {
  out.reset();
  if (!value || value->empty()) return open_default(backends, reporter, out);
  const std::string& text = *value;
  auto fail = [&](const std::string& reason) {
    return Result::failure(std::string(kMixerVariable) + "=" + text + ": " + reason);
  };
  const std::size_t colon = text.find(':');
  if (colon == std::string::npos) {
    // A kind alone: that back-end's own default mixer, where it has one.
    for (const MixerRegistration& backend : backends) {
      if (text != backend.kind || backend.open_bare == nullptr) continue;
      Result opened = backend.open_bare(reporter, out);
      if (!opened) return fail(opened.message());
      if (!out) return fail("no such mixer");
      return Result();
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
    Result opened = backend.open_named(name, reporter, out);
    if (!opened) return fail(opened.message());
    if (!out) return fail("no such mixer");
    return Result();
  }
  return fail("unknown mixer kind \"" + kind + "\" (this build knows " + known_kinds(backends) +
              ")");
}

}  // namespace quorvel
