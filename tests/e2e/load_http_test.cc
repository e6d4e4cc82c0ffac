// The real program loading documents over http from a server on 127.0.0.1
// that the test starts and stops itself.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <regex>
#include <map>
#include <string>
#include <vector>

#include "fakes/http_server.h"
#include "support/sim_device_fixture.h"
#include "support/test_util.h"

namespace quorvel {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using testing::ProgramResult;
using testing::read_file;
using testing::quorvel_binary;
using testing::run_quorvel;
using testing::source_dir;
using testing::TempDir;
using testing::LocalSocket;
using testing::Route;
using testing::TestHttpServer;

const char* const kLoaded = "XML document loaded successfully\n";
const char* const kDownloading = "Downloading XML document URL\n";
const char* const kNotFound = "File not found error.";

class LoadHttpTest : public testing::SimDeviceFixture {
 protected:
  void SetUp() override {
    SimDeviceFixture::SetUp();
    // The server is local: no proxy may stand in between.
    for (const char* proxy : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                              "all_proxy", "ALL_PROXY"}) {
      env_[proxy] = "";
    }
    env_["QUORVEL_FETCH_TIMEOUT"] = "";
    env_["QUORVEL_FETCH_MAX_BYTES"] = "";
  }
};

TEST_F(LoadHttpTest, DocumentLoadsOnEveryPath) {
  TestHttpServer server({{"/mixer.xml", {200, read_file(source_dir() / "examples" / "soundcard.xml")}}});
  const std::string url = server.url("/mixer.xml");
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"-t", url}, kLoaded},
      {{"-t", "-url", url}, std::string(kDownloading) + kLoaded},
      {{"-t", "-local", url}, kLoaded},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[1]);
    ProgramResult result = run(c.args);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.exit_code, 0);
    // The root and the first destination of the served document.
    EXPECT_THAT(result.out, HasSubstr("\n0'2'\n\n-65536'2'6'4'\n"));
  }
}

// libcurl is loaded only for a fetch: with a broken libcurl.so.4 found
// first, a run on files works as before, and a fetch says what is missing.
TEST_F(LoadHttpTest, NetworkLibraryIsLoadedOnlyForAFetch) {
  TempDir libraries;
  testing::write_file(libraries / "libcurl.so.4", "not a library");
  env_["LD_LIBRARY_PATH"] = libraries.path().string();

  ProgramResult restore = run({"-out", "saved.xml", device_.string()});
  EXPECT_EQ(restore.err, std::string(kLoaded) + "audio XML file saved OK.");
  EXPECT_EQ(restore.exit_code, 0);

  TestHttpServer server({{"/mixer.xml", {200, read_file(device_)}}});
  const std::string url = server.url("/mixer.xml");
  ProgramResult fetch = run({url});
  const std::string expected = "Cannot download \"" + url +
                               "\": the network library libcurl.so.4 could not be loaded "
                               "(install libcurl4): " +
                               (libraries / "libcurl.so.4").string() + ": ";
  EXPECT_EQ(fetch.err.substr(0, expected.size()), expected) << fetch.err;
  EXPECT_EQ(fetch.err.substr(fetch.err.size() - 2 - std::strlen(kNotFound)),
            std::string(".\n") + kNotFound);
  EXPECT_EQ(fetch.exit_code, 1);
}

TEST_F(LoadHttpTest, SyntaxErrorNamesTheUrl) {
  TestHttpServer server({{"/bad.xml", {200, "<a>\n<b>\n<c x=1/></b></a>"}}});
  const std::string url = server.url("/bad.xml");
  ProgramResult result = run({"-url", url});
  EXPECT_EQ(result.err, std::string(kDownloading) + "An attribute is malformed.\n" +
                            "Error on line 3, position 6 in \"" + url + "\".\n" + kNotFound);
  EXPECT_EQ(result.exit_code, 1);
}

TEST_F(LoadHttpTest, NotFoundNamesTheStatus) {
  TestHttpServer server({});
  const std::string url = server.url("/missing.xml");

  ProgramResult plain = run({"-url", url});
  EXPECT_EQ(plain.err, std::string(kDownloading) + "Cannot download \"" + url +
                           "\": the server answered with HTTP status 404.\n" + kNotFound);
  EXPECT_EQ(plain.exit_code, 1);

  ProgramResult local = run({"-t", "-local", url});
  EXPECT_EQ(local.err, "Cannot download \"" + url +
                           "\": the server answered with HTTP status 404.\n" + kNotFound);
  EXPECT_EQ(local.out, "");
  EXPECT_EQ(local.exit_code, 1);
}

TEST_F(LoadHttpTest, RefusedConnectionIsReported) {
  LocalSocket not_listening;  // bound, so the port stays ours, but refusing
  const std::string url = not_listening.url("/mixer.xml");
  ProgramResult result = run({url});
  EXPECT_EQ(result.err,
            "Cannot download \"" + url + "\": could not connect to the server.\n" + kNotFound);
  EXPECT_EQ(result.exit_code, 1);
}

TEST_F(LoadHttpTest, ServerThatNeverAnswersIsGivenUpOn) {
  TestHttpServer server({{"/silent.xml", {200, "", true, true}}});
  const std::string url = server.url("/silent.xml");
  env_["QUORVEL_FETCH_TIMEOUT"] = "1";
  ProgramResult result = run({"-url", url});
  EXPECT_EQ(result.err, std::string(kDownloading) + "Cannot download \"" + url +
                            "\": no answer from the server within 1 second.\n" + kNotFound);
  EXPECT_EQ(result.exit_code, 1);
}

TEST_F(LoadHttpTest, DrippingServerIsCutOffAtTheDeadline) {
  // A byte every 100 ms: the 5 KB document would take minutes.
  TestHttpServer server({{"/drip.xml", {200, read_file(source_dir() / "examples" / "soundcard.xml"),
                                        true, false, 100}},
                         {"/late.xml", {200, "<audio_mixer/>", true, false, 10000}}});
  env_["QUORVEL_FETCH_TIMEOUT"] = "2";
  const std::string url = server.url("/drip.xml");
  const auto started = std::chrono::steady_clock::now();
  ProgramResult result = run({"-url", url});
  const auto took = std::chrono::steady_clock::now() - started;
  EXPECT_LT(took, std::chrono::seconds(6)) << "the deadline was not kept";
  const std::regex expected(std::string(kDownloading) + "Cannot download \"" + url +
                            "\": cut off after ([0-9]+) bytes: the document did not arrive "
                            "whole within 2 seconds\\.\n" + kNotFound);
  std::smatch match;
  ASSERT_TRUE(std::regex_match(result.err, match, expected)) << result.err;
  EXPECT_GE(std::stoi(match[1]), 5);
  EXPECT_LE(std::stoi(match[1]), 25);
  EXPECT_EQ(result.exit_code, 1);

  // The head comes at once, the first byte of the body only after the
  // deadline.
  env_["QUORVEL_FETCH_TIMEOUT"] = "1";
  const std::string late = server.url("/late.xml");
  result = run({late});
  EXPECT_EQ(result.err, "Cannot download \"" + late +
                            "\": the server answered, but the document did not arrive whole "
                            "within 1 second.\n" + kNotFound);
}

TEST_F(LoadHttpTest, MessagesShowAUrlWithoutItsUserInformation) {
  TestHttpServer server({{"/bad.xml", {200, "<a>\n<b x=1/></a>"}}});
  const struct {
    const char* user_information;
    const char* secret;
  } secrets[] = {{"alice:s3cret@", "s3cret"}, {"T0KEN@", "T0KEN"}};
  for (const auto& [user_information, secret] : secrets) {
    for (const char* path : {"/missing.xml", "/bad.xml"}) {
      SCOPED_TRACE(std::string(user_information) + path);
      std::string url = server.url(path);
      const std::string shown = url.replace(0, 7, "http://***@");
      url = server.url(path).replace(0, 7, std::string("http://") + user_information);
      for (const std::vector<std::string>& args :
           {std::vector<std::string>{url}, {"-url", url}, {"-local", url}}) {
        ProgramResult result = run(args);
        EXPECT_THAT(result.err, Not(HasSubstr(secret)));
        EXPECT_THAT(result.err, HasSubstr("\"" + shown + "\""));
        EXPECT_EQ(result.exit_code, 1);
      }
    }
  }
}

// Credentials need not be on the command line: those of ~/.netrc are used
// for a URL that has none.
TEST_F(LoadHttpTest, CredentialsComeFromTheNetrcFile) {
  TestHttpServer server({{"/mixer.xml", {200, read_file(source_dir() / "examples" / "soundcard.xml")}}},
                        "Basic YWxpY2U6czNjcmV0");  // alice:s3cret
  const std::string url = server.url("/mixer.xml");
  env_["HOME"] = dir_.path().string();
  ProgramResult result = run({url});
  EXPECT_EQ(result.err, "Cannot download \"" + url +
                            "\": the server answered with HTTP status 401.\n" + kNotFound);
  EXPECT_EQ(result.exit_code, 1);

  testing::write_file(dir_ / ".netrc", "machine 127.0.0.1 login alice password s3cret\n");
  std::filesystem::permissions(dir_ / ".netrc", std::filesystem::perms::owner_read |
                                                    std::filesystem::perms::owner_write);
  result = run({url});
  EXPECT_EQ(result.err, kLoaded);
  EXPECT_EQ(result.exit_code, 0);
}

TEST_F(LoadHttpTest, BodyOverTheBoundIsRefused) {
  std::string body = "<audio_mixer id=\"0\"><!--" + std::string(5000, 'x') + "--></audio_mixer>";
  TestHttpServer server({{"/declared.xml", {200, body, true}}, {"/streamed.xml", {200, body, false}}});
  env_["QUORVEL_FETCH_MAX_BYTES"] = "1000";
  for (const char* path : {"/declared.xml", "/streamed.xml"}) {
    SCOPED_TRACE(path);
    const std::string url = server.url(path);
    ProgramResult result = run({url});
    EXPECT_EQ(result.err, "Cannot download \"" + url +
                              "\": the document is larger than 1000 bytes.\n" + kNotFound);
    EXPECT_EQ(result.exit_code, 1);
  }
  // The same body loads under the default bound (and, holding no control,
  // restores nothing, which is said).
  env_["QUORVEL_FETCH_MAX_BYTES"] = "";
  const std::string url = server.url("/streamed.xml");
  ProgramResult result = run({url});
  EXPECT_EQ(result.err, std::string(kLoaded) + "quorvel: error: nothing in \"" + url +
                            "\" matches this mixer; nothing was restored\n");
  EXPECT_EQ(result.exit_code, 1);
}

// A head line the network library refuses is reported as such, not as
// this machine's lack of memory; a long one it takes loads.
TEST_F(LoadHttpTest, HeadLineTooLongForTheNetworkLibraryIsReportedAsSuch) {
  Route huge{200, read_file(device_)}, long_line{200, read_file(device_)};
  huge.extra_head = "X-Padding: " + std::string(1 << 20, 'p') + "\r\n";
  long_line.extra_head = "X-Padding: " + std::string(60000, 'p') + "\r\n";
  TestHttpServer server({{"/huge.xml", huge}, {"/long.xml", long_line}});
  ProgramResult result = run({server.url("/huge.xml")});
  EXPECT_EQ(result.err, "Cannot download \"" + server.url("/huge.xml") +
                            "\": a line of the server's answer head is longer than the 102400 "
                            "bytes the network library takes.\n" + kNotFound);
  EXPECT_EQ(result.exit_code, 1);
  result = run({"-t", server.url("/long.xml")});
  EXPECT_EQ(result.err, kLoaded);
  EXPECT_EQ(result.exit_code, 0);
}

// The sanitizers reserve far more address space than a limit on it leaves.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSpaceLimitWorks = false;
#else
constexpr bool kAddressSpaceLimitWorks = true;
#endif

TEST_F(LoadHttpTest, AnswerThatOutgrowsMemoryIsAFetchFailure) {
  if (!kAddressSpaceLimitWorks) GTEST_SKIP() << "an address-space limit stops sanitizer builds";
  // 60 MB, under the default bound, sent without its length: the program,
  // limited to 100 MB of address space, runs out while receiving it.
  const std::string body =
      "<audio_mixer id=\"0\"><!--" + std::string(60000000, 'x') + "--></audio_mixer>";
  TestHttpServer server({{"/big.xml", {200, body, false}}});
  const std::string url = server.url("/big.xml");
  std::map<std::string, std::string> env = env_;
  ProgramResult result =
      testing::run_command({"/bin/sh", "-c", "ulimit -v 100000 && exec \"$0\" \"$1\"",
                            quorvel_binary().string(), url},
                           env, dir_.path());
  EXPECT_THAT(result.err, ::testing::StartsWith("Cannot download \"" + url +
                                                "\": not enough memory for the answer after "));
  EXPECT_THAT(result.err, ::testing::EndsWith(" bytes.\n" + std::string(kNotFound)));
  EXPECT_EQ(result.exit_code, 1);
}

}  // namespace
}  // namespace quorvel
