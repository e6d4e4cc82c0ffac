#include "fakes/pulseaudio_server.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <set>

#include "fakes/pipewire_server.h"

namespace quorvel::testing {
namespace {

// Where the package is unpacked, shared by every test of the build.
const std::filesystem::path kUnpacked = QUORVEL_PULSEAUDIO_DIR;

constexpr auto kStartLimit = std::chrono::seconds(20);

std::filesystem::path root() { return kUnpacked / "root"; }

// The package's module folder (usr/lib/pulse-VERSION/modules).
std::filesystem::path module_dir() {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(root() / "usr" / "lib", error)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("pulse-", 0) == 0) return entry.path() / "modules";
  }
  return {};
}

std::string library_path() {
  return (root() / "usr" / "lib" / "x86_64-linux-gnu" / "pulseaudio").string() + ":" +
         module_dir().string();
}

// The libraries the daemon and the modules the tests load need but the
// machine lacks, as ldd names them.
std::string missing_libraries() {
  std::set<std::string> missing;
  std::vector<std::filesystem::path> objects{root() / "usr" / "bin" / "pulseaudio"};
  for (const char* module : {"module-native-protocol-unix", "module-null-sink",
                             "module-null-source", "module-remap-source",
                             "module-stream-restore"}) {
    objects.push_back(module_dir() / (std::string(module) + ".so"));
  }
  static const std::regex not_found(R"((\S+) => not found)");
  for (const std::filesystem::path& object : objects) {
    ProgramResult ldd = run_command({"ldd", object.string()}, {{"LD_LIBRARY_PATH", library_path()}});
    for (auto it = std::sregex_iterator(ldd.out.begin(), ldd.out.end(), not_found);
         it != std::sregex_iterator(); ++it) {
      missing.insert((*it)[1].str());
    }
  }
  std::string text;
  for (const std::string& name : missing) text += (text.empty() ? "" : ", ") + name;
  return text;
}

}  // namespace

std::string PulseAudioServer::missing_parts() {
  for (const char* program : {"/usr/bin/pactl", "/usr/bin/apt-get", "/usr/bin/dpkg",
                              "/usr/bin/flock", "/usr/bin/ldd"}) {
    if (access(program, X_OK) != 0) return std::string(program) + " is not installed";
  }
  // Once per test process; the script itself unpacks once per build.
  static const std::string unpacked = [] {
    ProgramResult unpack = run_command(
        {(source_dir() / "tests" / "fakes" / "unpack_pulseaudio.sh").string(), kUnpacked.string()});
    if (unpack.exit_code != 0) {
      return "the pulseaudio package could not be unpacked: " + unpack.err;
    }
    if (module_dir().empty()) return std::string("the pulseaudio package has no modules folder");
    const std::string libraries = missing_libraries();
    if (!libraries.empty()) {
      return "the libraries PulseAudio needs are missing (scripts/install-deps --tests installs "
             "them): " + libraries;
    }
    return std::string();
  }();
  return unpacked;
}

PulseAudioServer::PulseAudioServer() { start_daemons(); }

void PulseAudioServer::start_daemons() {
  const std::filesystem::path run = dir_ / "run";
  const std::filesystem::path home = dir_ / "home";
  std::filesystem::create_directories(run);
  std::filesystem::create_directories(home);
  chmod(run.c_str(), 0700);
  std::map<std::string, std::string> daemon_env = env();
  daemon_env["LD_LIBRARY_PATH"] = library_path();
  daemon_env["DBUS_SESSION_BUS_ADDRESS"] = "";
  daemon_env["DISPLAY"] = "";
  // -n: no startup script; only what is loaded here and by the tests.
  (void)start_and_wait({(root() / "usr" / "bin" / "pulseaudio").string(), "-n",
                        "--dl-search-path=" + module_dir().string(), "--daemonize=no",
                        "--exit-idle-time=-1", "--use-pid-file=no", "--log-target=stderr", "-L",
                        "module-native-protocol-unix"},
                       daemon_env, "PulseAudio", kStartLimit);
}

PulseAudioServer::~PulseAudioServer() = default;

std::string PulseAudioServer::server() const {
  return "unix:" + (dir_ / "run" / "pulse" / "native").string();
}


}  // namespace quorvel::testing
