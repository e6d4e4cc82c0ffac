// Save, change, restore with the real program on a simulated device file.
#include <gtest/gtest.h>

#include <pugixml.hpp>

#include "platform/xml/xml_dom.h"
#include "support/sim_device_fixture.h"
#include "support/test_util.h"

namespace quorvel {
namespace {

using testing::ProgramResult;
using testing::read_file;
using testing::write_file;

class RestoreTest : public testing::SimDeviceFixture {
 protected:
  // A copy of the saved document in which every settable value differs,
  // and the first channel of the master volume (control 1) is beyond its
  // bounds.
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
    document.select_node("//line_control[@ctrl_id='1']/value").node().text().set(70000);
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

// The unit tests hold what is restored and refused control by control; here
// the real program restores a changed copy, with one value the mixer
// refuses, and then the saved state.
TEST_F(RestoreTest, SavedStateComesBackAndRefusalsAreReported) {
  ProgramResult result = run({"-out", "saved.xml"});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  write_changed_copy("saved.xml", "changed.xml");

  // Everything else is restored; the refusal is reported, fails the run and
  // does not keep the save from happening.
  result = run({"changed.xml", "-out", "after-change.xml"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.err,
            "XML document loaded successfully\n"
            "quorvel: error: control \"Master Volume\" (type 1342373889, id 1): "
            "the mixer refused the value 70000 65535 (mixer error 1026)\n"
            "audio XML file saved OK.");
  EXPECT_NE(read_file(dir_ / "after-change.xml"), read_file(dir_ / "saved.xml"));

  result = run({"-local", "saved.xml", "-out", "after.xml"});
  EXPECT_EQ(result.err, "XML document loaded successfully\naudio XML file saved OK.");
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(read_file(dir_ / "after.xml"), read_file(dir_ / "saved.xml"));
}

}  // namespace
}  // namespace quorvel
