#pragma once

// Real FTP servers for the uploader's tests: vsftpd (standalone, on 127.0.0.1) and the
// pyftpdlib script beside this file, each on a free loopback port with its own folder,
// configuration and log. Started and ended by the test, by process group.

#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"
#include "wait_until.h"

namespace ftptest {

enum class Kind { kVsftpd, kPyftpdlib };

inline const char* kindName(Kind k) { return k == Kind::kVsftpd ? "vsftpd" : "pyftpdlib"; }

inline std::string readFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline uint16_t freePort() {
  platform::TcpSocket s = platform::TcpSocket::listen("127.0.0.1", 0, 1);
  return s.localPort();
}

struct ServerOptions {
  bool noPassword = false;       // USER answered 230
  int dieOnData = 0;             // pyftpdlib: killed when data of this upload arrive
};

class Server {
 public:
  Server(Kind kind, std::filesystem::path work, ServerOptions options = {})
      : kind_(kind), work_(std::move(work)), options_(std::move(options)) {
    std::filesystem::create_directories(root());
    std::filesystem::create_directories(work_ / "empty");
    port_ = freePort();
  }
  ~Server() { kill(); }

  std::filesystem::path root() const { return work_ / "root"; }
  std::filesystem::path log() const { return work_ / (std::string(kindName(kind_)) + ".log"); }
  uint16_t port() const { return port_; }
  Kind kind() const { return kind_; }

  // Starts the server and waits for its greeting. An empty text on success, else why not.
  // The first start moves to another free port when someone took the chosen one in the
  // meantime; a restart keeps the port.
  std::string start() {
    std::string why = startOnce();
    for (int attempt = 0; attempt < 3 && !why.empty() && !started_ && pid_ < 0; ++attempt) {
      port_ = freePort();
      why = startOnce();
    }
    started_ = started_ || why.empty();
    return why;
  }

 private:
  std::string startOnce() {
    std::vector<std::string> argv;
    if (kind_ == Kind::kVsftpd) {
      const std::filesystem::path conf = work_ / "vsftpd.conf";
      std::ofstream c(conf);
      const passwd* pw = ::getpwuid(::getuid());
      c << "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=" << port_
        << "\nrun_as_launching_user=YES\nanonymous_enable=YES\nlocal_enable=NO\nwrite_enable=YES\n"
           "anon_upload_enable=YES\nanon_mkdir_write_enable=YES\nanon_other_write_enable=YES\n"
           "anon_umask=022\nanon_root="
        << root().string() << "\nsecure_chroot_dir=" << (work_ / "empty").string()
        << "\nftp_username=" << (pw ? pw->pw_name : "root")
        << "\nconnect_from_port_20=NO\nlog_ftp_protocol=YES\nxferlog_enable=YES\nvsftpd_log_file="
        << log().string() << "\nseccomp_sandbox=NO\nbackground=NO\n"
        << (options_.noPassword ? "no_anon_password=YES\n" : "");
      c.close();
      argv = {"/usr/sbin/vsftpd", conf.string()};
    } else {
      argv = {"/usr/bin/python3", VISTREL_FTP_TEST_SERVER, "--port", std::to_string(port_), "--root",
              root().string(), "--log", log().string()};
      if (options_.noPassword) argv.push_back("--no-password");
      if (options_.dieOnData) {
        argv.push_back("--die-on-data");
        argv.push_back(std::to_string(options_.dieOnData));
      }
    }
    if (::access(argv[0].c_str(), X_OK) != 0) return argv[0] + " is not installed";
    const std::string output = (work_ / (std::string(kindName(kind_)) + ".out")).string();
    pid_ = ::fork();
    if (pid_ < 0) return "fork failed";
    if (pid_ == 0) {
      ::setpgid(0, 0);
      const int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
      if (fd >= 0) {
        ::dup2(fd, 1);
        ::dup2(fd, 2);
      }
      std::vector<char*> args;
      for (auto& a : argv) args.push_back(a.data());
      args.push_back(nullptr);
      ::execv(args[0], args.data());
      ::_exit(127);
    }
    ::setpgid(pid_, pid_);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < until) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return std::string(kindName(kind_)) + " ended at once: " + readFile(output);
      }
      platform::TcpSocket probe = platform::TcpSocket::connect("127.0.0.1", port_, 500);
      char greeting[4] = {};
      if (probe.valid() && probe.waitReadable(2000) == platform::TcpSocket::kReady &&
          probe.receive(greeting, 3) == 3 && std::string(greeting) == "220") {
        return {};
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the server is starting
    }
    return std::string(kindName(kind_)) + " did not greet on port " + std::to_string(port_) + ": " +
           readFile(output);
  }


 public:
  // Ends the server with every session process of its group at once.
  void kill() {
    if (pid_ <= 0) return;
    ::kill(-pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  // Whether the process has ended by itself (reaps it).
  bool ended() {
    if (pid_ <= 0) return true;
    if (::waitpid(pid_, nullptr, WNOHANG) != pid_) return false;
    ::kill(-pid_, SIGKILL);  // its session processes, if any
    pid_ = -1;
    return true;
  }

  // The commands the server received, in order ("PASS" with its argument hidden).
  std::vector<std::string> commands() const {
    std::vector<std::string> out;
    std::istringstream in(readFile(log()));
    std::string line;
    static const std::regex vs(R"re(FTP command: Client "[^"]*", "(.*)"$)re");
    std::smatch m;
    while (std::getline(in, line)) {
      if (kind_ == Kind::kVsftpd) {
        if (std::regex_search(line, m, vs)) out.push_back(m[1]);
      } else if (line.rfind("CMD ", 0) == 0) {
        out.push_back(line.substr(4));
      }
    }
    return out;
  }

 private:
  Kind kind_;
  std::filesystem::path work_;
  ServerOptions options_;
  uint16_t port_ = 0;
  pid_t pid_ = -1;
  bool started_ = false;
};

}  // namespace ftptest
