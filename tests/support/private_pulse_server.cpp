#include "private_pulse_server.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char** environ;

namespace {

bool answers() {
  return !PrivatePulseServer::run("pactl info").empty();
}

} // namespace

std::string PrivatePulseServer::run(const std::string& command) {
  std::string output;
  if (FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r")) {
    char chunk[4096];
    while (std::size_t got = std::fread(chunk, 1, sizeof chunk, pipe))
      output.append(chunk, got);
    pclose(pipe);
  }
  return output;
}

PrivatePulseServer::PrivatePulseServer() {
  const std::string home = directory.file("home");
  const std::string runtime = directory.file("xdg");
  mkdir(home.c_str(), 0700);
  mkdir(runtime.c_str(), 0700);
  setenv("HOME", home.c_str(), 1);
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  setenv("PULSE_SERVER", ("unix:" + directory.file("pulse.sock")).c_str(), 1);
  unsetenv("SDL_AUDIODRIVER");
  std::string arguments[] = {"pulseaudio",
                             "-n",
                             "--daemonize=no",
                             "--exit-idle-time=-1",
                             "--use-pid-file=no",
                             "--disallow-exit",
                             "--load=module-null-sink sink_name=null rate=44100 channels=2",
                             "--load=module-native-protocol-unix auth-anonymous=1 socket=" +
                                 directory.file("pulse.sock")};
  std::vector<char*> argv;
  for (auto& argument : arguments)
    argv.push_back(argument.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t quiet;
  posix_spawn_file_actions_init(&quiet);
  posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
  if (posix_spawnp(&server, "pulseaudio", &quiet, nullptr, argv.data(), environ) != 0)
    server = 0;
  posix_spawn_file_actions_destroy(&quiet);
  // A busy machine may take a while to bring the server up.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (server != 0 && !(answering = answers()) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

PrivatePulseServer::~PrivatePulseServer() {
  if (server != 0) {
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
  }
  unsetenv("PULSE_SERVER");
}
