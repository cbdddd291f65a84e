// Delivers one message with a 64 MiB random attachment to a local SMTP sink
// that discards what it receives: Quillpost, curl (-F MIME upload) and Python's
// smtplib with its email package, one after the other against the same sink.
// Prints each sender's time and peak resident memory, and the ratios.
//
//   bench_smtp                 run the comparison
//   bench_smtp send PORT FILE  (internal) one Quillpost send, timed from SendMail to the accepted "."
#include "smtp/NMsmtp.h"

#include <QCoreApplication>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <netinet/in.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr int64_t AttachmentSize = 64 << 20;

// --- The sink: answers every command with success and discards the data. ---

class Sink {
public:
    Sink()
    {
        FListener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(FListener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
            || ::listen(FListener, 4) != 0)
            throw std::runtime_error("sink cannot listen");
        socklen_t length = sizeof address;
        ::getsockname(FListener, reinterpret_cast<sockaddr*>(&address), &length);
        FPort = ntohs(address.sin_port);
        FThread = std::thread([this] { Serve(); });
    }
    ~Sink()
    {
        ::shutdown(FListener, SHUT_RDWR);
        FThread.join();
        ::close(FListener);
    }
    int Port() const { return FPort; }
    int64_t LastMessageSize() const { return FLastSize.load(); }

private:
    void Serve()
    {
        for (;;) {
            int client = ::accept4(FListener, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                return;
            Session(client);
            ::close(client);
        }
    }

    static void Send(int Client, const char* Text) { (void)!::send(Client, Text, std::strlen(Text), MSG_NOSIGNAL); }

    void Session(int Client)
    {
        std::vector<char> buffer(1 << 20);
        std::string line;
        Send(Client, "220 sink ready\r\n");
        for (;;) {
            ssize_t n = ::recv(Client, buffer.data(), buffer.size(), 0);
            if (n <= 0)
                return;
            line.append(buffer.data(), static_cast<size_t>(n));
            size_t end;
            while ((end = line.find("\r\n")) != std::string::npos) {
                std::string command = line.substr(0, end);
                line.erase(0, end + 2);
                std::string verb = command.substr(0, 4);
                for (char& c : verb)
                    c = static_cast<char>(toupper(c));
                if (verb == "QUIT") {
                    Send(Client, "221 bye\r\n");
                    return;
                }
                if (verb == "DATA") {
                    Send(Client, "354 go ahead\r\n");
                    if (!ReadData(Client, buffer, line))
                        return;
                    Send(Client, "250 accepted\r\n");
                    continue;
                }
                Send(Client, "250 ok\r\n");
            }
        }
    }

    // Reads up to the end-of-data line; Pending holds bytes already received.
    bool ReadData(int Client, std::vector<char>& Buffer, std::string& Pending)
    {
        static const char terminator[] = "\r\n.\r\n";
        // The last bytes seen, so that a terminator split between two reads is found;
        // it starts as DATA's own line end, since an empty message ends with ".\r\n" at once.
        char tail[8] = {'\r', '\n'};
        size_t tailLength = 2;
        int64_t size = 0;
        auto scan = [&](const char* data, size_t length) -> ssize_t {
            const size_t head = std::min<size_t>(length, 4);
            std::memcpy(tail + tailLength, data, head);
            if (const void* found = memmem(tail, tailLength + head, terminator, 5))
                return static_cast<const char*>(found) - tail + 5 - static_cast<ssize_t>(tailLength);
            if (const void* found = memmem(data, length, terminator, 5))
                return static_cast<const char*>(found) - data + 5;
            const size_t joined = tailLength + head;
            const size_t keep = std::min<size_t>(joined, 4);
            if (length >= 4)
                std::memcpy(tail, data + length - 4, 4);
            else
                std::memmove(tail, tail + joined - keep, keep);
            tailLength = keep;
            return -1;
        };
        if (!Pending.empty()) {
            ssize_t used = scan(Pending.data(), Pending.size());
            if (used >= 0) {
                FLastSize = static_cast<int64_t>(used);
                Pending.erase(0, static_cast<size_t>(used));
                return true;
            }
            size += static_cast<int64_t>(Pending.size());
            Pending.clear();
        }
        for (;;) {
            ssize_t n = ::recv(Client, Buffer.data(), Buffer.size(), 0);
            if (n <= 0)
                return false;
            ssize_t used = scan(Buffer.data(), static_cast<size_t>(n));
            if (used >= 0) {
                FLastSize = size + used;
                Pending.assign(Buffer.data() + used, Buffer.data() + n);
                return true;
            }
            size += n;
        }
    }

    int FListener = -1;
    int FPort = 0;
    std::thread FThread;
    std::atomic<int64_t> FLastSize{0};
};

// --- Child processes, with their wall time and peak resident memory. ---

struct RunResult {
    double WallSeconds = 0;
    double PeakMB = 0;
    std::string Output;
    bool Ok = false;
};

RunResult Run(std::vector<std::string> Args)
{
    int out[2];
    if (::pipe(out) != 0)
        throw std::runtime_error("no pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<char*> argv;
    for (std::string& a : Args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    RunResult result;
    auto start = std::chrono::steady_clock::now();
    pid_t pid;
    int rc = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (rc != 0) {
        ::close(out[0]);
        result.Output = "cannot start " + Args[0];
        return result;
    }
    char chunk[4096];
    for (ssize_t n; (n = ::read(out[0], chunk, sizeof chunk)) > 0;)
        result.Output.append(chunk, static_cast<size_t>(n));
    ::close(out[0]);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    result.WallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.PeakMB = usage.ru_maxrss / 1024.0;
    result.Ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return result;
}

double FirstNumber(const std::string& Text)
{
    return Text.empty() ? 0 : std::strtod(Text.c_str(), nullptr);
}

void WriteRandomFile(const std::string& Path)
{
    FILE* f = std::fopen(Path.c_str(), "wb");
    if (!f)
        throw std::runtime_error("cannot write " + Path);
    std::vector<uint64_t> block(1 << 17);   // 1 MiB
    uint64_t state = 0x9E3779B97F4A7C15ull;
    for (int64_t written = 0; written < AttachmentSize; written += 1 << 20) {
        for (uint64_t& v : block) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            v = state;
        }
        std::fwrite(block.data(), 1, 1 << 20, f);
    }
    std::fclose(f);
}

const char* PythonSender = R"(
import smtplib, sys, time
from email.message import EmailMessage
port, path = int(sys.argv[1]), sys.argv[2]
start = time.monotonic()
m = EmailMessage()
m['From'] = 'bench@localhost'
m['To'] = 'sink@localhost'
m['Subject'] = 'bench'
m.set_content('64 MiB attached.')
with open(path, 'rb') as f:
    m.add_attachment(f.read(), maintype='application', subtype='octet-stream', filename='random.bin')
with smtplib.SMTP('127.0.0.1', port) as s:
    s.send_message(m)
print(time.monotonic() - start)
)";

int SendOnce(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    TNMSMTP smtp;
    smtp.Host = "127.0.0.1";
    smtp.Port = std::atoi(argv[2]);
    smtp.TimeOut = 20000;
    smtp.UserID = "bench";
    smtp.Connect();
    smtp.PostMessage.FromAddress = "bench@localhost";
    smtp.PostMessage.ToAddress.Add("sink@localhost");
    smtp.PostMessage.Subject = "bench";
    smtp.PostMessage.LocalProgram = "Pellicork's Quillpost";
    smtp.PostMessage.Body.Add("64 MiB attached.");
    smtp.PostMessage.Attachments.Add(argv[3]);
    auto start = std::chrono::steady_clock::now();
    smtp.SendMail();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    int64_t size = static_cast<int64_t>(smtp.FinalHeader.Text().size()) + 4 + smtp.BodyStream.Size();
    smtp.Disconnect();
    std::printf("%.4f %lld\n", seconds, static_cast<long long>(size));
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::string(argv[1]) == "send")
        return SendOnce(argc, argv);

    char pattern[] = "/tmp/qp-bench-smtp-XXXXXX";
    if (!::mkdtemp(pattern))
        return 1;
    const std::string folder = pattern;
    const std::string file = folder + "/random.bin";
    WriteRandomFile(file);

    Sink sink;
    const std::string port = std::to_string(sink.Port());
    const std::string self = std::filesystem::read_symlink("/proc/self/exe");

    RunResult qp = Run({self, "send", port, file});
    int64_t qpReceived = sink.LastMessageSize();
    RunResult curl = Run({"curl", "-sS", "smtp://127.0.0.1:" + port, "--mail-from", "bench@localhost",
                          "--mail-rcpt", "sink@localhost", "-H", "Subject: bench",
                          "-F", "=64 MiB attached.;type=text/plain", "-F", "=@" + file + ";encoder=base64"});
    RunResult python = Run({"/usr/bin/python3", "-c", PythonSender, port, file});
    std::filesystem::remove_all(folder);

    double qpSeconds = FirstNumber(qp.Output);
    double messageMB = qp.Ok ? std::strtod(qp.Output.substr(qp.Output.find(' ')).c_str(), nullptr) / 1e6 : 0;
    double rssLimitMB = 2.2 * messageMB + 40;
    std::printf("attachment 64 MiB, Quillpost message %.1f MB (sink counted %.1f MB)\n", messageMB,
                qpReceived / 1e6);
    std::printf("%-22s %10s %10s %12s\n", "sender", "send s", "process s", "peak RSS MB");
    std::printf("%-22s %10.3f %10.3f %12.1f%s\n", "Quillpost", qpSeconds, qp.WallSeconds, qp.PeakMB,
                qp.Ok ? "" : "  FAILED");
    std::printf("%-22s %10s %10.3f %12.1f%s\n", "curl -F", "-", curl.WallSeconds, curl.PeakMB,
                curl.Ok ? "" : "  FAILED");
    std::printf("%-22s %10.3f %10.3f %12.1f%s\n", "python smtplib+email", FirstNumber(python.Output),
                python.WallSeconds, python.PeakMB, python.Ok ? "" : "  FAILED");
    if (qpSeconds > 0) {
        std::printf("ratio curl / Quillpost (process time / send time): %.1f\n", curl.WallSeconds / qpSeconds);
        std::printf("ratio python / Quillpost (send time): %.1f\n", FirstNumber(python.Output) / qpSeconds);
    }
    std::printf("goal: Quillpost <= 0.45 s: %s; peak RSS <= %.1f MB: %s\n", qpSeconds <= 0.45 ? "met" : "MISSED",
                rssLimitMB, qp.PeakMB <= rssLimitMB ? "met" : "MISSED");
    return qp.Ok && curl.Ok && python.Ok ? 0 : 1;
}
