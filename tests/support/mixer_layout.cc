#include "support/mixer_layout.h"

#include <gtest/gtest.h>

namespace quorvel::testing {

std::vector<LineView> read_layout(const MixerHandle& handle) {
  MixerService& service = *handle.service();
  std::vector<LineView> lines;
  MixerCaps caps;
  EXPECT_EQ(service.get_dev_caps(handle, caps), MMSYSERR_NOERROR);
  auto add = [&](const MixerLine& line) {
    LineView view{line, std::vector<MixerControl>(line.cControls)};
    MixerLineControls query;
    query.dwLineID = line.dwLineID;
    query.cControls = line.cControls;
    query.pamxctrl = view.controls.data();
    EXPECT_EQ(service.get_line_controls(handle, query, ControlsQuery::kAll), MMSYSERR_NOERROR)
        << "controls of line " << line.dwLineID;
    lines.push_back(view);
  };
  for (std::uint32_t i = 0; i < caps.cDestinations; ++i) {
    MixerLine destination;
    destination.dwDestination = i;
    EXPECT_EQ(service.get_line_info(handle, destination, LineQuery::kDestination),
              MMSYSERR_NOERROR);
    add(destination);
    for (std::uint32_t j = 0; j < destination.cConnections; ++j) {
      MixerLine source;
      source.dwDestination = i;
      source.dwSource = j;
      EXPECT_EQ(service.get_line_info(handle, source, LineQuery::kSource), MMSYSERR_NOERROR);
      add(source);
    }
  }
  return lines;
}

const LineView* find_line(const std::vector<LineView>& layout, std::uint32_t id) {
  for (const LineView& view : layout) {
    if (view.line.dwLineID == id) return &view;
  }
  return nullptr;
}

}  // namespace quorvel::testing
