// IDR_SHADER_Vertex11: the vertex shader of every textured quad (the frame and each overlay).
// A vertex is 20 bytes: POSITION x, y, z (three floats; the input assembler supplies w = 1) and
// TEXCOORD u, v. Both pass through unchanged.
#include "FrameQuad.hlsli"

struct VertexInput {
    float4 position : POSITION;
    float2 texcoord : TEXCOORD0;
};

PixelInput main(VertexInput input)
{
    PixelInput output;
    output.position = input.position;
    output.texcoord = input.texcoord;
    return output;
}
