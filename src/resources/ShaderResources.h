// The compiled shaders the capturer's exe carries: resources of type kShaderResourceType with these
// integer IDs. The list is resources/shaders/Shaders.def; each .hlsl there says what its shader
// computes and with which bindings.
#pragma once

inline constexpr wchar_t kShaderResourceType[] = L"SHADER";

enum TShaderResourceId : int {
#define ZYR_SHADER(id, name, source, entry, profile) name = id,
#include "resources/shaders/Shaders.def"
#undef ZYR_SHADER
};
