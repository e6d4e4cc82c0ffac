// Save, change, restore with the real program on a simulated device file.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/document/document_model.h"
#include "platform/document/document_parse.h"
#include "platform/document/document_writer.h"
#include "platform/document/saved_writer.h"
#include "support/sim_device_fixture.h"
#include "support/test_util.h"

namespace quorvel {
namespace {

using testing::ProgramResult;
using testing::read_file;
using testing::write_file;

// A whole number as a document writes it; 0 for none, as for a missing
// attribute.
int number(std::string_view text) { return text.empty() ? 0 : std::stoi(std::string(text)); }

// The elements named `name` anywhere under `node`, in document order.
void find_elements(DocNode node, std::string_view name, std::vector<DocNode>& found) {
  for (DocNode child = node.first_child(); child; child = child.next_sibling()) {
    if (!child.is_element()) continue;
    if (child.is(name)) found.push_back(child);
    find_elements(child, name, found);
  }
}

class RestoreTest : public testing::SimDeviceFixture {
 protected:
  // A copy of the saved document in which every settable value differs,
  // and the first channel of the master volume (control 1) is beyond its
  // bounds.
  void write_changed_copy(const std::string& from, const std::string& to) {
    const std::string bytes = read_file(dir_ / from);
    Document document;
    ASSERT_EQ(parse_document(bytes, document).message(), "");
    std::vector<DocNode> controls;
    find_elements(document.root(), "line_control", controls);
    for (const DocNode control : controls) {
      const int max = number(control.attribute_value("max"));
      const int min = number(control.attribute_value("min"));
      const std::vector<DocNode> values = control.children("value");
      for (const DocNode value : values) {
        const int now = number(value.text());
        document.set_value(value.first_child(), std::to_string(now == max ? min : max));
      }
      if (control.attribute_value("ctrl_id") == "1" && !values.empty()) {
        document.set_value(values.front().first_child(), "70000");
      }
    }
    std::vector<DocNode> lists;
    find_elements(document.root(), "mux_list", lists);
    for (const DocNode list : lists) {
      // Move the selection to the next item.
      const std::vector<DocNode> items = list.children("item");
      std::size_t selected = 0;
      for (std::size_t k = 0; k < items.size(); ++k) {
        if (number(items[k].attribute_value("selected")) == 1) selected = k;
      }
      for (std::size_t k = 0; k < items.size(); ++k) {
        document.set_attribute(items[k], "selected",
                               k == (selected + 1) % items.size() ? "1" : "0");
      }
    }
    std::string changed;
    SavedDocumentWriter writer(changed);
    write_document(document, writer);
    write_file(dir_ / to, changed);
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
