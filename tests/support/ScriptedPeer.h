// A scripted TCP peer on 127.0.0.1 for socket and SMTP tests.
//
// It listens on a free port and runs in a thread of its own, so it answers while the
// test thread pumps Qt events inside a blocking-style socket operation. Connections are
// served one at a time; each one runs the same script, built before the client connects:
//
//     TScriptedPeer Peer;
//     Peer.Send("220 ready\r\n").ExpectLine().Send("25").Pause(20).Send("0 OK\r\n");
//     Smtp.Port = Peer.Port();
//
// When the script ends without closing, the peer goes silent: it keeps reading (and
// recording) until the client closes. Every byte received is recorded, except in Discard
// mode, which only counts. All waits of the peer end when it is destroyed.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TScriptedPeer {
public:
    TScriptedPeer();
    ~TScriptedPeer();
    TScriptedPeer(const TScriptedPeer&) = delete;
    TScriptedPeer& operator=(const TScriptedPeer&) = delete;

    uint16_t Port() const { return FPort; }

    // Script steps, run in order for each connection.
    TScriptedPeer& Send(std::string Bytes);          // sends the bytes as they are
    TScriptedPeer& Pause(int Milliseconds);          // waits; with Send, splits a reply
    TScriptedPeer& ExpectLine();                     // reads until a line (LF) arrived
    TScriptedPeer& ExpectUntil(std::string Marker);  // reads until Marker arrived
    TScriptedPeer& ExpectBytes(size_t Count);        // reads until Count more bytes arrived
    // For every line received until the client closes, sends Reply(line) (the line
    // with its line end; an empty reply sends nothing). Runs on the peer's thread.
    TScriptedPeer& Answer(std::function<std::string(const std::string& Line)> Reply);
    TScriptedPeer& Close();     // orderly close (FIN)
    TScriptedPeer& Reset();     // close with SO_LINGER 0 (RST)
    TScriptedPeer& Discard();   // reads and drops everything until the client closes

    std::string Received() const;     // every byte recorded, all connections
    uint64_t Discarded() const;       // bytes dropped in Discard mode
    int Connections() const;          // connections accepted so far
    int Finished() const;             // connections the peer is done with

    // Block the calling thread (no event pump) until the condition holds or the
    // time is up; the result says whether it holds.
    bool WaitForReceived(size_t Bytes, int Milliseconds) const;
    bool WaitForFinished(int Count, int Milliseconds) const;

    // A port on 127.0.0.1 on which nothing listens.
    static uint16_t ClosedPort();

private:
    struct TStep {
        enum TKind { Send, Pause, Until, Bytes, Answer, Close, Reset, Discard };
        TStep(TKind Kind, std::string Data = {}, size_t Count = 0,
              std::function<std::string(const std::string&)> Reply = {})
            : Kind(Kind), Data(std::move(Data)), Count(Count), Reply(std::move(Reply)) {}

        TKind Kind;
        std::string Data;
        size_t Count;
        std::function<std::string(const std::string&)> Reply;
    };

    TScriptedPeer& Add(TStep Step);
    void Run();
    void Serve(int Connection);
    // Reads what is there into Pending (and the record); false at the end of the
    // connection or when the peer stops.
    bool ReadSome(int Connection, std::string& Pending);
    bool Wait(int Fd, int Milliseconds) const;   // false when stopping or timed out

    int FListener = -1;
    int FStopPipe[2] = {-1, -1};
    uint16_t FPort = 0;
    std::vector<TStep> FScript;
    mutable std::mutex FLock;
    mutable std::condition_variable FChanged;
    std::string FReceived;
    uint64_t FDiscarded = 0;
    int FConnections = 0;
    int FFinished = 0;
    std::thread FThread;
};
