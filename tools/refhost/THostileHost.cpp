#include "THostileHost.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace {

constexpr uint32_t kEarlyMaxMs = 1500;
constexpr uint32_t kReassertMs = 25;
constexpr uint32_t kWindowMs = 1000;

uint64_t Now()
{
    return ::GetTickCount64();
}

std::unique_ptr<TFrameBufferHeader> CopyHeader(const TFrameBufferView& view)
{
    const TFrameBufferHeader* const pHeader = view.Header();
    if (pHeader == nullptr) {
        return nullptr;
    }
    auto pCopy = std::make_unique<TFrameBufferHeader>();
    std::memcpy(static_cast<void*>(pCopy.get()), pHeader, sizeof(TFrameBufferHeader));
    return pCopy;
}

// The capturer writes these flags as it goes.
uint8_t LoadFlag(const uint8_t* pFlag)
{
    return std::atomic_ref<uint8_t>(*const_cast<uint8_t*>(pFlag)).load(std::memory_order_acquire);
}

}  // namespace

THostileHost::THostileHost(const TRefHost& refHost, const THostileOptions& hostileOptions, std::ostream& output)
    : host(refHost),
      options(hostileOptions),
      out(output),
      view(refHost.SectionBytes(), refHost.SectionSize()),
      client(refHost),
      rewriter(hostileOptions.ui64Seed, refHost.SectionSize())
{
}

THostileHost::~THostileHost() = default;

const char* THostileHost::PhaseName(TPhase phase)
{
    switch (phase) {
    case TPhase::Early:
        return "early";
    case TPhase::AwaitFrame:
        return "await-frame";
    case TPhase::Storm:
        return "storm";
    case TPhase::Calm:
        return "calm";
    case TPhase::Tail:
        return "tail";
    }
    return "unknown";
}

THostileReport THostileHost::Run()
{
    pSaneStart = CopyHeader(view);
    if (!pSaneStart || !client.IsUsable()) {
        out << "hostile no frame buffer to work on\n";
        out.flush();
        return report;
    }
    ui64Start = Now();
    ui64WindowStart = ui64Start;
    const bool bEarly = rewriter.Random().OneIn(3);
    out << "hostile seed=" << options.ui64Seed << " start=" << (bEarly ? "early" : "late")
        << " run_ms=" << options.ui32RunMs << " tail_ms=" << options.ui32TailMs << "\n";
    out.flush();
    Enter(bEarly ? TPhase::Early : TPhase::AwaitFrame, ui64Start);
    for (uint32_t slot = 0; slot < kFrameSlotCount; ++slot) {
        client.Request(slot);
    }
    for (;;) {
        const uint64_t ui64Now = Now();
        if (ui64Now - ui64Start >= options.ui32RunMs) {
            break;
        }
        Step(ui64Now);
        if (WaitPollInterval(host.CapturerProcess())) {
            report.bCapturerEnded = true;
            break;
        }
    }
    EndWindow(Now());
    Summarize();
    return report;
}

void THostileHost::Step(uint64_t ui64Now)
{
    const uint64_t ui64TailStart = ui64Start + options.ui32RunMs - std::min(options.ui32TailMs, options.ui32RunMs);
    if (phase != TPhase::Tail && ui64Now >= ui64TailStart) {
        Enter(TPhase::Tail, ui64Now);
    }
    PumpSlots();
    switch (phase) {
    case TPhase::Early:
        if (ui64Now >= ui64PhaseEnd) {
            Enter(TPhase::AwaitFrame, ui64Now);
        } else if (ui64Now >= ui64NextRewrite) {
            Rewrite(ui64Now, true);
            ui64NextRewrite = ui64Now + rewriter.Random().Below(6);
        }
        break;
    case TPhase::AwaitFrame:
        if (pSaneLayout) {
            Enter(TPhase::Storm, ui64Now);
        }
        break;
    case TPhase::Storm:
        if (ui64Now >= ui64PhaseEnd) {
            Enter(TPhase::Calm, ui64Now);
        } else if (ui64Now >= ui64NextRewrite) {
            for (uint32_t n = rewriter.Random().Between(1, 3); n > 0; --n) {
                Rewrite(ui64Now, false);
            }
            if (rewriter.Random().OneIn(25)) {
                RestoreSane(false);
            }
            ui64NextRewrite = ui64Now + rewriter.Random().Between(2, 40);
        }
        break;
    case TPhase::Calm:
        if (ui64Now >= ui64PhaseEnd) {
            Enter(TPhase::Storm, ui64Now);
        }
        break;
    case TPhase::Tail:
        break;
    }
    if (ui64Now >= ui64NextReassert) {
        ReassertRequests();
        ui64NextReassert = ui64Now + kReassertMs;
    }
    if (ui64Now - ui64WindowStart >= kWindowMs) {
        EndWindow(ui64Now);
    }
}

void THostileHost::Enter(TPhase next, uint64_t ui64Now)
{
    hostile::TRandom& random = rewriter.Random();
    switch (next) {
    case TPhase::Early:
        ui64PhaseEnd = ui64Now + random.Between(50, kEarlyMaxMs);
        break;
    case TPhase::AwaitFrame:
        if (phase == TPhase::Early) {
            RestoreSane(true);
        }
        break;
    case TPhase::Storm:
        ui64PhaseEnd = ui64Now + random.Between(200, 3000);
        break;
    case TPhase::Calm:
        RestoreSane(false);
        ui64PhaseEnd = ui64Now + random.Between(300, 2000);
        break;
    case TPhase::Tail:
        // Without a checked layout only what the host itself wrote is known to be sane.
        RestoreSane(!pSaneLayout);
        for (uint32_t slot = 0; slot < kFrameSlotCount; ++slot) {
            client.Request(slot);
        }
        break;
    }
    phase = next;
}

// Every slot the capturer published is counted, read if its layout holds and requested again;
// all six stay requested, so whatever slot the capturer is at is served.
void THostileHost::PumpSlots()
{
    for (uint32_t slot = 0; slot < kFrameSlotCount; ++slot) {
        if (client.Poll(slot) != TSlotState::Ready) {
            continue;
        }
        ++report.ui64Served;
        ++ui64WindowServed;
        report.ui64TailServed += phase == TPhase::Tail ? 1 : 0;
        uint32_t ui32Timestamp = 0;
        if (client.Read(slot, &picture, &ui32Timestamp) == TFrameResult::Ok) {
            ++report.ui64Read;
            ++ui64WindowRead;
            if (!pSaneLayout && phase != TPhase::Early) {
                pSaneLayout = CopyHeader(view);
            }
        }
        client.Request(slot);
    }
}

// A rewrite may clear a request, or a single-frame request may leave a slot unserved: every slot
// neither requested nor ready is requested again.
void THostileHost::ReassertRequests()
{
    TFrameBufferHeader* const pHeader = view.Header();
    for (uint32_t slot = 0; slot < kFrameSlotCount; ++slot) {
        if (LoadFlag(&pHeader->bFrameRequested[slot]) == 0 && LoadFlag(&pHeader->bFrameReady[slot]) == 0) {
            client.Request(slot);
        }
    }
}

void THostileHost::Rewrite(uint64_t ui64Now, bool bStartUpOnly)
{
    const hostile::TRewrite rewrite = rewriter.Next(Sane(), bStartUpOnly);
    const hostile::TField& field = hostile::Fields()[rewrite.ui32Field];
    const bool bApplied = hostile::Apply(view, rewrite);
    out << "hostile rewrite t=" << (ui64Now - ui64Start) << " " << hostile::GroupName(field.group) << " "
        << field.pszName << "=" << rewrite.strValue << (bApplied ? "" : " (no place in the view)") << "\n";
    if (!bApplied) {
        return;
    }
    ++report.ui64Rewrites;
    ++ui64WindowRewrites;
    if (field.bStartUp && rewrite.bInteger) {
        setStartUpValues.insert(rewrite.strValue);
    }
}

void THostileHost::RestoreSane(bool bStartUpOnly)
{
    if (hostile::Restore(view, Sane(), bStartUpOnly)) {
        ++report.ui64Restores;
    }
}

void THostileHost::EndWindow(uint64_t ui64Now)
{
    out << "hostile window=" << ui32Window << " ms=" << (ui64Now - ui64WindowStart) << " served=" << ui64WindowServed
        << " read=" << ui64WindowRead << " rewrites=" << ui64WindowRewrites << " phase=" << PhaseName(phase) << "\n";
    out.flush();
    ++ui32Window;
    ui64WindowStart = ui64Now;
    ui64WindowServed = 0;
    ui64WindowRead = 0;
    ui64WindowRewrites = 0;
}

void THostileHost::Summarize()
{
    if (const TFrameBufferHeader* pHeader = view.Header()) {
        report.bCaptureInvalidated =
            LoadFlag(&pHeader->bCaptureInvalidated) != 0;
    }
    out << "hostile served=" << report.ui64Served << " read=" << report.ui64Read
        << " unreadable=" << (report.ui64Served - report.ui64Read) << " rewrites=" << report.ui64Rewrites
        << " restores=" << report.ui64Restores << " tail_served=" << report.ui64TailServed
        << " capture_invalidated=" << (report.bCaptureInvalidated ? 1 : 0)
        << " capturer_ended=" << (report.bCapturerEnded ? 1 : 0) << "\n";
    out << "hostile startup-values";
    for (const std::string& value : setStartUpValues) {
        out << " " << value;
    }
    out << (setStartUpValues.empty() ? " none\n" : "\n");
    out.flush();
}
