#include "AiosmtpdServer.h"

#include "TempDir.h"

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// Python's start-up and the aiosmtpd import take a moment on a loaded machine.
const int StartLimitMs = 15000;

std::string ReadLineFrom(int Fd)
{
    std::string line;
    char c;
    for (;;) {
        pollfd p{Fd, POLLIN, 0};
        if (::poll(&p, 1, StartLimitMs) <= 0)
            throw std::runtime_error("aiosmtpd did not start in time");
        ssize_t n = ::read(Fd, &c, 1);
        if (n <= 0)
            throw std::runtime_error("aiosmtpd ended before it listened");
        if (c == '\n')
            return line;
        line += c;
    }
}

}  // namespace

AiosmtpdServer::AiosmtpdServer()
{
    char pattern[] = "/tmp/qp-aiosmtpd-XXXXXX";
    if (!::mkdtemp(pattern))
        throw std::runtime_error("no temporary folder");
    FFolder = pattern;
    int out[2];
    if (::pipe(out) != 0)
        throw std::runtime_error("no pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, out[1]);
    std::string script = QP_SUPPORT_DIR "/smtp_server.py";
    char* argv[] = {const_cast<char*>("/usr/bin/python3"), script.data(), FFolder.data(), nullptr};
    int rc = ::posix_spawn(&FPid, argv[0], &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (rc != 0) {
        ::close(out[0]);
        std::filesystem::remove_all(FFolder);
        throw std::runtime_error("cannot start /usr/bin/python3");
    }
    try {
        FPort = std::stoi(ReadLineFrom(out[0]));
    } catch (...) {
        ::close(out[0]);
        Stop();
        throw;
    }
    ::close(out[0]);
}

AiosmtpdServer::~AiosmtpdServer()
{
    Stop();
}

void AiosmtpdServer::Stop()
{
    if (FPid > 0) {
        ::kill(FPid, SIGTERM);
        int status = 0;
        while (::waitpid(FPid, &status, 0) < 0 && errno == EINTR) {
        }
        FPid = -1;
    }
    if (!FFolder.empty()) {
        std::error_code ignored;   // a leftover temporary folder is no failure of the test
        std::filesystem::remove_all(FFolder, ignored);
        FFolder.clear();
    }
}

int AiosmtpdServer::Count() const
{
    int n = 0;
    while (std::filesystem::exists(FFolder + "/" + std::to_string(n + 1) + ".envelope"))
        ++n;
    return n;
}

AiosmtpdServer::Stored AiosmtpdServer::Message(int N) const
{
    Stored result;
    std::istringstream envelope(TempDir::Read(FFolder + "/" + std::to_string(N) + ".envelope"));
    std::getline(envelope, result.MailFrom);
    for (std::string line; std::getline(envelope, line);)
        result.RcptTos.push_back(line);
    result.Message = TempDir::Read(FFolder + "/" + std::to_string(N) + ".eml");
    return result;
}

std::string AiosmtpdServer::DecodedPart(int N, int K, const std::string& Method) const
{
    return TempDir::Read(FFolder + "/" + std::to_string(N) + "." + std::to_string(K) + "." + Method);
}
