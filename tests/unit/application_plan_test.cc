// A sound server's applications in a restore: the document's application
// elements paired by key with what the server keeps, the writes planned,
// made and previewed, and the snapshot's elements for them; on a small
// server of the test's own.
#include <gtest/gtest.h>

#include <sstream>

#include "app/console_reporter.h"
#include "apply/application_plan.h"
#include "apply/preview.h"
#include "apply/reconcile.h"
#include "platform/document/document_parse.h"
#include "platform/mixer/control_types.h"
#include "platform/mixer/model_mixer.h"
#include "snapshot/snapshot.h"
#include "support/test_util.h"

namespace quorvel {
namespace {

using testing::CaptureStream;

// Two sinks ("one", "two") and a source ("mic"), without controls, and the
// applications the test gives it; writes are kept, and change what it holds
// as a server would.
class AppServer final : public ModelMixer {
 public:
  AppServer() {
    ModelLayout layout;
    layout.name = "server";
    for (const char* sink : {"one", "two"}) {
      ModelLine line;
      line.name = line.device_name = sink;
      line.component_type = kComponentDstSpeakers;
      layout.add_destination(line);
    }
    ModelLine mic;
    mic.name = mic.device_name = "mic";
    mic.component_type = kComponentDstWaveIn;
    layout.add_destination(mic);
    set_layout(0, std::move(layout));
  }
  unsigned device_count() override { return 1; }
  MixerResult read_applications(unsigned, std::vector<MixerApplication>& out) override {
    out = held;
    return kMixerOk;
  }
  void write_applications(unsigned, std::span<ApplicationWrite> made) override {
    for (ApplicationWrite& write : made) {
      write.result = refuse;
      writes.push_back(write);
    }
  }

  std::vector<MixerApplication> held;
  std::vector<ApplicationWrite> writes;
  MixerResult refuse = kMixerOk;

 private:
  MixerResult read_values(unsigned, const ModelControl&, std::span<std::int32_t>) override {
    return kMixerFailed;
  }
  MixerResult write_values(unsigned, ModelControl&, std::span<const std::int32_t>) override {
    return kMixerFailed;
  }
};

MixerApplication music() {
  return {.key = "sink-input-by-application-name:Music",
          .name = "Music",
          .running = true,
          .positions = {"front-left", "front-right"},
          .volume = {26214, 26214},
          .mute = false,
          .device = "one"};
}

std::string document_with(const std::string& applications) {
  return "<audio_mixer id=\"0\" destinations=\"0\">server" + applications + "</audio_mixer>";
}

// What a preview of `applications` on `server` prints, on each stream.
struct Previewed {
  std::string out;
  std::string err;
  RestorePlan plan;
};

Previewed preview(AppServer& server, const std::string& applications) {
  Document input;
  EXPECT_EQ(parse_document(document_with(applications), input).message(), "");
  Document snapshot;
  std::optional<std::string> name;
  EXPECT_TRUE(build_snapshot(snapshot, server, name, console()));
  Previewed result;
  std::ostringstream out;
  CaptureStream err(std::cerr);
  result.plan = plan_restore(input, snapshot, server, console());
  (void)print_preview(result.plan, out, console());
  result.out = out.str();
  result.err = err.text();
  return result;
}

struct PreviewCase {
  const char* what;
  const char* applications;  // of the document
  const char* out;           // the preview's lines before its counts
  const char* err;
};

class ApplicationPreviewTest : public ::testing::TestWithParam<PreviewCase> {};

TEST_P(ApplicationPreviewTest, PairsByKeyAndPrintsEachChange) {
  AppServer server;
  server.held = {music()};
  const Previewed previewed = preview(server, GetParam().applications);
  // The lines before the counts, which end the preview.
  const std::size_t counts = previewed.out.rfind('\n', previewed.out.size() - 2);
  EXPECT_EQ(counts == std::string::npos ? "" : previewed.out.substr(0, counts + 1), GetParam().out);
  EXPECT_EQ(previewed.err, GetParam().err);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ApplicationPreviewTest,
    ::testing::Values(
        PreviewCase{"unchanged, within a step of the scale",
                    R"(<application key="sink-input-by-application-name:Music" channels="2" mute="0" server_name="one">Music<value ch="1" position="front-left">26215</value><value ch="2" position="front-right">26213</value></application>)",
                    "", ""},
        PreviewCase{"volume, mute and device",
                    R"(<application key="sink-input-by-application-name:Music" channels="2" mute="1" server_name="two">Music<value ch="1">19661</value><value ch="2">26214</value></application>)",
                    "change: application \"Music\" volume ch 1: 26214 (40%) -> 19661 (30%)\n"
                    "change: application \"Music\" mute: 0 -> 1\n"
                    "change: application \"Music\" device: \"one\" -> \"two\"\n",
                    ""},
        PreviewCase{"a key the server does not hold makes a rule",
                    R"(<application key="sink-input-by-application-name:Later" channels="1" mute="0">Later<value ch="1">100</value></application>)",
                    "change: application \"Later\" volume ch 1: none -> 100 (0%)\n"
                    "change: application \"Later\" mute: none -> 0\n",
                    ""},
        PreviewCase{"a device the server lacks is a note",
                    R"(<application key="sink-input-by-application-name:Music" channels="2" mute="0" server_name="gone">Music<value ch="1">26214</value><value ch="2">26214</value></application>)",
                    "",
                    "quorvel: note: application \"Music\": the device \"gone\" is not on this mixer; it stays where it is\n"},
        PreviewCase{"a sink is no device for a recording",
                    R"(<application key="source-output-by-application-name:Rec" channels="1" mute="0" server_name="one">Rec<value ch="1">1</value></application>)",
                    "change: application \"Rec\" volume ch 1: none -> 1 (0%)\n"
                    "change: application \"Rec\" mute: none -> 0\n",
                    "quorvel: note: application \"Rec\": the device \"one\" is not on this mixer; it stays where it is\n"},
        PreviewCase{"without a key",
                    R"(<application channels="1">Nameless<value ch="1">1</value></application>)", "",
                    "quorvel: error: application \"Nameless\" has no key; passed over\n"},
        PreviewCase{"a volume that is no number",
                    R"(<application key="sink-input-by-application-name:Music">Music<value>-5</value></application>)",
                    "",
                    "quorvel: error: application \"Music\": the volume \"-5\" is not a number of 0 or more; passed over\n"}),
    [](const ::testing::TestParamInfo<PreviewCase>& info) {
      std::string name = info.param.what;
      for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      }
      return name;
    });

TEST(ApplicationRestoreTest, WritesOnlyWhatChangesAndReportsRefusals) {
  AppServer server;
  MixerApplication quiet = music();
  quiet.key = "sink-input-by-application-name:Quiet";
  quiet.name = "Quiet";
  server.held = {music(), quiet};
  server.refuse = kMixerRefused;
  Document input;
  ASSERT_EQ(parse_document(document_with(
                R"(<application key="sink-input-by-application-name:Music" channels="2" mute="0" server_name="one">Music<value ch="1" position="front-left">26214</value><value ch="2" position="front-right">26214</value></application>)"
                R"(<application key="sink-input-by-application-name:Quiet" channels="2" mute="1">Quiet<value ch="1" position="front-left">0</value><value ch="2" position="front-right">0</value></application>)"),
                input).message(),
            "");
  Document snapshot;
  std::optional<std::string> name;
  ASSERT_TRUE(build_snapshot(snapshot, server, name, console()));
  CaptureStream err(std::cerr);
  const ApplyReport report = reconcile_documents(input, snapshot, server, console());
  ASSERT_EQ(server.writes.size(), 1u);  // Music holds its values already
  const ApplicationWrite& write = server.writes[0];
  EXPECT_EQ(write.key, "sink-input-by-application-name:Quiet");
  EXPECT_EQ(write.volume, (std::vector<std::int32_t>{0, 0}));
  EXPECT_EQ(write.positions, (std::vector<std::string>{"front-left", "front-right"}));
  EXPECT_TRUE(write.set_mute && write.mute);
  EXPECT_EQ(write.device, "");
  EXPECT_EQ(report.reported, 1);
  EXPECT_EQ(err.text(), "quorvel: error: cannot restore application \"Quiet\": mixer error 1026\n");
}

TEST(ApplicationRestoreTest, AMixerWithoutApplicationsLeavesThemOutWithOneNote) {
  // A server's document restored onto a mixer that keeps no applications.
  class NoApplications final : public ModelMixer {
   public:
    NoApplications() {
      ModelLayout layout;
      layout.name = "card";
      set_layout(0, std::move(layout));
    }
    unsigned device_count() override { return 1; }
    MixerResult read_values(unsigned, const ModelControl&, std::span<std::int32_t>) override {
      return kMixerFailed;
    }
    MixerResult write_values(unsigned, ModelControl&, std::span<const std::int32_t>) override {
      return kMixerFailed;
    }
  } card;
  Document input;
  ASSERT_EQ(parse_document(document_with(R"(<application key="a">A</application><application key="b">B</application>)"),
                           input).message(), "");
  Document snapshot;
  std::optional<std::string> name;
  ASSERT_TRUE(build_snapshot(snapshot, card, name, console()));
  EXPECT_EQ(testing::listing(snapshot.root()).find("application"), std::string::npos);
  CaptureStream err(std::cerr);
  const ApplyReport report = reconcile_documents(input, snapshot, card, console());
  EXPECT_EQ(report.reported, 0);
  EXPECT_EQ(err.text(),
            "quorvel: note: 2 applications of the document are left out: this mixer keeps no "
            "applications\n");
}

TEST(ApplicationSnapshotTest, EachApplicationFollowsTheLinesWithItsValues) {
  AppServer server;
  MixerApplication rule = music();
  rule.key = "source-output-by-media-role:phone";
  rule.name = "phone";
  rule.running = false;
  rule.playback = false;
  rule.positions = {"mono"};
  rule.volume = {85196};  // 130 %
  rule.mute = true;
  rule.device = "";
  server.held = {rule, music()};
  std::string saved;
  std::optional<std::string> name;
  ASSERT_TRUE(build_saved_snapshot(saved, server, name, console()));
  Document document;
  ASSERT_EQ(parse_document(saved, document).message(), "");
  const std::string listed = testing::listing(document.root());
  const std::size_t last_line = listed.rfind("destination");
  const std::size_t phone = listed.find("application [] key=source-output-by-media-role:phone channels=1 mute=1\n");
  const std::size_t music_at = listed.find("application [] key=sink-input-by-application-name:Music channels=2 mute=0 server_name=one\n");
  ASSERT_NE(phone, std::string::npos) << listed;
  ASSERT_NE(music_at, std::string::npos) << listed;
  EXPECT_LT(last_line, phone);
  EXPECT_LT(phone, music_at);
  EXPECT_NE(listed.find("value [] ch=1 position=mono\n"), std::string::npos) << listed;
  EXPECT_NE(listed.find("[85196]"), std::string::npos) << listed;
}

}  // namespace
}  // namespace quorvel
