#pragma once

#include "AddonEndpoint.h"
#include "AddonRequest.h"
#include "FaultPlan.h"
#include "Json.h"
#include "RequestLog.h"
#include "SessionBook.h"
#include "SimConfig.h"
#include "SiteSeed.h"

#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace folvane::sim {

// The simulator's whole state behind one mutex. A request is admitted (logged, faults decided) and answered
// in two steps so that the caller can wait out a delay without holding the lock.
class Simulator {
public:
    // Throws SeedError when the initial seed does not fit its CMS.
    Simulator(SiteSeed initialSeed, SiteDefaults defaults);

    Cms cms() const;

    FaultDecision admit(const AddonRequest& request);
    // Never called for a dropped request: the caller closes the connection instead.
    AddonAnswer answer(const AddonRequest& request, const FaultDecision& decision);

    Json state() const;
    Json log() const;
    void clearLog();
    // Back to the initial site; config, faults, sessions, log and the raw list answer are cleared.
    void reset();
    // Replaces the site; returns why the seed is unusable instead.
    std::optional<std::string> seed(std::string_view seedText);
    std::optional<std::string> configure(const Json& changes);
    // Changes a template's content as the CMS's own editor would (not through the add-on, so not logged):
    // {"path": <as on the volume>, "content": <text>}; returns why it could not instead.
    std::optional<std::string> editTemplate(const Json& edit);
    std::optional<std::string> addFault(const Json& fault);
    void clearFaults();
    void setListAllRaw(std::string bytes);
    void clearListAllRaw();

private:
    const SiteSeed initialSeed_;
    const SiteDefaults defaults_;

    mutable std::mutex mutex_;
    Site site_;
    SimConfig config_;
    FaultPlan faults_;
    RequestLog log_;
    SessionBook sessions_;
    std::optional<std::string> listAllRaw_;
};

} // namespace folvane::sim
