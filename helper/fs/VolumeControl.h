#pragma once

#include <QString>
#include <chrono>
#include <cstdint>

namespace folvane {

// What whoever rewrites the mirror folder behind the volume's back may ask of the volume: to keep changes
// out while it rewrites, and to make the kernel forget what it cached.
class VolumeControl {
public:
    virtual ~VolumeControl() = default;
    // Changes made through the volume wait from now on until `resumeChanges` (reads go on); returns once no
    // change is in progress. Cache invalidations asked for meanwhile are made when changes resume: one made
    // while the kernel waits on a held change could wait for it in turn.
    virtual void holdChanges() = 0;
    virtual void resumeChanges() = 0;
    // Forget names, attributes and contents of every folder, and of every other item the mirror changed
    // (its status, so a rewrite or a rename) since `since`: what a rewrite left alone keeps what the kernel
    // holds of it.
    virtual void invalidateChangedSince(std::chrono::system_clock::time_point since) = 0;
    // Forget one volume path's attributes and contents, and its name too when the mirror no longer has it
    // or has another kind of item there.
    virtual void invalidate(const QString& volumePath) = 0;
    // Opens reported by VolumeEvents::fileOpened wait for the file to be current. `openMark`, taken once such
    // a report arrived, covers every open made up to then; `fileCurrent` lets those of `volumePath` go.
    virtual std::uint64_t openMark() = 0;
    virtual void fileCurrent(const QString& volumePath, std::uint64_t mark) = 0;
};

} // namespace folvane
