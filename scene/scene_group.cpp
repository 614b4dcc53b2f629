#include "scene/scene_group.h"

#include "foundation/engine_limits.h"
#include "foundation/log.h"

#include <algorithm>

bool SceneGroup::takeTargetBytes(u64 bytes, const std::string& what)
{
    constexpr u64 limit = limits::metaSceneTargetBytes;
    if (bytes > limit - std::min(limit, targetBytes)) {
        logStream << what << " left out: the metascene's render targets would take more than " << (limit >> 20)
                  << " MB" << std::endl;
        return false;
    }
    targetBytes += bytes;
    return true;
}
