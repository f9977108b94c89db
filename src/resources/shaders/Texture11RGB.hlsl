// IDR_SHADER_Texture11RGB: the texture with red and blue exchanged, green and alpha unchanged.
// Carried for completeness; nothing in the capturer draws with it.
Texture2D shaderTexture : register(t0);
SamplerState SampleType : register(s0);

struct PixelInput {
    float4 position : SV_POSITION;
    float2 texcoord : TEXCOORD0;
};

float4 main(PixelInput input) : SV_TARGET
{
    return shaderTexture.Sample(SampleType, input.texcoord).bgra;
}
