#include "snapshot/snapshot.h"

#include <string>
#include <vector>

#include "common/document_format.h"
#include "platform/os/console.h"
#include "platform/os/file_name.h"
#include "platform/os/text_encoding.h"
#include "platform/xml/dom.h"
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

}  // namespace

Result capture_line_controls(pugi::xml_node parent, const MixerHandle& handle,
                             const MixerLine& line) {
  // A line without channels shows no control, whatever the mixer lists: a
  // control that reports no channels has nothing a document could restore.
  if (line.cControls == 0 || line.cChannels == 0) return Result();
  std::vector<MixerControl> controls(line.cControls);
  MixerLineControls query;
  query.dwLineID = line.dwLineID;
  query.cControls = line.cControls;
  query.pamxctrl = controls.data();
  MixerResult result = handle.service()->get_line_controls(handle, query, ControlsQuery::kAll);
  if (result != MMSYSERR_NOERROR) {
    return reported("cannot read the controls of line " +
                    quote_name(to_wide_string(name_of(line.szName))) + " (id " +
                    std::to_string(line.dwLineID) + "): " + mixer_error(result));
  }
  // Every element is new, so its attributes are appended in the document's
  // order without looking for them first.
  Problems problems;
  for (const MixerControl& control : controls) {
    pugi::xml_node node = create_element(parent, doc::kLineControl);
    if (!node) return Result::failure("cannot add a control to the document");
    set_text(node, to_wide_string(name_of(control.szName)));
    append_int_attribute(node, doc::kCtrlId, static_cast<std::int32_t>(control.dwControlID));
    append_int_attribute(node, doc::kCtrlType, static_cast<std::int32_t>(control.dwControlType));
    append_int_attribute(node, doc::kSteps, static_cast<std::int32_t>(control.Metrics.cSteps));
    append_int_attribute(node, doc::kMin, control.Bounds.lMinimum);
    append_int_attribute(node, doc::kMax, control.Bounds.lMaximum);
    problems.add(capture_control_value(node, line, control, handle));
  }
  return problems.result();
}

Result build_snapshot(pugi::xml_document& document, MixerService& mixer,
                      std::optional<std::string>& default_output_name) {
  if (!load_xml(document, doc::kTemplate)) {
    return reported("cannot load the mixer document template");
  }
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

  pugi::xml_node root = document.last_child();
  const std::string product = to_wide_string(name_of(caps.szPname));
  set_text(root, product);
  default_output_name = default_file_name(product);
  set_int_attribute(root, doc::kDestinations, static_cast<std::int32_t>(caps.cDestinations));

  Problems problems;
  for (std::uint32_t i = 0; i < caps.cDestinations; ++i) {
    MixerLine destination;
    destination.dwDestination = i;
    result = mixer.get_line_info(handle, destination, LineQuery::kDestination);
    if (result != MMSYSERR_NOERROR) {
      problems.add(
          reported("cannot read destination " + std::to_string(i) + ": " + mixer_error(result)));
      continue;
    }
    pugi::xml_node destination_node = create_element(root, doc::kDestination);
    if (!destination_node) return Result::failure("cannot add a destination to the document");
    set_text(destination_node, to_wide_string(name_of(destination.szName)));
    append_int_attribute(destination_node, doc::kLineId,
                         static_cast<std::int32_t>(destination.dwLineID));
    append_int_attribute(destination_node, doc::kChannels,
                         static_cast<std::int32_t>(destination.cChannels));
    append_int_attribute(destination_node, doc::kConnections,
                         static_cast<std::int32_t>(destination.cConnections));
    append_int_attribute(destination_node, doc::kComponentType,
                         static_cast<std::int32_t>(destination.dwComponentType));
    problems.add(capture_line_controls(destination_node, handle, destination));

    const std::uint32_t connections = destination.cConnections;
    for (std::uint32_t j = 0; j < connections; ++j) {
      MixerLine source;
      source.dwDestination = i;
      source.dwSource = j;
      result = mixer.get_line_info(handle, source, LineQuery::kSource);
      if (result != MMSYSERR_NOERROR) {
        problems.add(reported("cannot read source " + std::to_string(j) + " of destination " +
                              std::to_string(i) + ": " + mixer_error(result)));
        continue;
      }
      pugi::xml_node source_node = create_element(destination_node, doc::kSource);
      if (!source_node) return Result::failure("cannot add a source to the document");
      set_text(source_node, to_wide_string(name_of(source.szName)));
      append_int_attribute(source_node, doc::kSrcId, static_cast<std::int32_t>(j));
      append_int_attribute(source_node, doc::kChannels,
                           static_cast<std::int32_t>(source.cChannels));
      append_int_attribute(source_node, doc::kLineType,
                           static_cast<std::int32_t>(source.dwComponentType));
      problems.add(capture_line_controls(source_node, handle, source));
    }
  }
  return problems.result();
}

}  // namespace quorvel
