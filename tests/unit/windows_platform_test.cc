// Windows: code page conversions, the platform's replace, and the saved
// file in the platform's own XML DOM.
#include <windows.h>
#include <msxml2.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include "app/console_reporter.h"
#include "platform/os/file_name.h"
#include "platform/os/file_replace.h"
#include "platform/os/text_encoding.h"
#include "platform/document/document_parse.h"
#include "platform/sim/sim_mixer.h"
#include "snapshot/snapshot.h"
#include "support/test_util.h"

namespace quorvel {
namespace {

using testing::ProgramResult;
using testing::read_file;
using testing::run_quorvel;
using testing::source_dir;
using testing::TempDir;
using testing::write_file;

// The conversions are checked on the Western European code page, the one a
// default Wine prefix and most Windows installations use.
class WesternCodePageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (GetACP() != 1252) GTEST_SKIP() << "system code page " << GetACP() << ", not 1252";
  }
};

TEST_F(WesternCodePageTest, SystemTextAndUtf8ConvertBothWays) {
  EXPECT_EQ(system_to_utf8("Gr\xF6\xDF" "e \x80"), "Gr\xC3\xB6\xC3\x9F" "e \xE2\x82\xAC");
  EXPECT_EQ(utf8_to_system("Gr\xC3\xB6\xC3\x9F" "e \xE2\x82\xAC"), "Gr\xF6\xDF" "e \x80");
  EXPECT_EQ(system_to_utf8("Line In 2"), "Line In 2");
  EXPECT_EQ(system_to_utf8(""), "");
  // A character the code page lacks becomes its default character.
  EXPECT_EQ(utf8_to_system("\xE4\xB8\xAD" "x"), "?x");
  // Every byte of the code page comes back from UTF-8 as it was.
  for (int byte = 0x20; byte < 0x100; ++byte) {
    const std::string one(1, static_cast<char>(byte));
    const std::string utf8 = system_to_utf8(one);
    if (utf8 == "?" && byte != '?') continue;  // unassigned in 1252 (0x81, 0x8D, ...)
    EXPECT_EQ(utf8_to_system(utf8), one) << "byte " << byte;
  }
}

TEST_F(WesternCodePageTest, ConsoleTextFollowsTheConsoleCodePage) {
  const std::string text = "Lautst\xC3\xA4rke";
  const UINT console = GetConsoleOutputCP();
  if (console == 0) {
    // No console (output to pipes or files): the system code page.
    EXPECT_EQ(utf8_to_console(text), "Lautst\xE4rke");
  } else if (SetConsoleOutputCP(850)) {
    EXPECT_EQ(utf8_to_console(text), "Lautst\x84rke");  // the OEM page's "ä"
    SetConsoleOutputCP(console);
  }
}

TEST_F(WesternCodePageTest, SimulatedDeviceNamesComeBackAsTheyWereWritten) {
  // The device hands its names to the program in the system code page, as
  // winmm does; the snapshot turns them back into the document's UTF-8.
  SimDevice device;
  device.name = "Carte son int\xC3\xA9gr\xC3\xA9" "e";
  SimDestination speakers;
  speakers.name = "Haut-parleurs";
  speakers.line_id = 0xFFFF0000;
  speakers.controls.push_back(sim_control(1, ctrl::kVolume, "Lautst\xC3\xA4rke", 0, 65535, 65535, {9}));
  SimSource source;
  source.name = "Entr\xC3\xA9" "e ligne \xE2\x82\xAC";
  source.controls.push_back(sim_control(2, ctrl::kMute, "Stumm", 0, 1, 0, {1}));
  speakers.sources.push_back(source);
  device.destinations.push_back(speakers);
  SimMixer mixer(device);

  Document document;
  std::optional<std::string> default_name;
  ASSERT_TRUE(build_snapshot(document, mixer, default_name, console()));
  EXPECT_EQ(default_name, device.name + ".xml");
  DocNode root = document.root().child("audio_mixer");
  EXPECT_EQ(root.first_child().value(), device.name);
  DocNode destination = root.child("destination");
  EXPECT_EQ(destination.child("line_control").first_child().value(), "Lautst\xC3\xA4rke");
  EXPECT_EQ(destination.child("source").first_child().value(), source.name);
}

TEST(WindowsFileReplaceTest, ReplacesTheTargetOrLeavesItAsItWas) {
  TempDir dir;
  write_file(dir / "target.xml", "old");
  ASSERT_TRUE(testing::succeeded(write_file_atomically(dir / "target.xml", "new")));
  EXPECT_EQ(read_file(dir / "target.xml"), "new");
  ASSERT_TRUE(testing::succeeded(write_file_atomically(dir / "fresh.xml", "made")));
  EXPECT_EQ(read_file(dir / "fresh.xml"), "made");

  // A folder in the target's place is not replaced; the temporary file
  // goes away and the error gives the system's reason.
  std::filesystem::create_directory(dir / "folder.xml");
  write_file(dir / "folder.xml" / "inside", "kept");
  std::string error = write_file_atomically(dir / "folder.xml", "newer").message();
  EXPECT_NE(error, "");
  EXPECT_EQ(read_file(dir / "folder.xml" / "inside"), "kept");
  // A folder that does not exist.
  error = write_file_atomically(dir / "missing" / "x.xml", "x").message();
  EXPECT_NE(error, "");
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 3u) << "target.xml, fresh.xml and folder.xml only";
}

TEST(WindowsFileName, CharactersWindowsRefusesBecomeUnderscores) {
  EXPECT_EQ(default_file_name("In/Out\\Card"), "In_Out_Card.xml");
  EXPECT_EQ(default_file_name("C:\\Card"), "C__Card.xml");
  EXPECT_EQ(default_file_name("a*b?c\"d<e>f|g\x01h"), "a_b_c_d_e_f_g_h.xml");
  EXPECT_EQ(default_file_name("../x"), ".._x.xml");
  EXPECT_EQ(default_file_name(""), "mixer.xml");
  EXPECT_EQ(safe_file_name("name. "), "name__");
  EXPECT_EQ(safe_file_name(".."), "__");
  EXPECT_EQ(default_file_name("CON"), "CON_.xml");
  EXPECT_EQ(default_file_name("com1"), "com1_.xml");
  EXPECT_EQ(default_file_name("Lpt9.x"), "Lpt9_.x.xml");
  for (const char* kept : {"Demo PCI Sound Card", "Speakers (Realtek High Definition Audio)",
                           "CONSOLE", "COM10", "..."}) {
    EXPECT_EQ(default_file_name(kept), std::string(kept) + ".xml");
  }
}

// IXMLDOMDocument, {2933BF81-7B36-11D2-B20E-00C04F983E60}.
const IID kIidXmlDomDocument = {
    0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

// Counts the nodes `pattern` selects in the file, loaded by the platform's
// DOM; -1 when the file does not load there.
long count_in_platform_dom(const std::filesystem::path& file, const wchar_t* pattern) {
  CLSID clsid;
  if (FAILED(CLSIDFromProgID(L"Msxml2.DOMDocument.3.0", &clsid))) return -2;
  IXMLDOMDocument* document = nullptr;
  if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, kIidXmlDomDocument,
                              reinterpret_cast<void**>(&document)))) {
    return -2;
  }
  long count = -1;
  document->put_async(VARIANT_FALSE);
  VARIANT source;
  VariantInit(&source);
  source.vt = VT_BSTR;
  source.bstrVal = SysAllocString(file.wstring().c_str());
  VARIANT_BOOL loaded = VARIANT_FALSE;
  if (document->load(source, &loaded) == S_OK && loaded == VARIANT_TRUE) {
    BSTR query = SysAllocString(pattern);
    IXMLDOMNodeList* nodes = nullptr;
    if (document->selectNodes(query, &nodes) == S_OK && nodes != nullptr) {
      nodes->get_length(&count);
      nodes->Release();
    }
    SysFreeString(query);
  }
  VariantClear(&source);
  document->Release();
  return count;
}

TEST(PlatformDomTest, SavedFileLoadsInThePlatformsOwnDom) {
  TempDir dir;
  write_file(dir / "device.xml", read_file(source_dir() / "examples" / "soundcard.xml"));
  ProgramResult result = run_quorvel({"-out", "saved.xml"},
                                     {{"QUORVEL_MIXER", "sim:" + (dir / "device.xml").string()}},
                                     dir.path());
  ASSERT_EQ(result.exit_code, 0) << result.err;

  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  const long controls = count_in_platform_dom(dir / "saved.xml", L"//line_control");
  const long roots = count_in_platform_dom(dir / "saved.xml", L"/audio_mixer");
  CoUninitialize();
  if (controls == -2) GTEST_SKIP() << "no MSXML on this machine";

  Document ours;
  ASSERT_EQ(parse_document(read_file(dir / "saved.xml"), ours).message(), "");
  long ours_controls = 0;
  for (DocNode destination : ours.document_element().children("destination")) {
    ours_controls += static_cast<long>(destination.children("line_control").size());
    for (DocNode source : destination.children("source")) {
      ours_controls += static_cast<long>(source.children("line_control").size());
    }
  }
  EXPECT_EQ(roots, 1);
  EXPECT_EQ(controls, ours_controls);
  EXPECT_GT(controls, 0);
}

}  // namespace
}  // namespace quorvel
