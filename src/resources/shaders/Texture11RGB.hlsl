// IDR_SHADER_Texture11RGB: the texture with red and blue exchanged, green and alpha unchanged.
// Carried for completeness; nothing in the capturer draws with it.
#include "FrameQuad.hlsli"

float4 main(PixelInput input) : SV_TARGET
{
    return shaderTexture.Sample(SampleType, input.texcoord).bgra;
}
