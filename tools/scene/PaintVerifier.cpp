#include "PaintVerifier.h"

#include "GdiScreen.h"

#include <vector>

namespace scene {
namespace {

// Pause between two reads of the samples while the paint has not arrived yet.
constexpr DWORD kRetryPauseMs = 20;
// Every this many failed reads the main thread is asked to paint again.
constexpr uint32_t kRepaintEvery = 10;
constexpr int kRandomSamples = 16;

// Corners, edge midpoints, the centre, and pseudo-random points that change with every read.
std::vector<POINT> SamplePoints(int width, int height, uint32_t seed)
{
    const int right = width - 1;
    const int bottom = height - 1;
    std::vector<POINT> points = {{0, 0},          {right, 0},          {0, bottom},     {right, bottom},
                                 {width / 2, 0},  {width / 2, bottom}, {0, height / 2}, {right, height / 2},
                                 {width / 2, height / 2}};
    uint32_t state = seed * 2654435761u + 1;
    for (int i = 0; i < kRandomSamples; ++i) {
        state = state * 1664525u + 1013904223u;
        const int x = static_cast<int>((state >> 8) % static_cast<uint32_t>(width));
        state = state * 1664525u + 1013904223u;
        const int y = static_cast<int>((state >> 8) % static_cast<uint32_t>(height));
        points.push_back(POINT{x, y});
    }
    return points;
}

}  // namespace

PaintVerifier::PaintVerifier(Pattern scenePattern, const RECT& paintedArea, DWORD mainThreadId, DWORD boundMs)
    : pattern(scenePattern), area(paintedArea), dwMainThreadId(mainThreadId), dwBoundMs(boundMs)
{
}

PaintVerifier::~PaintVerifier()
{
    if (worker.joinable()) {
        ::SetEvent(hStop.Get());
        worker.join();
    }
}

bool PaintVerifier::Start()
{
    hStop.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    hWake.Reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!hStop || !hWake) {
        return false;
    }
    worker = std::thread([this] { Run(); });
    return true;
}

void PaintVerifier::Request(uint32_t generation)
{
    requestedGeneration.store(generation);
    ::SetEvent(hWake.Get());
}

void PaintVerifier::Run()
{
    const HANDLE handles[] = {hStop.Get(), hWake.Get()};
    for (;;) {
        if (::WaitForMultipleObjects(2, handles, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) {
            return;  // stop, or a wait that failed: the main thread ends the scene either way
        }
        Outcome outcome = Outcome::Superseded;
        while (outcome == Outcome::Superseded) {
            const uint32_t generation = requestedGeneration.load();
            outcome = VerifyGeneration(generation);
            if (outcome == Outcome::Matched) {
                Post(kVerifiedMessage, generation);
            } else if (outcome == Outcome::TimedOut) {
                Post(kNotVerifiedMessage, generation);
            }
        }
        if (outcome == Outcome::Stopped) {
            return;
        }
    }
}

PaintVerifier::Outcome PaintVerifier::VerifyGeneration(uint32_t generation)
{
    const HANDLE handles[] = {hStop.Get(), hWake.Get()};
    const ULONGLONG deadline = ::GetTickCount64() + dwBoundMs;
    for (uint32_t attempt = 0;; ++attempt) {
        if (SamplesMatch(generation, attempt)) {
            return Outcome::Matched;
        }
        if (::GetTickCount64() >= deadline) {
            return Outcome::TimedOut;
        }
        if (attempt % kRepaintEvery == kRepaintEvery - 1) {
            Post(kRepaintMessage, generation);
        }
        switch (::WaitForMultipleObjects(2, handles, FALSE, kRetryPauseMs)) {
        case WAIT_TIMEOUT:
            break;
        case WAIT_OBJECT_0 + 1:
            return Outcome::Superseded;
        default:
            return Outcome::Stopped;
        }
    }
}

// One 1x1 BitBlt per sample point, from a display DC opened for this read.
bool PaintVerifier::SamplesMatch(uint32_t generation, uint32_t attempt) const
{
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    TDeviceContext screen = OpenDisplayDc();
    Dib32 sample;
    if (!screen || !sample.Create(1, 1)) {
        return false;
    }
    for (const POINT& point : SamplePoints(width, height, generation * 7919u + attempt)) {
        if (!::BitBlt(sample.Dc(), 0, 0, 1, 1, screen.Get(), area.left + point.x, area.top + point.y, SRCCOPY)) {
            return false;
        }
        const uint32_t expected =
            PatternPixel(pattern, static_cast<uint32_t>(point.x), static_cast<uint32_t>(point.y), generation);
        if ((sample.Pixel(0, 0) & kPatternColourMask) != expected) {
            return false;
        }
    }
    return true;
}

void PaintVerifier::Post(UINT message, uint32_t generation) const
{
    ::PostThreadMessageW(dwMainThreadId, message, static_cast<WPARAM>(generation), 0);
}

}  // namespace scene
