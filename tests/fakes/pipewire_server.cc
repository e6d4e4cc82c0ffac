#include "fakes/pipewire_server.h"

#include <sys/stat.h>
#include <unistd.h>

namespace quorvel::testing {
namespace {

// The programs and files the server needs, each with the Debian package
// that brings it.
struct Part {
  const char* path;
  const char* package;
};

constexpr Part kParts[] = {
    {"/usr/bin/pipewire", "pipewire"},
    {"/usr/bin/wireplumber", "wireplumber"},
    {"/usr/bin/pipewire-pulse", "pipewire-pulse"},
    {"/usr/bin/pw-metadata", "pipewire-bin"},
    {"/usr/bin/pactl", "pulseaudio-utils"},
    {"/usr/bin/dbus-run-session", "dbus"},
    {"/etc/alsa/conf.d/99-pipewire-default.conf", "pipewire-alsa"},
};

constexpr auto kStartLimit = std::chrono::seconds(30);

}  // namespace

std::string PipeWireServer::missing_parts() {
  std::string missing;
  for (const Part& part : kParts) {
    if (access(part.path, F_OK) == 0) continue;
    if (!missing.empty()) missing += ", ";
    missing += std::string(part.path) + " (package " + part.package + ")";
  }
  return missing;
}

PipeWireServer::PipeWireServer()
    : PrivateSoundServer(std::map<std::string, std::string>{{"ALSA_CONFIG_PATH", ""}}) {
  start_daemons();
}

void PipeWireServer::start_daemons() {
  const std::filesystem::path run = dir_ / "run";
  const std::filesystem::path home = dir_ / "home";
  std::filesystem::create_directories(run);
  std::filesystem::create_directories(home);
  // PipeWire wants its runtime folder to be the user's alone.
  chmod(run.c_str(), 0700);
  std::map<std::string, std::string> daemon_env = env();
  for (const char* name : {"DBUS_SESSION_BUS_ADDRESS", "DISPLAY", "WAYLAND_DISPLAY"}) {
    daemon_env[name] = "";
  }
  if (!start_and_wait({"dbus-run-session", "--", "sh", "-c",
                       "pipewire & sleep 1; wireplumber & pipewire-pulse & wait"},
                      daemon_env, "the PipeWire server", kStartLimit)) {
    return;
  }
  // The Pulse server answers before WirePlumber has made the "default"
  // metadata, and until then a new default is "Not supported".
  const bool managed = wait_until(
      [this] {
        return run_command({"pw-metadata", "-n", "default", "0"}, env()).out.find(
                   "Found \"default\" metadata") != std::string::npos;
      },
      kStartLimit);
  if (!managed) {
    failure_ = "WirePlumber did not make the default metadata within " +
               std::to_string(kStartLimit.count()) + " s; the daemons' output:\n" + log();
  }
}

PipeWireServer::~PipeWireServer() = default;


}  // namespace quorvel::testing
