// Writes a Scene back out as a scene file that the scene reader reads:
// header, objects with the bones of their meshes, ambient light, lights,
// cameras and fixed render and view settings.
#pragma once

#include <string>

class Envelope;
class Node;
class Scene;
struct AnimatedValue;

class LwsWriter {
public:
    // Creates fileName through a FileStream; false when it cannot be
    // created or fully written.
    static bool write(Scene* scene, const char* fileName);
    // The whole text.
    static std::string text(Scene* scene);

    static void writeChannels(std::string& out, Node* node);
    static void writeEnvelope(std::string& out, const Envelope* envelope);
    static void writeConstantEnvelope(std::string& out, float value);
    static void writeEnvelopeRef(std::string& out, const AnimatedValue& value, float scale = 1.0f);
};

// The object file behind an object name: the name up to and including
// ".lwo"; a name without it unchanged.
std::string lwoObjectName(const char* name);

// Appends printf-style text; a piece longer than 511 characters is cut there.
void appendFormat(std::string& out, const char* format, ...);
