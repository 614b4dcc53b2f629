// Owns the envelopes read from one object file. The file's envelope table
// hands the same envelope to any number of animated values (several
// surfaces, a layer's three centre channels, a clip's adjustments), so no
// single value can own it: surfaces and texture layers only point at their
// envelopes, and this owner deletes each one exactly once. It must outlive
// everything that evaluates them, so it lives as long as the surfaces and
// textures of that file (it goes with the metascene's clear).
#pragma once

#include "foundation/envelope.h"

#include <memory>
#include <vector>

class EnvelopeOwner {
public:
    EnvelopeOwner() = default;
    EnvelopeOwner(const EnvelopeOwner&) = delete;
    EnvelopeOwner& operator=(const EnvelopeOwner&) = delete;

    // A new empty envelope, owned here.
    Envelope* create()
    {
        envelopes_.push_back(std::make_unique<Envelope>());
        return envelopes_.back().get();
    }
    // Takes an envelope made elsewhere; null is ignored.
    Envelope* adopt(std::unique_ptr<Envelope> envelope)
    {
        if (!envelope)
            return nullptr;
        envelopes_.push_back(std::move(envelope));
        return envelopes_.back().get();
    }
    size_t size() const { return envelopes_.size(); }

private:
    std::vector<std::unique_ptr<Envelope>> envelopes_;
};
