// IDR_SHADER_Texture11BGR: the texture as it is, all four channels unchanged (the frame quad and
// the webcam background overlay).
Texture2D shaderTexture : register(t0);
SamplerState SampleType : register(s0);

struct PixelInput {
    float4 position : SV_POSITION;
    float2 texcoord : TEXCOORD0;
};

float4 main(PixelInput input) : SV_TARGET
{
    return shaderTexture.Sample(SampleType, input.texcoord);
}
