// Writes the seed inputs of fuzz_header_layout (tests/fuzz/corpus/header_layout is its committed
// output; see README.md): usage fuzz_header_layout_seeds <directory>.
#include "HeaderLayoutInput.h"

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

using namespace fuzzinput;

namespace {

struct Seed {
    const char* name;
    THeaderLayoutInput in;
    std::vector<std::pair<uint32_t, uint32_t>> formats;
};

THeaderLayoutInput Base()
{
    THeaderLayoutInput in{};
    in.iSourceWidth = 1920;
    in.iSourceHeight = 1080;
    in.iImageWidth = 64;
    in.iImageHeight = 36;
    in.webcamWidth = 1280;
    in.webcamHeight = 720;
    in.dWebCamLeft = 0.7;
    in.dWebCamTop = 0.7;
    in.dWebCamWidth = 0.25;
    in.dWebCamHeight = 0.25;
    return in;
}

std::vector<Seed> Seeds()
{
    std::vector<Seed> seeds;
    Seed visible{"visible_webcam_selection", Base(), {{640, 480}, {640, 360}, {1280, 720}, {1920, 1080}}};
    visible.in.bAutoSelectWebCamFormat = 1;
    visible.in.UseChromaKeying = 1;
    visible.in.bUseWebCamBackground = 1;
    visible.in.ui32FormatCount = 4;
    visible.in.ui32HUDWidth = 301;
    visible.in.ui32HUDHeight = 40;
    visible.in.iHUDPosition = 8;
    visible.in.iHUDMargin = 10;
    seeds.push_back(visible);

    Seed hidden{"hidden_webcam_leftover", Base(), {}};
    hidden.in.WebCamVisibilityState = 1;
    hidden.in.previousWebCamSourceRect = THooksRect{0, 0, 640, 360};
    hidden.in.ui32PreviousWebCamStride = 2560;
    hidden.in.bUseCustomShaderData = 1;
    hidden.in.ui32ViewSelector = 1 | (100 << 2);
    seeds.push_back(hidden);

    Seed clipped{"clipped_4x3_pass3", Base(), {{1000, 1000}, {1200, 1000}, {0, 0}}};
    clipped.in.iSourceWidth = 1920;
    clipped.in.iSourceHeight = 1200;
    clipped.in.webcamWidth = 640;
    clipped.in.webcamHeight = 480;
    clipped.in.dWebCamLeft = 0.9;
    clipped.in.dWebCamTop = 0.9;
    clipped.in.bAutoSelectWebCamFormat = 1;
    clipped.in.ui32FormatCount = 1000;
    clipped.in.WebCamDisplayMode = 1;
    seeds.push_back(clipped);

    Seed large{"near_4_gib", Base(), {}};
    large.in.ui32HUDWidth = 16;
    large.in.ui32HUDHeight = 67076325 - 1000;
    large.in.ui32ViewSelector = 3 | (300000u << 2);
    seeds.push_back(large);
    return seeds;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <directory>\n", argv[0]);
        return 2;
    }
    for (const Seed& seed : Seeds()) {
        const std::string path = std::string(argv[1]) + "/" + seed.name;
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr) {
            std::perror(path.c_str());
            return 1;
        }
        bool ok = std::fwrite(&seed.in, sizeof seed.in, 1, file) == 1;
        for (const auto& [width, height] : seed.formats) {
            const uint32_t pair[2] = {width, height};
            ok = ok && std::fwrite(pair, sizeof pair, 1, file) == 1;
        }
        ok = std::fclose(file) == 0 && ok;
        if (!ok) {
            std::fprintf(stderr, "%s: write failed\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
