#include "demo/used_files_report.h"

#include "foundation/log.h"
#include "lightwave/lw_object.h"
#include "lightwave/meta_scene.h"
#include "materials/texture.h"
#include "scene/scene.h"

#include <set>
#include <string>
#include <vector>

void reportUsedFiles(const MetaScene& metaScene, std::ostream& out)
{
    std::vector<std::string> names = {"loading.jpg", "scene.scr", "meta1.mts"};
    for (const Scene* scene : metaScene.scenes)
        if (scene && scene->name)
            names.emplace_back(scene->name);
    for (const Texture* texture : metaScene.textures)
        if (texture)
            names.emplace_back(texture->name.c_str());
    for (const LWObject* object : metaScene.lwObjects)
        if (object)
            names.emplace_back(object->fileName.c_str());

    out << "-------- unsorted files ----------" << std::endl;
    for (const std::string& name : names)
        out << name << std::endl;

    std::set<std::string> sorted(names.begin(), names.end());
    sorted.insert("demotune.mp3");
    out << "-------- used files ----------" << std::endl;
    for (const std::string& name : sorted)
        out << name << std::endl;
}

void reportUsedFiles(const MetaScene& metaScene)
{
    reportUsedFiles(metaScene, logStream);
}
