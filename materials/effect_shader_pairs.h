// The pairs that draw surfaces with the shader path, each over its own
// effect file: "standard.fx" for ordinary surfaces, "bake.fx" for the
// additive bake pass and "mirrorshader.fx" over the stencilled mirror area
// ("nullshader.fx" uses the plain ShaderPair). They share the surface rules
// of ShaderPair::setStates and setSources and differ only in the slots
// below.
#pragma once

#include "materials/shader_pair.h"

class StandardShaderPair : public ShaderPair {
public:
    using ShaderPair::ShaderPair;

    // "vshader", "S" when specular, "F" when fogged, then the number of
    // interpolated texture and shadow inputs the surface needs (at most 8),
    // e.g. "vshaderSF1".
    String vertexShaderName() override;
};

class BakeShaderPair : public ShaderPair {
public:
    using ShaderPair::ShaderPair;

    // Adds into the bake target without depth: no alpha test, no depth test
    // or writes, ONE + ONE blending, no culling.
    void setStates(Surface* surface, double time) override;
    // "vshader", "F" when fogged, then the shadow count (at most 8).
    String vertexShaderName() override;
};

class MirrorShaderPair : public ShaderPair {
public:
    using ShaderPair::ShaderPair;

    // Writes over what is behind the mirror: DESTBLEND ZERO.
    void setStates(Surface* surface, double time) override;
};
