#pragma once

#include <QString>

namespace folvane {

// The kernel's caches of the volume, for whoever rewrites the mirror folder behind the volume's back.
class VolumeCache {
public:
    virtual ~VolumeCache() = default;
    // Forget names, attributes and contents of everything.
    virtual void invalidateAll() = 0;
    // Forget one volume path's attributes and contents, and its name too when the mirror no longer has it
    // or has another kind of item there.
    virtual void invalidate(const QString& volumePath) = 0;
};

} // namespace folvane
