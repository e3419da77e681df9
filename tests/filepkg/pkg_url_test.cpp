// Web addresses and pages, read from a small HTTP server the tests start on
// 127.0.0.1: files, members of downloaded archives, the cache, redirects,
// errors, stops and the pictures a page lists.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "filepkg/pkg_test_support.h"
#include "support/peer.h"

using namespace pkgtest;

namespace {

// Serves a folder; "/slow" trickles an endless body, "/short" promises more
// than it sends, "/garbage" answers with no reply at all, "/moved.gif"
// redirects to "/pic.gif". Every request's path
// goes to a log.
constexpr const char* kServer = R"(
import functools, http.server, os, sys, time
folder, log = sys.argv[1], sys.argv[2]
class Handler(http.server.SimpleHTTPRequestHandler):
    def do_GET(self):
        with open(log, 'a') as f: f.write(self.path + '\n')
        if self.path == '/slow':
            self.send_response(200); self.send_header('Content-Length', '100000000'); self.end_headers()
            try:
                while True: self.wfile.write(b'x' * 100); self.wfile.flush(); time.sleep(0.02)
            except Exception: return
        if self.path == '/short':
            self.send_response(200); self.send_header('Content-Length', '1000'); self.end_headers()
            self.wfile.write(b'0123456789'); self.wfile.flush(); self.connection.close(); return
        if self.path == '/garbage':
            self.wfile.write(b'\x00\xff not a reply at all\r\n\r\n' * 10); self.connection.close(); return
        if self.path == '/moved.gif':
            self.send_response(302); self.send_header('Location', '/pic.gif'); self.end_headers(); return
        return super().do_GET()
    def log_message(self, *args): pass
server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), functools.partial(Handler, directory=folder))
print(server.server_address[1], flush=True)
server.serve_forever()
)";

std::string Read(const std::string& name) {
  TPkgStream* stream = PkgOpen(name.c_str(), "rb");
  if (!stream) return "(none)";
  std::vector<uint8_t> bytes = ReadAll(stream);
  PkgClose(stream, kPkgKeep);
  return std::string(bytes.begin(), bytes.end());
}

class PkgUrl : public testing::Test {
protected:
  void SetUp() override {
    mkdir((m_dir / "www").c_str(), 0777);
    mkdir((m_dir / "www/dir").c_str(), 0777);
    std::vector<uint8_t> picture = Pattern(200000);
    picture.insert(picture.begin(), {'G', 'I', 'F', '8', '9', 'a'});
    WriteFile(m_dir / "www/pic.gif", picture);
    m_picture.assign(picture.begin(), picture.end());
    WriteFile(m_dir / "server.py", kServer);
    std::string start = "cd '" + m_dir.Path() + "' && (python3 server.py www log > port 2>/dev/null & echo $! > pid)";
    ASSERT_EQ(testsupport::Run(start), 0);
    for (int i = 0; i < 100 && m_port.empty(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      std::ifstream in(m_dir / "port");
      std::getline(in, m_port);
    }
    ASSERT_FALSE(m_port.empty()) << "the test server did not start";
    m_base = "http://127.0.0.1:" + m_port + "/";
  }
  void TearDown() override {
    std::ifstream in(m_dir / "pid");
    pid_t pid = 0;
    if (in >> pid && pid > 0) kill(pid, SIGTERM);
  }
  // How often the server was asked for path.
  int Requests(const std::string& path) {
    std::ifstream in(m_dir / "log");
    int count = 0;
    for (std::string line; std::getline(in, line);) count += line == path;
    return count;
  }

  TTempDir m_dir;
  std::string m_port;
  std::string m_base;
  std::string m_picture;
};

TEST_F(PkgUrl, FilesAndArchiveMembersAreReadByTheirAddress) {
  ASSERT_EQ(testsupport::Run("cd '" + m_dir.Path() + "/www' && cp pic.gif dir/a.gif && zip -q dir/pics.zip pic.gif"),
            0);
  EXPECT_EQ(Read(m_base + "pic.gif"), m_picture);
  EXPECT_EQ(Read(m_base + "moved.gif"), m_picture) << "redirects are followed";
  EXPECT_EQ(Read(m_base + "dir/pics.zip/pic.gif"), m_picture) << "a member of a downloaded archive";
  EXPECT_EQ(Read(m_base + "missing.gif"), "") << "a reply that is no success delivers nothing";
  EXPECT_EQ(Read(m_base + "short"), "0123456789") << "a body cut short ends where it stops";
  EXPECT_EQ(Read(m_base + "garbage"), "") << "what is no reply delivers nothing";
  EXPECT_EQ(PkgOpen((m_base + "pic.gif").c_str(), "wb"), nullptr) << "addresses are only read";
}

TEST_F(PkgUrl, ACachedDownloadServesTheNextOpens) {
  ASSERT_EQ(testsupport::Run("cd '" + m_dir.Path() + "/www' && cp pic.gif a.gif && zip -q pics.zip pic.gif a.gif"), 0);
  TIntParamGuard size("CacheSize", 1);
  TIntParamGuard time("CacheTime", 60);
  EXPECT_EQ(Read(m_base + "pics.zip/pic.gif"), m_picture);
  EXPECT_EQ(Read(m_base + "pics.zip/a.gif"), m_picture);
  EXPECT_EQ(Requests("/pics.zip"), 1) << "two members, one download";
}

int g_stopAfter = 0;
int StopAfterAWhile(const void*) { return --g_stopAfter < 0 ? 1 : 0; }

TEST_F(PkgUrl, AStopEndsAnEndlessDownload) {
  TPkgStream* stream = PkgOpen((m_base + "slow").c_str(), "rb");
  ASSERT_NE(stream, nullptr);
  g_stopAfter = 20;
  PkgSetPtr("AbortProc", reinterpret_cast<const void*>(&StopAfterAWhile));
  std::vector<uint8_t> buffer(1 << 20);
  EXPECT_EQ(PkgRead(buffer.data(), 1, buffer.size(), stream), 0u) << "the read was stopped";
  PkgSetPtr("AbortProc", nullptr);
  EXPECT_EQ(PkgClose(stream, kPkgKeep), 0);
}

TEST_F(PkgUrl, APageListsThePicturesItShows) {
  std::string page = "<html><head><title>holiday</title></head>\n<BODY bgcolor=white BACKGROUND=\"sky.gif\">\n"
                     "<p>Pictures of the summer, with a few words so that the page is long enough.</p>\n"
                     "<img src=\"beach.gif\"> <IMG alt=\"x\" SRC=\"/top/hill.jpg\"> <img src=unquoted.gif>\n"
                     "<img src=\"mailto:someone@example.org\"> <img src=\"https://example.org/far.png\">\n"
                     "<a href=\"other.htm\">more</a></body></html>\n";
  WriteFile(m_dir / "www/page.htm", page);
  WriteFile(m_dir / "page.htm", page);
  EXPECT_EQ(ListNames(m_base + "page.htm"),
            (std::vector<std::string>{m_base + "sky.gif", m_base + "beach.gif", m_base + "top/hill.jpg",
                                      "https://example.org/far.png"}));
  EXPECT_EQ(ListNames(m_dir / "page.htm"),
            (std::vector<std::string>{m_dir / "sky.gif", m_dir / "beach.gif", "/top/hill.jpg",
                                      "https://example.org/far.png"}));
  // A tag that never ends, and a value of 10 MB, cost nothing.
  WriteFile(m_dir / "bad.htm", "<html><body>" + std::string(200, ' ') + "<img src=\"" + std::string(10 << 20, 'a'));
  EXPECT_TRUE(ListNames(m_dir / "bad.htm").empty());
}

} // namespace
