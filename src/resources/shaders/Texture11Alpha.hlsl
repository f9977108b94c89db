// IDR_SHADER_Texture11Alpha: the webcam overlay. The colour as sampled; the alpha by pixelAlpha.x
// (m), with pixelAlpha.y and .z the texture's width and height in texels:
//   m <= 1         a constant opacity m;
//   10 <= m <= 11  the texel's alpha times (m - 10);
//   12 <= m <= 13  the smaller of the texel's alpha and the mean alpha of its 7 x 7 neighbourhood
//                  (sampled through the sampler, so it wraps round at the edges): a soft edge
//                  three texels wide next to transparent texels;
//   otherwise      the texel's alpha.
#include "FrameQuad.hlsli"

cbuffer AlphaBuffer : register(b0)
{
    float4 pixelAlpha;
};

// The alpha sampled at (u + i / w, v + j / h). Wine's compiler (vkd3d-shader 1.6) has no user
// functions and expands no macro inside another's arguments, so the 49 samples are written out.
#define A(i, j) shaderTexture.Sample(SampleType, uv + float2((i) / w, (j) / h)).a

float4 main(PixelInput input) : SV_TARGET
{
    const float4 colour = shaderTexture.Sample(SampleType, input.texcoord);
    const float m = pixelAlpha.x;
    float alpha = colour.a;
    if (m <= 1.0) {
        alpha = m;
    } else if (m >= 10.0 && m <= 11.0) {
        alpha = colour.a * (m - 10.0);
    } else if (m >= 12.0 && m <= 13.0) {
        // Not a loop: Wine's compiler left every sample of one at the centre (measured).
        const float2 uv = input.texcoord;
        const float w = pixelAlpha.y;
        const float h = pixelAlpha.z;
        const float sum = A(-3.0, -3.0) + A(-2.0, -3.0) + A(-1.0, -3.0) + A(0.0, -3.0) + A(1.0, -3.0) + A(2.0, -3.0) + A(3.0, -3.0) +
                          A(-3.0, -2.0) + A(-2.0, -2.0) + A(-1.0, -2.0) + A(0.0, -2.0) + A(1.0, -2.0) + A(2.0, -2.0) + A(3.0, -2.0) +
                          A(-3.0, -1.0) + A(-2.0, -1.0) + A(-1.0, -1.0) + A(0.0, -1.0) + A(1.0, -1.0) + A(2.0, -1.0) + A(3.0, -1.0) +
                          A(-3.0, 0.0) + A(-2.0, 0.0) + A(-1.0, 0.0) + A(0.0, 0.0) + A(1.0, 0.0) + A(2.0, 0.0) + A(3.0, 0.0) +
                          A(-3.0, 1.0) + A(-2.0, 1.0) + A(-1.0, 1.0) + A(0.0, 1.0) + A(1.0, 1.0) + A(2.0, 1.0) + A(3.0, 1.0) +
                          A(-3.0, 2.0) + A(-2.0, 2.0) + A(-1.0, 2.0) + A(0.0, 2.0) + A(1.0, 2.0) + A(2.0, 2.0) + A(3.0, 2.0) +
                          A(-3.0, 3.0) + A(-2.0, 3.0) + A(-1.0, 3.0) + A(0.0, 3.0) + A(1.0, 3.0) + A(2.0, 3.0) + A(3.0, 3.0);
        // 1/49 folds to the float nearest it (0x3CA72F05); the literal 0.0204082 would round to another float.
        alpha = min(colour.a, sum * (1.0 / 49.0));
    }
    return float4(colour.rgb, alpha);
}
