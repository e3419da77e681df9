// Downloading as whole processes, side by side with curl: a 200 MB file from
// a server on 127.0.0.1, read through the package (zerbalin-tool cat) and by
// curl. Prints both times and their ratio.
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "bench_support.h"

int main() {
  bench::TScratchDir dir;
  const std::string folder = dir / "";
  const std::string start = "cd '" + folder + "' && head -c 200000000 /dev/urandom > big.bin && " +
                            "(python3 -c \"import functools, http.server\n"
                            "s = http.server.ThreadingHTTPServer(('127.0.0.1', 0), "
                            "functools.partial(http.server.SimpleHTTPRequestHandler, directory='.'))\n"
                            "print(s.server_address[1], flush=True); s.serve_forever()\" > port 2>/dev/null "
                            "& echo $! > pid)";
  if (!dir.Valid() || std::system(start.c_str()) != 0) return 1;
  std::string port;
  for (int i = 0; i < 100 && port.empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::ifstream in(folder + "port");
    std::getline(in, port);
  }
  const std::string url = "http://127.0.0.1:" + port + "/big.bin";
  bench::CompareCommands("download 200 MB", "'" + bench::ToolPath() + "' cat " + url + " > /dev/null",
                         "curl -s -o /dev/null " + url, "curl");
  std::ifstream pidFile(folder + "pid");
  pid_t pid = 0;
  if (pidFile >> pid && pid > 0) kill(pid, SIGTERM);
  return 0;
}
