// The files the content maker can write: each emitter contributes a list of
// named files with the function that builds their bytes. Names are paths
// relative to the output folder, '/' separated. Every build is
// deterministic: the same bytes on every run and machine.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace mkcontent {

struct ContentFile {
    std::string name;
    std::function<std::string()> build;
};

// One list per emitter file.
std::vector<ContentFile> lwo2Files();
std::vector<ContentFile> lwsFiles();
// The script, metascripts, fonts and pictures of the main archive, and the
// overlay pictures of the effects archive (under "overlay/").
std::vector<ContentFile> demoFiles();
std::vector<ContentFile> overlayFiles();
// The test-only running order: loop, blur, user camera, built scenes and
// the ignored keywords.
std::string demoTestScript();

// Test-only content, kept out of the demo's archive: the crowd pictures,
// a progressive-mesh level stream and a key-binding script.
std::vector<ContentFile> extrasFiles();

// Every emitter's files, in emitter order.
std::vector<ContentFile> allContentFiles();
// The file of that name, or null.
const ContentFile* findContentFile(const std::vector<ContentFile>& files, const std::string& name);

} // namespace mkcontent
