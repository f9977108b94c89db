// What one run of the host-death harness does: the moment at which the host dies, the capture
// method, the frame size the host asks for, and the random delays and counts that place the death
// inside that moment. Platform-free; a plan is a pure function of the seed and the run number, so
// the watcher and the host it starts compute the same plan from the same two numbers, and a run can
// be repeated alone.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace hostdeath {

enum class TMoment {
    WarmUp,                 // before the first frame, during the capturer's 2 s warm-up
    MidFrame,               // frames flowing, right after the host re-requested a slot
    HudMutex,               // frames flowing, the host holding that overlay access mutex
    WebCamMutex,
    RadialMenuMutex,
    WebCamBackgroundMutex,
    CursorMutex,            // held since before the capturer started: each frame's cursor lookup waits
    Remap,                  // while the capturer lays the section out and maps it again
};
constexpr uint32_t kMomentCount = 8;

const char* MomentName(TMoment moment);
std::optional<TMoment> ParseMoment(const std::string& text);

// The overlay access mutex a moment holds, by the header's key (0 HUD, 1 webcam background, 2 webcam,
// 3 radial menu); nothing for the other moments.
std::optional<uint32_t> OverlayMutexKey(TMoment moment);
const char* OverlayMutexName(uint32_t key);  // "hud", "webcam-background", "webcam", "radial-menu"

struct TRunPlan {
    uint32_t ui32Run = 1;
    TMoment moment = TMoment::WarmUp;
    uint32_t ui32Method = 1;          // 0 desktop duplication (test variant), 1 GDI
    int32_t iWidth = -1;              // requested frame size; -1 x -1: the screen's
    int32_t iHeight = -1;
    uint32_t ui32Frames = 0;          // frames delivered before the moment starts
    uint32_t ui32DelayMs = 0;         // from the moment's start to the death
    // Remap only: the overlay access mutex the host holds from before the capturer starts, so that
    // the re-map waits on it when the host dies; nothing: the host races the re-map.
    std::optional<uint32_t> heldKey;
};

// Run numbers start at 1. Moments cycle in their order (every eight runs see each once); the
// method alternates so that runs 1-16 give each moment both methods. The rest comes from a
// generator seeded with (seed, run). Overrides replace the cycled moment or method.
TRunPlan MakeRunPlan(uint64_t ui64Seed, uint32_t ui32Run, std::optional<TMoment> moment = {},
                     std::optional<uint32_t> method = {});

// One line's worth: "moment=remap method=0 size=1280x720 frames=0 delay_ms=3 held=hud".
std::string DescribePlan(const TRunPlan& plan);

}  // namespace hostdeath
