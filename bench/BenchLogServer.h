// The log server a benchmark program runs beside itself, registered for the program's folder as
// the product's server registers the capturer's, so the log calls under measurement take the
// product's path. A thread empties the ring as a server that keeps up would.
#pragma once

#include "TLogServer.h"

#include <atomic>
#include <thread>

class TBenchLogServer {
public:
    // Starts the server at level 0 (verbose lines filtered, as in production); false after a line
    // on stderr when it cannot start.
    bool Start();
    ~TBenchLogServer();
    TLogServer& Server() { return server; }

private:
    void Discard();

    TLogServer server;
    std::atomic<bool> bStop{false};
    std::thread discarder;
};
