// Test helpers: the `openssl` command as an independent oracle, run through
// popen with its files in a private temporary directory.
#pragma once

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

#include "support/bytes.h"

namespace tarnwick::testing {

struct CommandResult {
  int status = -1;  // exit code, -1 when the command could not be run
  std::string output;  // stdout and stderr together
};

inline CommandResult run_command(const std::string& cmd) {
  CommandResult r;
  FILE* pipe = popen((cmd + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return r;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) r.output.append(buf, n);
  const int raw = pclose(pipe);
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return r;
}

// TempDir is a fresh directory under `parent`, removed with its files at the
// end of scope. A directory that cannot be made throws std::runtime_error
// saying why, which fails the test (GoogleTest reports the exception) rather
// than letting it write its files anywhere else.
class TempDir {
 public:
  explicit TempDir(const std::string& parent = "/tmp") {
    std::string tmpl = parent + "/tarnwick-test-XXXXXX";
    if (mkdtemp(tmpl.data()) == nullptr) {
      const int err = errno;
      throw std::runtime_error("cannot make a temporary directory under " + parent + ": " + std::strerror(err));
    }
    path_ = tmpl;
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir() { run_command("rm -rf '" + path_ + "'"); }

  // file returns the path of `name` inside the directory.
  std::string file(const std::string& name) const { return path_ + "/" + name; }

  std::string write(const std::string& name, ByteView bytes) const {
    const std::string p = file(name);
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return p;
  }

  Bytes read(const std::string& name) const {
    std::ifstream in(file(name), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  std::string path_;
};

}  // namespace tarnwick::testing
