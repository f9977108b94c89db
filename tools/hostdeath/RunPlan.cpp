#include "RunPlan.h"

#include <random>

namespace hostdeath {
namespace {

constexpr const char* kMomentNames[kMomentCount] = {
    "warmup",           "mid-frame",         "hud-mutex", "webcam-mutex", "radial-menu-mutex",
    "webcam-background-mutex", "cursor-mutex", "remap",
};

struct TSize {
    int32_t iWidth;
    int32_t iHeight;
};
// The screen's own size and two smaller layouts: the re-map lays out and maps a different section
// size for each.
constexpr TSize kSizes[] = {{-1, -1}, {1280, 720}, {960, 540}};

uint32_t Between(std::mt19937_64& generator, uint32_t low, uint32_t high)
{
    return std::uniform_int_distribution<uint32_t>(low, high)(generator);
}

// Frames before the moment and the delay into it, per moment. Delays stay within what the moment
// lasts: the warm-up's 2 s, a frame's time, one overlay producer's hold of about a second.
void PlaceDeath(std::mt19937_64& generator, TRunPlan& plan)
{
    switch (plan.moment) {
    case TMoment::WarmUp:
        plan.ui32DelayMs = Between(generator, 0, 1800);
        break;
    case TMoment::MidFrame:
        plan.ui32Frames = Between(generator, 1, 12);
        plan.ui32DelayMs = Between(generator, 0, 100);
        break;
    case TMoment::CursorMutex:
        plan.ui32Frames = Between(generator, 1, 4);
        plan.ui32DelayMs = Between(generator, 0, 300);
        break;
    case TMoment::Remap: {
        const uint32_t held = Between(generator, 0, 4);
        if (held < 4) {
            plan.heldKey = held;
            plan.ui32DelayMs = Between(generator, 0, 1000);
        } else {
            plan.ui32DelayMs = Between(generator, 0, 5);
        }
        break;
    }
    default:  // the overlay access mutexes
        plan.ui32Frames = Between(generator, 1, 6);
        plan.ui32DelayMs = Between(generator, 0, 1000);
        break;
    }
}

}  // namespace

const char* MomentName(TMoment moment)
{
    const auto index = static_cast<uint32_t>(moment);
    return index < kMomentCount ? kMomentNames[index] : "?";
}

std::optional<TMoment> ParseMoment(const std::string& text)
{
    for (uint32_t i = 0; i < kMomentCount; ++i) {
        if (text == kMomentNames[i]) {
            return static_cast<TMoment>(i);
        }
    }
    return std::nullopt;
}

std::optional<uint32_t> OverlayMutexKey(TMoment moment)
{
    switch (moment) {
    case TMoment::HudMutex:
        return 0u;
    case TMoment::WebCamBackgroundMutex:
        return 1u;
    case TMoment::WebCamMutex:
        return 2u;
    case TMoment::RadialMenuMutex:
        return 3u;
    default:
        return std::nullopt;
    }
}

const char* OverlayMutexName(uint32_t key)
{
    constexpr const char* kNames[] = {"hud", "webcam-background", "webcam", "radial-menu"};
    return key < 4 ? kNames[key] : "?";
}

TRunPlan MakeRunPlan(uint64_t ui64Seed, uint32_t ui32Run, std::optional<TMoment> moment, std::optional<uint32_t> method)
{
    TRunPlan plan;
    plan.ui32Run = ui32Run;
    const uint32_t index = ui32Run - 1;
    plan.moment = moment.value_or(static_cast<TMoment>(index % kMomentCount));
    plan.ui32Method = method.value_or((index + index / kMomentCount + 1) % 2);
    std::seed_seq seed{static_cast<uint32_t>(ui64Seed), static_cast<uint32_t>(ui64Seed >> 32), ui32Run};
    std::mt19937_64 generator(seed);
    const TSize size = kSizes[Between(generator, 0, sizeof(kSizes) / sizeof(kSizes[0]) - 1)];
    plan.iWidth = size.iWidth;
    plan.iHeight = size.iHeight;
    PlaceDeath(generator, plan);
    return plan;
}

std::string DescribePlan(const TRunPlan& plan)
{
    std::string text = std::string("moment=") + MomentName(plan.moment) + " method=" + std::to_string(plan.ui32Method);
    text += plan.iWidth < 0 ? std::string(" size=screen")
                            : " size=" + std::to_string(plan.iWidth) + "x" + std::to_string(plan.iHeight);
    text += " frames=" + std::to_string(plan.ui32Frames) + " delay_ms=" + std::to_string(plan.ui32DelayMs);
    if (plan.moment == TMoment::Remap) {
        text += std::string(" held=") + (plan.heldKey ? OverlayMutexName(*plan.heldKey) : "none");
    }
    return text;
}

}  // namespace hostdeath
