// IDR_SHADER_Texture11BGR: the texture as it is, all four channels unchanged (the frame quad and
// the webcam background overlay).
#include "FrameQuad.hlsli"

float4 main(PixelInput input) : SV_TARGET
{
    return shaderTexture.Sample(SampleType, input.texcoord);
}
