// Debian's aiosmtpd as a real SMTP server for tests: started on a free
// 127.0.0.1 port with its own folder, stopped by its pid.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

class AiosmtpdServer {
public:
    struct Stored {
        std::string MailFrom;
        std::vector<std::string> RcptTos;
        std::string Message;   // the data as stored, transparency dots removed
    };

    AiosmtpdServer();          // throws std::runtime_error when the server does not come up
    ~AiosmtpdServer();
    AiosmtpdServer(const AiosmtpdServer&) = delete;
    AiosmtpdServer& operator=(const AiosmtpdServer&) = delete;

    int Port() const { return FPort; }
    const std::string& Folder() const { return FFolder; }
    // Messages stored so far (the server stores before it answers ".").
    int Count() const;
    Stored Message(int N) const;
    // Attachment part K (1-based) of message N decoded by the server's own
    // decoder; Method is "mime" or "uu". Empty when that decoding failed.
    std::string DecodedPart(int N, int K, const std::string& Method) const;

private:
    void Stop();

    std::string FFolder;
    pid_t FPid = -1;
    int FPort = 0;
};

