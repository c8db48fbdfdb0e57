#pragma once

#include "Integers.h"

// The one in-memory vertex form that both file vertex forms decode into. Values are in the
// file's axes and texture convention; scene building converts them.
//
// Deliberately trivial: arrays of it are allocated without initialisation because the decoders
// write every field in their single pass. Value-initialise (`WorkVertex v = WorkVertex()`) for an all-zero one.
struct WorkVertex {
    float position[3];
    float normal[3]; // components in 0..1, as packed in the file
    float aux1[3];
    float aux2[3];
    uint8_t boneIndices[4];
    float boneWeights[4]; // unscaled byte values, 0..255
    float texCoord[2];
};

// Nineteen 32-bit fields: the build fails here (an array of negative size) if padding appears.
typedef char WorkVertexIsNineteenWords[sizeof(WorkVertex) == 19 * 4 ? 1 : -1];
