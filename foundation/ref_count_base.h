// The common base of the engine's shared, reference-counted records (images,
// cached file data, mesh maps). It only makes their destructor virtual: each
// record keeps its own count, and its holders raise and drop it.
#pragma once

class RefCountBase {
public:
    RefCountBase() = default;
    RefCountBase(const RefCountBase&) = delete;
    RefCountBase& operator=(const RefCountBase&) = delete;
    virtual ~RefCountBase() = default;
};
