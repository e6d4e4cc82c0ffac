#include "snapshot/snapshot.h"

#include <new>
#include <string>
#include <vector>

#include "platform/document/document_format.h"
#include "platform/document/document_writer.h"
#include "platform/document/saved_writer.h"
#include "platform/os/console.h"
#include "platform/os/file_name.h"
#include "platform/os/text_encoding.h"
#include "platform/xml/xml_dom.h"
#include "snapshot/capture.h"

namespace quorvel {
namespace {

std::string mixer_error(MixerResult result) { return "mixer error " + std::to_string(result); }

// Reports a problem on a line of its own and returns it as a failure.
Result reported(const std::string& message) {
  report_error(message);
  return Result::failure(message);
}

// The problems of a build, each already reported: the failure of the whole
// is the first of them, with the count of the others.
class Problems {
 public:
  void add(const Result& result) {
    if (result) return;
    if (count_++ == 0) first_ = result.message();
  }
  Result result() const {
    if (count_ == 0) return Result();
    if (count_ == 1) return Result::failure(first_);
    return Result::failure(first_ + " (and " + std::to_string(count_ - 1) + " more)");
  }

 private:
  std::size_t count_ = 0;
  std::string first_;
};

// What the mixer knows of a line beyond its description; nothing when it
// cannot say (the line is then written as its description has it).
LineIdentity identity_of(MixerService& mixer, const MixerHandle& handle, const MixerLine& line) {
  LineIdentity identity;
  if (mixer.get_line_identity(handle, line.dwLineID, identity) != MMSYSERR_NOERROR) return {};
  return identity;
}

}  // namespace

Result capture_line_controls(DocumentSink& sink, const MixerHandle& handle,
                             const MixerLine& line, const LineIdentity& identity, bool* gone) {
  // A line without channels shows no control, whatever the mixer lists: a
  // control that reports no channels has nothing a document could restore.
  if (line.cControls == 0 || line.cChannels == 0) return Result();
  std::vector<MixerControl> controls(line.cControls);
  MixerLineControls query;
  query.dwLineID = line.dwLineID;
  query.cControls = line.cControls;
  query.pamxctrl = controls.data();
  MixerResult result = handle.service()->get_line_controls(handle, query, ControlsQuery::kAll);
  if (result == kMixerGone && gone != nullptr) {
    *gone = true;
    return Result::failure("the mixer went away");
  }
  if (result != MMSYSERR_NOERROR) {
    return reported("cannot read the controls of line " +
                    quote_name(system_to_utf8(name_of(line.szName))) + " (id " +
                    std::to_string(line.dwLineID) + "): " + mixer_error(result));
  }
  Problems problems;
  for (const MixerControl& control : controls) {
    problems.add(capture_control_value(sink, line, control, handle, identity.positions, gone));
    if (sink.failed()) return Result::failure("cannot add a control to the document");
    if (gone != nullptr && *gone) return Result::failure("the mixer went away");
  }
  return problems.result();
}

namespace {

// Room, in bytes of the saved form, for the document of a device of this
// extent: a bound for every name (each character escaped as a reference of
// six), the markup and attributes of every line and control, and every
// value and item. 0, and no room reserved, when the mixer cannot say.
std::size_t saved_size_bound(MixerService& mixer, const MixerHandle& handle) {
  MixerExtent extent;
  if (mixer.get_extent(handle, extent) != MMSYSERR_NOERROR) return 0;
  constexpr std::size_t kName = 6 * kNameChars;
  constexpr std::size_t kLine = 256 + kName;     // markup, attributes, name
  constexpr std::size_t kControl = 256 + kName;  // markup, attributes, name
  constexpr std::size_t kValue = 64;             // a value with its channel, position aside
  constexpr std::size_t kItem = 64 + kName;      // an item with its name
  const std::size_t characters = 1024 + kName + extent.lines * kLine +
                                 extent.controls * kControl + extent.channel_values * kValue +
                                 extent.items * kItem + 6 * extent.text_bytes;
  return 2 * characters;
}

// A sink that keeps nothing of what is written to it.
class DiscardingSink final : public DocumentSink {
 public:
  void prolog(const pugi::xml_document&) override {}
  void start(const char*) override {}
  void attribute(const char*, std::int32_t) override {}
  void attribute(const char*, std::string_view) override {}
  void text(std::string_view) override {}
  void cdata(std::string_view) override {}
  void end() override {}
};

// Describes mixer device 0 into `sink`, from the document's start to its
// end. With `room` (the string a saved form is written into), room for the
// whole document is reserved in it first, so that it is never copied as it
// grows: reserved room that is not written costs no memory.
Result describe_mixer(DocumentSink& sink, MixerService& mixer,
                      std::optional<std::string>& default_output_name,
                      std::string* room = nullptr) {
  MixerHandle handle;
  MixerResult result = mixer.open(0, handle);
  if (result != MMSYSERR_NOERROR) {
    return reported("cannot open mixer device 0: " + mixer_error(result));
  }
  MixerCaps caps;
  result = mixer.get_dev_caps(handle, caps);
  if (result != MMSYSERR_NOERROR) {
    return reported("cannot read the description of mixer device 0: " + mixer_error(result));
  }

  if (room != nullptr) {
    // Room is only a help: without it the string grows as it fills.
    try {
      room->reserve(room->size() + saved_size_bound(mixer, handle));
    } catch (const std::bad_alloc&) {
    }
  }

  const std::string product = system_to_utf8(name_of(caps.szPname));
  start_mixer_document(sink, product, caps.cDestinations);
  default_output_name = default_file_name(product);

  // A mixer that goes away while it is read (a sound server stopped or
  // killed) is said once, and the document, which cannot be complete, fails.
  bool gone = false;
  const auto went_away = [&] {
    return reported("the mixer " + quote_name(product) +
                    " went away while it was read; its document is not complete");
  };
  Problems problems;
  for (std::uint32_t i = 0; i < caps.cDestinations; ++i) {
    MixerLine destination;
    destination.dwDestination = i;
    result = mixer.get_line_info(handle, destination, LineQuery::kDestination);
    if (result == kMixerGone) return went_away();
    if (result != MMSYSERR_NOERROR) {
      problems.add(
          reported("cannot read destination " + std::to_string(i) + ": " + mixer_error(result)));
      continue;
    }
    const std::string destination_name = system_to_utf8(name_of(destination.szName));
    const LineIdentity destination_identity = identity_of(mixer, handle, destination);
    start_destination(sink, {.name = destination_name,
                             .line_id = destination.dwLineID,
                             .channels = destination.cChannels,
                             .connections = destination.cConnections,
                             .component_type = destination.dwComponentType,
                             .server_name = destination_identity.device_name,
                             .product_id = destination_identity.product_id});
    if (sink.failed()) return Result::failure("cannot add a destination to the document");
    problems.add(capture_line_controls(sink, handle, destination, destination_identity, &gone));
    if (gone) return went_away();

    const std::uint32_t connections = destination.cConnections;
    for (std::uint32_t j = 0; j < connections; ++j) {
      MixerLine source;
      source.dwDestination = i;
      source.dwSource = j;
      result = mixer.get_line_info(handle, source, LineQuery::kSource);
      if (result == kMixerGone) return went_away();
      if (result != MMSYSERR_NOERROR) {
        problems.add(reported("cannot read source " + std::to_string(j) + " of destination " +
                              std::to_string(i) + ": " + mixer_error(result)));
        continue;
      }
      const std::string source_name = system_to_utf8(name_of(source.szName));
      const LineIdentity source_identity = identity_of(mixer, handle, source);
      start_source(sink, {.name = source_name,
                          .src_id = j,
                          .channels = source.cChannels,
                          .line_type = source.dwComponentType,
                          .server_name = source_identity.device_name,
                          .product_id = source_identity.product_id});
      if (sink.failed()) return Result::failure("cannot add a source to the document");
      problems.add(capture_line_controls(sink, handle, source, source_identity, &gone));
      if (gone) return went_away();
      sink.end();
    }
    sink.end();
  }
  end_mixer_document(sink);
  return problems.result();
}

}  // namespace

Result build_snapshot(pugi::xml_document& document, MixerService& mixer,
                      std::optional<std::string>& default_output_name) {
  // The bare template is what the document holds when the mixer cannot be
  // described.
  if (!load_xml(document, doc::kTemplate)) {
    return reported("cannot load the mixer document template");
  }
  TreeSink sink(document);
  return describe_mixer(sink, mixer, default_output_name);
}

Result build_saved_snapshot(std::string& bytes, MixerService& mixer,
                            std::optional<std::string>& default_output_name) {
  bytes.clear();
  SavedDocumentWriter sink(bytes);
  return describe_mixer(sink, mixer, default_output_name, &bytes);
}

Result build_snapshot_outline(DocumentOutline& outline, MixerService& mixer,
                              std::optional<std::string>& default_output_name) {
  // Without a mixer to describe, the outline stays empty: the bare
  // template's root would pair no line either.
  outline.reset();
  OutlineSink sink(outline);
  return describe_mixer(sink, mixer, default_output_name);
}

Result check_snapshot(MixerService& mixer, std::optional<std::string>& default_output_name) {
  DiscardingSink sink;
  return describe_mixer(sink, mixer, default_output_name);
}

}  // namespace quorvel
