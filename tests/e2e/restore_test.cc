// Save, change, restore with the real program on a simulated device file.
#include <gtest/gtest.h>

#include <pugixml.hpp>

#include "platform/xml/xml_dom.h"
#include "support/sim_device_fixture.h"
#include "support/test_util.h"

namespace quorvel {
namespace {

using testing::ProgramResult;
using testing::TempDir;
using testing::read_file;
using testing::run_quorvel;
using testing::source_dir;
using testing::write_file;

class RestoreTest : public testing::SimDeviceFixture {
 protected:
  // A copy of the saved document in which every settable value differs.
  void write_changed_copy(const std::string& from, const std::string& to) {
    std::string bytes = read_file(dir_ / from);
    pugi::xml_document document;
    ASSERT_TRUE(document.load_buffer(bytes.data(), bytes.size(), kParseOptions));
    for (pugi::xpath_node value : document.select_nodes("//line_control/value")) {
      pugi::xml_node control = value.node().parent();
      int max = control.attribute("max").as_int();
      int min = control.attribute("min").as_int();
      int now = value.node().text().as_int();
      value.node().text().set(now == max ? min : max);
    }
    for (pugi::xpath_node list : document.select_nodes("//mux_list")) {
      // Move the selection to the next item.
      std::vector<pugi::xml_node> items;
      for (pugi::xml_node item : list.node().children("item")) items.push_back(item);
      std::size_t selected = 0;
      for (std::size_t k = 0; k < items.size(); ++k) {
        if (items[k].attribute("selected").as_int() == 1) selected = k;
      }
      for (std::size_t k = 0; k < items.size(); ++k) {
        items[k].attribute("selected").set_value(k == (selected + 1) % items.size() ? 1 : 0);
      }
    }
    write_file(dir_ / to, serialize_document(document));
  }

};

TEST_F(RestoreTest, SavedStateComesBack) {
  ProgramResult result = run({"-out", "saved.xml"});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  write_changed_copy("saved.xml", "changed.xml");

  result = run({"changed.xml", "-out", "after-change.xml"});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  EXPECT_NE(read_file(dir_ / "after-change.xml"), read_file(dir_ / "saved.xml"));

  result = run({"saved.xml"});
  EXPECT_EQ(result.err, "XML document loaded successfully\n");
  EXPECT_EQ(result.exit_code, 0);

  result = run({"-local", "saved.xml", "-out", "after.xml"});
  EXPECT_EQ(result.err, "XML document loaded successfully\naudio XML file saved OK.");
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(read_file(dir_ / "after.xml"), read_file(dir_ / "saved.xml"));
}

TEST_F(RestoreTest, RefusedValuesAreReportedAndTheRunStillSaves) {
  ASSERT_EQ(run({"-out", "saved.xml"}).exit_code, 0);
  std::string bytes = read_file(dir_ / "saved.xml");
  pugi::xml_document document;
  ASSERT_TRUE(document.load_buffer(bytes.data(), bytes.size(), kParseOptions));
  pugi::xml_node volume = document.select_node("//line_control[@ctrl_id='1']").node();
  volume.child("value").text().set(70000);
  write_file(dir_ / "too-loud.xml", serialize_document(document));

  ProgramResult result = run({"too-loud.xml", "-out", "after.xml"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_NE(result.err.find("quorvel: error: control \"Master Volume\" (type 1342373889, id 1): "
                            "the mixer refused the value 70000 45875 (mixer error 1026)\n"),
            std::string::npos)
      << result.err;
  EXPECT_EQ(read_file(dir_ / "after.xml"), bytes);
}

TEST_F(RestoreTest, DocumentOfAnotherDevice) {
  // The headset's speaker volume goes to the sound card's speakers.
  write_file(dir_ / "headset.xml", read_file(source_dir() / "examples" / "usb_headset.xml"));
  ProgramResult result = run_quorvel({"-out", "headset-saved.xml"},
                                     {{"QUORVEL_MIXER", "sim:" + (dir_ / "headset.xml").string()}},
                                     dir_.path());
  ASSERT_EQ(result.exit_code, 0) << result.err;
  result = run({"headset-saved.xml", "-out", "after.xml"});
  EXPECT_EQ(result.exit_code, 0) << result.err;

  auto values_of_first_volume = [&](const std::string& file) {
    std::string data = read_file(dir_ / file);
    pugi::xml_document document;
    EXPECT_TRUE(document.load_buffer(data.data(), data.size(), kParseOptions));
    pugi::xml_node control = document.select_node(
        "/audio_mixer/destination[@component_type='4']/line_control[@ctrl_type='1342373889']").node();
    return std::string(control.child("value").text().get());
  };
  EXPECT_EQ(values_of_first_volume("after.xml"), values_of_first_volume("headset-saved.xml"));
}

}  // namespace
}  // namespace quorvel
