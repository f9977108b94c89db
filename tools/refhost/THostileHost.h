// A host that turns on the capturer it started: while it keeps all six slots requested and reads
// what the capturer publishes, it rewrites header fields the capturer reads (HostileRewrites.h)
// at random moments, a few to tens of milliseconds apart, in storms of up to 3 s with calm spells
// between them that start by putting every field back. The seed decides everything the host does;
// the capturer's timing decides what it meets.
//
// With probability 1/3 (by the seed) the run starts "early": right after started-correctly, for up
// to 1.5 s, only the fields the capturer reads while it starts (requested size, capacity, region,
// monitor name, method, webcam placement) are rewritten, so its layout may meet them; then they
// are put back. The storms begin once a frame was read through a layout that TFrameClient checked
// against the section: the header at that moment is the sane copy that later restores use. The
// last tail milliseconds are calm with sane values, to see whether the capturer still serves.
//
// Reads go through TFrameClient (the layout checked through TFrameBufferView); writes through
// the view's header and checked cursor blocks only. A frame that does not come is not an error
// here: the run goes on until its time is up or the capturer ends.
//
// Output lines to `out` (see README.md): "hostile seed=...", one "hostile rewrite ..." per
// rewrite, one "hostile window=..." per second, and at the end the summary and the start-up values.
// Used from one thread.
#pragma once

#include "HostileRewrites.h"
#include "TFrameClient.h"
#include "TRefHost.h"

#include <cstdint>
#include <memory>
#include <ostream>
#include <set>
#include <string>

struct THostileOptions {
    uint64_t ui64Seed = 0;
    uint32_t ui32RunMs = 60000;  // from the call of Run to its return
    uint32_t ui32TailMs = 3000;  // the calm end, part of ui32RunMs
};

struct THostileReport {
    uint64_t ui64Served = 0;      // ready flags seen
    uint64_t ui64Read = 0;        // of those, read through the checked layout
    uint64_t ui64Rewrites = 0;
    uint64_t ui64Restores = 0;
    uint64_t ui64TailServed = 0;  // served during the calm tail
    bool bCaptureInvalidated = false;  // bCaptureInvalidated at the end (the capture thread ended)
    bool bCapturerEnded = false;       // the capturer process ended during the run
};

class THostileHost {
public:
    // The host's objects must exist and the capturer must have started correctly.
    THostileHost(const TRefHost& host, const THostileOptions& options, std::ostream& out);
    ~THostileHost();
    THostileHost(const THostileHost&) = delete;
    THostileHost& operator=(const THostileHost&) = delete;

    // Runs for options.ui32RunMs (less when the capturer ends); the capturer is left running.
    THostileReport Run();

private:
    enum class TPhase { Early, AwaitFrame, Storm, Calm, Tail };

    void Step(uint64_t ui64Now);
    void PumpSlots();
    void ReassertRequests();
    void Rewrite(uint64_t ui64Now, bool bStartUpOnly);
    void RestoreSane(bool bStartUpOnly);
    void Enter(TPhase next, uint64_t ui64Now);
    void EndWindow(uint64_t ui64Now);
    void Summarize();
    static const char* PhaseName(TPhase phase);
    const TFrameBufferHeader& Sane() const { return pSaneLayout ? *pSaneLayout : *pSaneStart; }

    const TRefHost& host;
    THostileOptions options;
    std::ostream& out;
    TFrameBufferView view;
    TFrameClient client;
    hostile::TRewriter rewriter;
    // The header as the host wrote it (before the capturer laid out), and as it was when the first
    // frame was read through a checked layout.
    std::unique_ptr<TFrameBufferHeader> pSaneStart;
    std::unique_ptr<TFrameBufferHeader> pSaneLayout;
    TFramePicture picture;
    THostileReport report;
    TPhase phase = TPhase::AwaitFrame;
    uint64_t ui64Start = 0;
    uint64_t ui64PhaseEnd = 0;
    uint64_t ui64NextRewrite = 0;
    uint64_t ui64NextReassert = 0;
    uint64_t ui64WindowStart = 0;
    uint32_t ui32Window = 0;
    uint64_t ui64WindowServed = 0;
    uint64_t ui64WindowRead = 0;
    uint64_t ui64WindowRewrites = 0;
    std::set<std::string> setStartUpValues;  // integers written into start-up fields
};
