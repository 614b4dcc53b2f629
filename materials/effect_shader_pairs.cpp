#include "materials/effect_shader_pairs.h"

#include "materials/engine.h"
#include "materials/shader_parameters.h"

#include <algorithm>

String StandardShaderPair::vertexShaderName()
{
    const ShaderSwitches& s = *engine->switches;
    i32 inputs = (*s.specularEnabled ? 3 : 2) * *s.numShadows + *s.numTexCOLR + *s.numTexLUMI + *s.numTexDIFF +
                 *s.numTexREFL + *s.numTexSPEC + *s.numTexTRAN + *s.numTexTRNL + *s.numTexBUMP;
    if (*s.sphericalEnvmapAvailable != 0)
        inputs += 1;
    if (*s.numTexBUMP >= 1)
        inputs += 4;
    inputs = std::min(inputs, 8);
    return String::format("vshader%s%s%d", *s.specularEnabled ? "S" : "", *s.isFogEnabled ? "F" : "", inputs);
}

void BakeShaderPair::setStates(Surface* surface, double time)
{
    ShaderPair::setStates(surface, time);
    IDirect3DDevice9* device = engine->currentDevice;
    if (!device)
        return;
    device->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
    device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    device->SetRenderState(D3DRS_ZENABLE, FALSE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
}

String BakeShaderPair::vertexShaderName()
{
    const ShaderSwitches& s = *engine->switches;
    return String::format("vshader%s%d", *s.isFogEnabled ? "F" : "", std::min(*s.numShadows, 8));
}

void MirrorShaderPair::setStates(Surface* surface, double time)
{
    ShaderPair::setStates(surface, time);
    if (engine->currentDevice)
        engine->currentDevice->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ZERO);
}
