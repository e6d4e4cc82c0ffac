// Applications' streams apart from the server: the key a stream's
// properties give, and a volume taken onto another stream's channels.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/pulse/pulse_streams.h"

namespace quorvel::pulse {
namespace {

TEST(PulseStreamsTest, KeyIsTheServersIdElseTheFirstNamingProperty) {
  struct Case {
    bool playback;
    StreamNames names;
    const char* key;
  } cases[] = {
      {true, {"sink-input-by-application-name:Given", "phone", "id", "App", "Song"},
       "sink-input-by-application-name:Given"},
      {true, {nullptr, "phone", "id", "App", "Song"}, "sink-input-by-media-role:phone"},
      {false, {nullptr, nullptr, "org.Recorder", "App", "Song"},
       "source-output-by-application-id:org.Recorder"},
      {true, {nullptr, nullptr, nullptr, "App", "Song"}, "sink-input-by-application-name:App"},
      {false, {nullptr, nullptr, nullptr, nullptr, "Song"}, "source-output-by-media-name:Song"},
      {true, {}, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(stream_key(c.playback, c.names), c.key);

  bool playback = false;
  EXPECT_TRUE(is_application_key("sink-input-by-media-role:phone", playback));
  EXPECT_TRUE(playback);
  EXPECT_TRUE(is_application_key("source-output-by-application-name:A", playback));
  EXPECT_FALSE(playback);
  EXPECT_FALSE(is_application_key("x-foo-by-role:bar", playback));
  EXPECT_EQ(name_in_key("sink-input-by-application-name:Web: Radio"), "Web: Radio");
}

TEST(PulseStreamsTest, VolumeGoesByPositionThenSideThenNumber) {
  using Names = std::vector<std::string>;
  using Values = std::vector<std::int32_t>;
  const Names stereo{"front-left", "front-right"};
  const Names surround{"front-left", "front-right", "front-center", "lfe", "rear-left",
                       "rear-right"};
  const Names quad{"front-left", "front-right", "side-left", "side-right"};
  struct Case {
    const char* what;
    Names from;
    Values values;
    Names to;
    Values wanted;
  } cases[] = {
      {"one value, every channel", {}, {500}, stereo, {500, 500}},
      {"mono values, every channel", {"mono"}, {700}, stereo, {700, 700}},
      {"by position, not number", {"front-right", "front-left"}, {10, 20}, stereo, {20, 10}},
      {"a mono stream takes the mean", stereo, {10, 21}, {"mono"}, {16}},
      {"sides, then the mean", stereo, {10, 30}, surround, {10, 30, 20, 20, 10, 30}},
      {"each side's mean", surround, {10, 30, 0, 0, 20, 50}, quad, {10, 30, 15, 40}},
      {"no positions: by number", {}, {10, 30}, stereo, {10, 30}},
      {"by number, the rest the mean", {}, {10, 30}, {"", "", ""}, {10, 30, 20}},
      {"a stream without positions", stereo, {10, 30}, {"", ""}, {10, 30}},
      {"no volume", stereo, {}, stereo, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(volume_for_channels(c.from, c.values, c.to), c.wanted) << c.what;
  }
}

}  // namespace
}  // namespace quorvel::pulse
