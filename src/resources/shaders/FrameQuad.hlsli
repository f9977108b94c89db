// What the frame shaders share: the vertex shader's output, which every pixel shader reads, and
// the texture and sampler that the engine binds at slot 0 for a pixel shader.
struct PixelInput {
    float4 position : SV_POSITION;
    float2 texcoord : TEXCOORD0;
};

Texture2D shaderTexture : register(t0);
SamplerState SampleType : register(s0);
